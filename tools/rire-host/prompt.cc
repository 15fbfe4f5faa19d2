#include "tools/rire-host/prompt.h"

#include <editline/readline.h>

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
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
sigset_t g_waiting_mask; // the signal mask while waiting for a key: SIGINT let through

void on_interrupt(int) {
    g_interrupted = 1;
}

// The line editor's key reader. SIGINT stays blocked while the editor works
// and is let through only inside pselect(), atomically, so a ctrl-C is never
// lost between two reads: it ends the wait, and the reader answers end of
// input, which readline() tells apart from ctrl-D by g_interrupted.
int read_key(FILE *in) {
    const int fd = fileno(in);
    for (;;) {
        if (g_interrupted)
            return EOF;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        if (pselect(fd + 1, &readable, nullptr, nullptr, nullptr, &g_waiting_mask) < 0) {
            if (errno == EINTR)
                continue;
            return EOF;
        }
        unsigned char key;
        const ssize_t n = ::read(fd, &key, 1);
        if (n == 1)
            return key;
        if (n < 0 && errno == EINTR)
            continue;
        return EOF;
    }
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
    rl_getc_function = read_key;
    rl_catch_signals = 0; // SIGINT is this prompt's, not the line editor's
    rl_basic_word_break_characters = " \t";
    using_history();
    stifle_history(kHistoryLines);
    read_history(history_file_.c_str());
}

Prompt::~Prompt() {
    g_completer = nullptr;
}

std::optional<std::string> Prompt::read(const char *prompt) {
    // SIGINT is blocked but while read_key() waits (see there).
    struct sigaction interrupt = {}, before = {};
    interrupt.sa_handler = on_interrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, &before);
    sigset_t interrupt_only, mask_before;
    sigemptyset(&interrupt_only);
    sigaddset(&interrupt_only, SIGINT);
    sigprocmask(SIG_BLOCK, &interrupt_only, &mask_before);
    g_waiting_mask = mask_before;
    sigdelset(&g_waiting_mask, SIGINT);
    char *line = nullptr;
    for (;;) {
        g_interrupted = 0;
        line = readline(prompt);
        if (line != nullptr || !g_interrupted)
            break;
        std::fputs("\n", stdout); // the dropped line stays on screen, as typed
        std::fflush(stdout);
    }
    sigprocmask(SIG_SETMASK, &mask_before, nullptr);
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
