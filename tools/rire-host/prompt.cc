#include "tools/rire-host/prompt.h"

#include <editline/readline.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rire_host {
namespace {

// libedit's callbacks take no context: the one prompt's completer.
Prompt::Completer g_completer;
std::vector<std::string> g_matches;

volatile sig_atomic_t g_interrupted = 0;

void on_interrupt(int) {
    g_interrupted = 1;
}

char *next_match(const char *, int state) {
    static size_t next;
    if (state == 0)
        next = 0;
    return next < g_matches.size() ? strdup(g_matches[next++].c_str()) : nullptr;
}

char **complete(const char *text, int, int) {
    rl_attempted_completion_over = 1; // never file names
    g_matches = g_completer(std::string(rl_line_buffer, rl_point));
    // An argument key goes on with its value, not a blank.
    const bool key = !g_matches.empty() && g_matches.size() == 1 && g_matches[0].ends_with("=");
    rl_completion_append_character = key ? '\0' : ' ';
    return g_matches.empty() ? nullptr : rl_completion_matches(text, next_match);
}

} // namespace

Prompt::Prompt(std::filesystem::path history_file, Completer completer)
    : history_file_(std::move(history_file)) {
    g_completer = std::move(completer);
    rl_attempted_completion_function = complete;
    rl_basic_word_break_characters = " \t";
    using_history();
    stifle_history(kHistoryLines);
    read_history(history_file_.c_str());
}

Prompt::~Prompt() {
    g_completer = nullptr;
}

std::optional<std::string> Prompt::read(const char *prompt) {
    // SIGINT interrupts the terminal read (no SA_RESTART): readline returns
    // no line, and the flag tells that apart from end of input.
    struct sigaction interrupt = {}, before = {};
    interrupt.sa_handler = on_interrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, &before);
    char *line = nullptr;
    for (;;) {
        g_interrupted = 0;
        line = readline(prompt);
        if (line != nullptr || !g_interrupted)
            break;
        std::fputs("\n", stdout); // the dropped line stays on screen, as typed
        std::fflush(stdout);
    }
    sigaction(SIGINT, &before, nullptr);
    if (line == nullptr)
        return std::nullopt;
    std::string text = line;
    std::free(line);
    if (text.find_first_not_of(" \t") != std::string::npos) {
        add_history(text.c_str());
        write_history(history_file_.c_str());
    }
    return text;
}

std::filesystem::path history_file(const std::filesystem::path &state_dir) {
    const char *home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) / ".rire_host_history"
                         : state_dir / "history";
}

} // namespace rire_host
