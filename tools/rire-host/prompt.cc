#include "tools/rire-host/prompt.h"

#include <editline/readline.h>

#include <cstdlib>

namespace rire_host {

Prompt::Prompt(std::filesystem::path history_file) : history_file_(std::move(history_file)) {
    using_history();
    stifle_history(kHistoryLines);
    read_history(history_file_.c_str());
}

Prompt::~Prompt() {
    write_history(history_file_.c_str());
}

std::optional<std::string> Prompt::read(const char *prompt) {
    char *line = readline(prompt);
    if (line == nullptr)
        return std::nullopt;
    std::string text = line;
    std::free(line);
    if (text.find_first_not_of(" \t") != std::string::npos)
        add_history(text.c_str());
    return text;
}

std::filesystem::path history_file(const std::filesystem::path &state_dir) {
    const char *home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) / ".rire_host_history"
                         : state_dir / "history";
}

} // namespace rire_host
