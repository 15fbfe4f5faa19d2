#include "tools/rire-host/check.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/rire-host/output.h"

namespace rire_host::transcript {
namespace {

// A part that died of SIGKILL (the fault pss.commit.kill): its last output
// line; the next part goes on from what the store kept.
constexpr int kKilled = 128 + SIGKILL;
constexpr const char *kKilledLine = "[killed]";
constexpr const char *kDirective = "#!";
constexpr const char *kIndent = "  ";
constexpr const char *kEcho = "rire# ";
constexpr size_t kContext = 3;
constexpr const char *kStateWord = "$STATE";

enum class Kind { kComment, kCommand, kNewProcess, kOutput };

Kind classify(const std::string &line) {
    if (line.starts_with(kIndent))
        return Kind::kOutput;
    if (line == kNewProcess)
        return Kind::kNewProcess;
    const size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos || line[first] == '#' ? Kind::kComment : Kind::kCommand;
}

std::vector<std::string> read_lines(std::istream &in) {
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

// The "#!" lines of the file; the first that is no directive is reported
// and ends the reading.
Directives read_directives(const std::vector<std::string> &lines) {
    Directives d;
    for (size_t i = 0; i < lines.size() && d.error.empty(); i++) {
        if (!lines[i].starts_with(kDirective))
            continue;
        std::istringstream words(lines[i].substr(std::strlen(kDirective)));
        std::string word, extra;
        int status = -1;
        words >> word;
        if (word == "strict" && !(words >> extra))
            d.strict = true;
        else if (word == "exit" && words >> status && status >= 0 && status <= 255 &&
                 !(words >> extra))
            d.exit = status;
        else {
            d.error_line = static_cast<int>(i + 1);
            d.error = "no such directive: " + lines[i] + " (\"#! strict\", \"#! exit N\")";
        }
    }
    return d;
}

// Where output goes: under a command or a "%% new process" line, or, for
// the first process's boot, at `at` (-1: the file start; its place is found
// when the file is written).
struct Slot {
    int anchor;
    std::vector<std::string> expected;
    std::vector<std::string> actual;
    int first_expected = -1; // line of the first expected output line
};

struct Part {
    std::vector<Slot> slots; // the boot, then one per command
};

std::vector<Part> parse(const std::vector<std::string> &lines) {
    std::vector<Part> parts(1);
    parts[0].slots.push_back({-1, {}, {}, -1});
    for (int i = 0; i < static_cast<int>(lines.size()); i++) {
        switch (classify(lines[i])) {
        case Kind::kComment:
            break;
        case Kind::kNewProcess:
            parts.push_back({});
            parts.back().slots.push_back({i, {}, {}, -1});
            break;
        case Kind::kCommand:
            parts.back().slots.push_back({i, {}, {}, -1});
            break;
        case Kind::kOutput: {
            Slot &slot = parts.back().slots.back();
            if (slot.first_expected < 0)
                slot.first_expected = i;
            slot.expected.push_back(lines[i].substr(2));
            break;
        }
        }
    }
    return parts;
}

std::vector<std::string> launcher() {
    const char *env = std::getenv("RIRE_LAUNCHER");
    std::istringstream words(env != nullptr ? env : RIRE_LAUNCHER);
    std::vector<std::string> argv;
    for (std::string w; words >> w;)
        argv.push_back(w);
    return argv;
}

// This program, as it runs here: natively, or through the launcher (under
// qemu-user /proc/self/exe names the i386 program, not qemu).
std::vector<std::string> self_command(const Runner &runner, const std::string &state, int part,
                                      const std::string &path) {
    std::vector<std::string> argv = launcher();
    argv.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
    argv.insert(argv.end(), runner.options.begin(), runner.options.end());
    for (const std::string &a :
         {std::string("--state"), state, std::string("--part"), std::to_string(part), path})
        argv.push_back(a);
    return argv;
}

// Starts argv in `dir` (empty: here); with `capture`, its standard output
// and error go to one pipe whose read end is returned in *out_fd. The
// child's pid, or -1.
pid_t spawn(const std::vector<std::string> &args, const std::string &dir, bool capture,
            int *out_fd) {
    int fds[2] = {-1, -1};
    if (capture && pipe(fds) != 0)
        return -1;
    std::cout.flush();
    const pid_t pid = fork();
    if (pid == 0) {
        if (capture) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
        }
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(127);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::perror(argv[0]);
        _exit(127);
    }
    if (capture) {
        close(fds[1]);
        *out_fd = fds[0];
    }
    return pid;
}

int wait_for(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0)
        return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs one part in the file's folder, so that what it prints names the file
// the same wherever the check runs, and hands its output out to the part's
// slots: what comes before the first echoed command to the boot slot, then
// each command's to its own, in order. The state directory, fresh for each
// check, shows as kStateWord. The part's exit status.
int run_part(const Runner &runner, const std::filesystem::path &path, const std::string &state,
             int number, Part &part) {
    int fd = -1;
    const pid_t pid = spawn(self_command(runner, state, number, path.filename().string()),
                            path.parent_path().string(), true, &fd);
    std::string text;
    char buf[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    if (fd >= 0)
        close(fd);
    const int status = wait_for(pid);
    size_t slot = 0;
    const std::string word = kStateWord;
    for (size_t at = 0; (at = text.find(state, at)) != std::string::npos; at += word.size())
        text.replace(at, state.size(), word);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(kEcho) && slot + 1 < part.slots.size())
            slot++;
        else
            part.slots[slot].actual.push_back(line);
    }
    if (status == kKilled) {
        part.slots[slot].actual.push_back(kKilledLine);
        return 0;
    }
    if (status != 0)
        part.slots[slot].actual.push_back("[exit " + std::to_string(status) + "]");
    return status;
}

// Where the first process's boot output goes when the file has none yet:
// above the comment block of the first command.
size_t boot_place(const std::vector<std::string> &lines, const std::vector<Part> &parts) {
    if (parts[0].slots.size() < 2)
        return lines.size();
    size_t at = static_cast<size_t>(parts[0].slots[1].anchor);
    while (at > 0 && classify(lines[at - 1]) == Kind::kComment && !lines[at - 1].empty())
        at--;
    return at;
}

// The file with every slot's expected output replaced by what it printed.
std::vector<std::string> rewrite(const std::vector<std::string> &lines,
                                 const std::vector<Part> &parts) {
    const Slot &boot = parts[0].slots[0];
    const size_t boot_at = boot.first_expected >= 0 ? static_cast<size_t>(boot.first_expected)
                                                    : boot_place(lines, parts);
    std::vector<const Slot *> under(lines.size() + 1, nullptr);
    for (const Part &part : parts)
        for (const Slot &slot : part.slots)
            if (slot.anchor >= 0)
                under[static_cast<size_t>(slot.anchor)] = &slot;
    std::vector<std::string> out;
    auto emit = [&out](const Slot &slot) {
        for (const std::string &line : slot.actual)
            out.push_back(kIndent + line);
    };
    for (size_t i = 0; i <= lines.size(); i++) {
        if (i == boot_at)
            emit(boot);
        if (i == lines.size())
            break;
        if (classify(lines[i]) == Kind::kOutput)
            continue;
        out.push_back(lines[i]);
        if (under[i] != nullptr)
            emit(*under[i]);
    }
    return out;
}

// A unified diff of a against b, kContext lines around each change.
std::string unified_diff(const std::vector<std::string> &a, const std::vector<std::string> &b,
                         const std::string &name) {
    const size_t n = a.size(), m = b.size();
    // lcs[i][j]: the longest common subsequence of a[i..] and b[j..].
    std::vector<std::vector<uint32_t>> lcs(n + 1, std::vector<uint32_t>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            lcs[i][j] =
                a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    struct Op {
        char tag;
        size_t i, j; // positions in a and b before the op
    };
    std::vector<Op> ops;
    size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && a[i] == b[j])
            ops.push_back({' ', i++, j++});
        else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1]))
            ops.push_back({'-', i++, j});
        else
            ops.push_back({'+', i, j++});
    }
    std::ostringstream out;
    out << "--- " << name << "\n+++ " << name << " (actual)\n";
    std::vector<size_t> changes;
    for (size_t k = 0; k < ops.size(); k++)
        if (ops[k].tag != ' ')
            changes.push_back(k);
    for (size_t c = 0; c < changes.size();) {
        // A hunk: changes no more than 2 * kContext unchanged lines apart.
        size_t last = c;
        while (last + 1 < changes.size() && changes[last + 1] - changes[last] <= 2 * kContext + 1)
            last++;
        const size_t begin = changes[c] >= kContext ? changes[c] - kContext : 0;
        const size_t end = std::min(ops.size(), changes[last] + kContext + 1);
        size_t a_len = 0, b_len = 0;
        for (size_t t = begin; t < end; t++) {
            a_len += ops[t].tag != '+';
            b_len += ops[t].tag != '-';
        }
        out << "@@ -" << ops[begin].i + (a_len ? 1 : 0) << "," << a_len << " +"
            << ops[begin].j + (b_len ? 1 : 0) << "," << b_len << " @@\n";
        for (size_t t = begin; t < end; t++)
            out << ops[t].tag << (ops[t].tag == '+' ? b[ops[t].j] : a[ops[t].i]) << "\n";
        c = last + 1;
    }
    return out.str();
}

std::string temp_state() {
    std::string dir =
        std::filesystem::absolute(std::filesystem::temp_directory_path() / "rire-check-XXXXXX")
            .string();
    return mkdtemp(dir.data()) ? dir : std::string();
}

// What became of one file under --check.
struct Checked {
    bool read = false;    // it was read and run
    bool differs = false; // its output differs (and, with --update, was written in)
    bool failed = false;  // it ended other than it declares, or has a bad directive
};

// Says that the run ended with `status` where the file declares another.
void report_outcome(const std::string &path, int status, int declared, bool wrote) {
    std::cerr << "rire-host: " << path << (wrote ? ": wrote a failing run into it" : "")
              << ": exit status " << status << ", declared " << declared;
    if (declared == 0)
        std::cerr << " (add \"#! exit " << status << "\" if that failure is what it tests)";
    std::cerr << "\n";
}

// One run of the file as `lines` hold it: the file with the output it
// printed written in, and the run's exit status (the last one other than 0
// of its parts). Nothing when no state directory can be made.
struct Run {
    std::vector<std::string> actual;
    int status = 0;
};

std::optional<Run> run_file(const Runner &runner, const std::string &path,
                            const std::vector<std::string> &lines) {
    std::vector<Part> parts = parse(lines);
    const std::string state = temp_state();
    if (state.empty()) {
        std::cerr << "rire-host: cannot make a state directory for " << path << ": "
                  << std::strerror(errno) << "\n";
        return std::nullopt;
    }
    Run run;
    for (size_t k = 0; k < parts.size(); k++)
        if (const int s = run_part(runner, path, state, static_cast<int>(k + 1), parts[k]))
            run.status = s;
    std::filesystem::remove_all(state);
    run.actual = rewrite(lines, parts);
    return run;
}

bool write_lines(const std::string &path, const std::vector<std::string> &lines) {
    std::ofstream file(path, std::ios::trunc);
    for (const std::string &line : lines)
        file << line << "\n";
    if (file.flush())
        return true;
    std::cerr << "rire-host: cannot write " << path << ": " << std::strerror(errno) << "\n";
    return false;
}

// With `update`, the output is written in and the file run again until it
// stops changing: output written above a command moves it, and messages
// name commands by line.
Checked check_file(const Runner &runner, const std::string &path, bool update) {
    constexpr int kUpdateRounds = 3;
    std::ifstream in(path);
    const int error = !in ? errno : std::filesystem::is_directory(path) ? EISDIR : 0;
    if (error != 0) {
        std::cerr << "rire-host: cannot read " << path << ": " << std::strerror(error) << "\n";
        return {};
    }
    std::vector<std::string> lines = read_lines(in);
    const Directives directives = read_directives(lines);
    if (!directives.error.empty()) {
        std::cerr << path << ":" << directives.error_line << ": error: " << directives.error
                  << "\n";
        return {true, false, true};
    }
    std::optional<Run> run = run_file(runner, path, lines);
    if (!run)
        return {};
    Checked checked{true, run->actual != lines, false};
    if (checked.differs)
        std::cout << unified_diff(lines, run->actual, path);
    for (int round = 0; update && run && run->actual != lines && round < kUpdateRounds; round++) {
        if (!write_lines(path, run->actual))
            return {true, true, true};
        lines = std::move(run->actual);
        run = run_file(runner, path, lines);
    }
    if (!run)
        return {true, checked.differs, true};
    if (update && checked.differs)
        std::cout << "updated " << path << "\n";
    checked.failed = run->status != directives.exit;
    if (checked.failed)
        report_outcome(path, run->status, directives.exit, update && checked.differs);
    return checked;
}

} // namespace

bool is_transcript(const std::string &path) {
    return path.ends_with(".t");
}

std::optional<std::string> part_scenario(std::istream &in, int part, int *parts,
                                         Directives *directives) {
    const std::vector<std::string> lines = read_lines(in);
    *directives = read_directives(lines);
    std::string text;
    int current = 1;
    for (const std::string &line : lines) {
        const Kind kind = classify(line);
        current += kind == Kind::kNewProcess;
        text += (kind == Kind::kCommand && current == part ? line : std::string()) + "\n";
    }
    *parts = current;
    if (part < 1 || part > current)
        return std::nullopt;
    return text;
}

int run_parts(const Runner &runner, const std::string &path, const std::string &state, int parts,
              Output &out) {
    int last = 0;
    for (int k = 1; k <= parts; k++) {
        int status = wait_for(spawn(self_command(runner, state, k, path), "", false, nullptr));
        if (status == kKilled) {
            out.record("killed", {{"part", k}}, std::string("  ") + kKilledLine + "\n");
            out.stream().flush();
            status = 0;
        }
        last = status != 0 ? status : last;
        if (status >= 2)
            break;
    }
    return last;
}

int check(const Runner &runner, const std::vector<std::string> &files, bool update) {
    size_t read = 0, differ = 0, failed = 0;
    for (const std::string &path : files) {
        const Checked c = check_file(runner, path, update);
        read += c.read;
        differ += c.differs;
        failed += c.failed;
    }
    std::cout << counted(read, "transcript") << " checked";
    if (differ != 0)
        std::cout << ", " << differ << (update ? " updated" : " differ");
    if (failed != 0)
        std::cout << ", " << failed << " failed";
    if (read < files.size())
        std::cout << ", " << files.size() - read << " cannot be read";
    std::cout << "\n";
    if (read < files.size())
        return 2;
    return failed != 0 || (differ != 0 && !update) ? 1 : 0;
}

} // namespace rire_host::transcript
