// How rire-host reports what happened: as text for a person, or as JSON Lines
// (--format json) for tools, one object per line on standard output.
//
// Every report is a record: a type ("command", "result", "error", ...), its
// fields, and the text a person reads. Text mode prints the text (faults and
// summaries on standard error); JSON mode prints {"type": TYPE, FIELDS...} on
// standard output and nothing on standard error. Text written to stream() by
// code that makes no records becomes {"type": "text", "text": LINE} records in
// JSON mode. rire-host.schema.json, beside the README, describes every
// record type and its fields; a new record or field goes there too (the
// tests check every record the transcripts write against it).
#pragma once

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <type_traits>

namespace rire_host {

using Fields = nlohmann::ordered_json;

enum class Format { kText, kJson };

class Output {
  public:
    virtual ~Output() = default;

    // A record on standard output; `text` holds whole lines, or nothing for a
    // record a person does not need to see. A null `type` marks lines for a
    // person only (a heading), left out of JSON.
    virtual void record(const char *type, Fields fields, const std::string &text) = 0;
    // The same, for a report made after every command: its fields are made
    // (`make` called) only where they are written, in JSON mode.
    template <class MakeFields>
    requires std::is_invocable_r_v<Fields, const MakeFields &>
    void record(const char *type, const MakeFields &make, const std::string &text) {
        record(type, writes_fields() ? make() : Fields(), text);
    }
    // Whether record() writes the fields (JSON) or only the text.
    virtual bool writes_fields() const = 0;
    // A report for standard error (a fault, the summary at the end): in text
    // mode `text` (whole lines) goes there after what standard output holds so
    // far; in JSON mode it is a record like any other.
    virtual void notice(const char *type, Fields fields, const std::string &text) = 0;
    // Lines of text that are not records yet.
    virtual std::ostream &stream() = 0;

    // A bad scenario line, "FILE:LINE:COLUMN: error: MESSAGE" (COLUMN 0: none).
    void script_error(const std::string &file, int line, int column, const std::string &message);
};

// "1 block", "2 blocks"; `plural` for a word that does not take an s.
std::string counted(size_t n, const char *what, const char *plural = nullptr);

std::unique_ptr<Output> make_output(Format format, std::ostream &out, std::ostream &err);

} // namespace rire_host
