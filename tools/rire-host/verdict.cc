#include "tools/rire-host/verdict.h"

#include "emu/log/log.h"

namespace rire_host {

namespace faults = emu::base::faults;

void Verdict::begin_command(const std::string &file, int line, bool expectation) {
    file_ = file;
    line_ = line;
    command_strict_ = strict_.size();
    if (!expectation) {
        log_window_ = emu::log::event_log().size();
        errors_.clear();
    }
}

// The host's refusals are counted when the command ends, but come first
// among its failures: a refusal causes the errors the plugin logs after it.
void Verdict::end_command() {
    std::vector<StrictFailure> refused;
    for (const faults::Row &row : faults::rows()) {
        uint64_t &seen = fired_[static_cast<size_t>(row.id)];
        const uint64_t now = faults::fired(row.id);
        if (now > seen)
            refused.push_back(
                {where(), line_ > 0 ? line_ : 0, "host_refused",
                 "the host refused " + counted(now - seen, "call") + " (fault " + row.name + ")"});
        seen = now;
    }
    strict_.insert(strict_.begin() + static_cast<std::ptrdiff_t>(command_strict_), refused.begin(),
                   refused.end());
    command_strict_ = strict_.size();
}

void Verdict::restarted() {
    log_window_ = 0;
}

void Verdict::logged_error(std::string_view text) {
    errors_.emplace_back(text);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    strict_failure("log_error", "the plugin logged an error: " + std::string(text));
}

void Verdict::expectation_failed(const std::string &wanted, const std::string &got) {
    expectations_failed_++;
    out_.notice("expectation_failed",
                {{"file", file_}, {"line", line_}, {"wanted", wanted}, {"got", got}},
                where() + ": expectation failed: wanted " + wanted + ", got " + got + "\n");
}

void Verdict::strict_failure(const char *kind, const std::string &cause) {
    strict_.push_back({where(), line_ > 0 ? line_ : 0, kind, cause});
}

void Verdict::heap_lost(uint32_t blocks, uint64_t bytes) {
    heap_lost_ += blocks;
    out_.notice(
        "heap_lost", {{"file", file_}, {"line", line_}, {"blocks", blocks}, {"bytes", bytes}},
        where() + ": the plugin lost " + counted(blocks, "heap block") + " (" +
            counted(bytes, "byte") + "): no request, host record or queue reset holds them\n");
}

bool Verdict::report(bool strict) const {
    if (expectations_failed_ != 0)
        out_.notice("expectations", {{"failed", expectations_failed_}},
                    "rire-host: " + counted(expectations_failed_, "expectation") + " failed\n");
    if (strict && !strict_.empty()) {
        std::string text = "rire-host: --strict: " + counted(strict_.size(), "failure") + ":\n";
        Fields failures = Fields::array();
        for (const StrictFailure &f : strict_) {
            text += "  " + f.where + ": " + f.cause + "\n";
            failures.push_back(
                {{"where", f.where}, {"line", f.line}, {"kind", f.kind}, {"cause", f.cause}});
        }
        out_.notice("strict", {{"failures", failures}}, text);
    }
    return expectations_failed_ != 0 || heap_lost_ != 0 || (strict && !strict_.empty());
}

} // namespace rire_host
