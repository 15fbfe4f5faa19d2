// The interactive prompt of rire-host: lines typed on a terminal, with line
// editing, Tab completion and a history kept across runs (libedit).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rire_host {

class Prompt {
  public:
    // The words Tab may complete the last word of the line before the cursor to.
    using Completer = std::function<std::vector<std::string>(const std::string &before)>;

    // Loads the history from `history_file`; every line entered is written
    // back at once, trimmed to the last kHistoryLines lines, so that a
    // process that is killed keeps what was typed.
    Prompt(std::filesystem::path history_file, Completer completer);
    ~Prompt();
    Prompt(const Prompt &) = delete;
    Prompt &operator=(const Prompt &) = delete;

    // The next line typed, without its line end; nothing at end of input.
    // Ctrl-C drops the line being typed and asks again, as a shell does; at
    // any other time (a command running) it ends the process.
    std::optional<std::string> read(const char *prompt);

    static constexpr int kHistoryLines = 1000;

  private:
    std::filesystem::path history_file_;
};

// Where the prompt keeps its history: $HOME/.rire_host_history, or the
// state directory when there is no HOME.
std::filesystem::path history_file(const std::filesystem::path &state_dir);

} // namespace rire_host
