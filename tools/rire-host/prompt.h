// The interactive prompt of rire-host: lines typed on a terminal, with line
// editing and a history kept across runs (libedit).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace rire_host {

class Prompt {
  public:
    // Loads the history from `history_file`, which is written back, trimmed
    // to the last kHistoryLines lines, when the prompt ends.
    explicit Prompt(std::filesystem::path history_file);
    ~Prompt();
    Prompt(const Prompt &) = delete;
    Prompt &operator=(const Prompt &) = delete;

    // The next line typed, without its line end; nothing at end of input.
    std::optional<std::string> read(const char *prompt);

    static constexpr int kHistoryLines = 1000;

  private:
    std::filesystem::path history_file_;
};

// Where the prompt keeps its history: $HOME/.rire_host_history, or the
// state directory when there is no HOME.
std::filesystem::path history_file(const std::filesystem::path &state_dir);

} // namespace rire_host
