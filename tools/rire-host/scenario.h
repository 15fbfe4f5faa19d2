// The scenario a run reads: a file, one process part of a transcript test, or
// standard input kept aside in an unlinked temporary file while it is
// checked, so that it can be read a second time to run it.
#pragma once

#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>

#include "tools/rire-host/check.h"

namespace rire_host {

class Scenario {
  public:
    explicit Scenario(const std::string &path) : path_(path) {}
    // Empty when the scenario can be read, else why not.
    std::string open();
    // A transcript is read once, its part kept as a scenario; false when the
    // file has no such part.
    bool open_part(int part, int *parts, transcript::Directives *directives);
    // "<stdin>" for standard input.
    const char *name() const { return path_ == "-" ? "<stdin>" : path_.c_str(); }
    // The first reading, to check every line; copy() gets what it reads
    // when it cannot be read again.
    std::istream &first_pass();
    std::ostream *copy() { return path_ == "-" ? &file_ : nullptr; }
    // The second reading, from the start, to run it.
    std::istream &second_pass();

  private:
    bool spool();

    std::string path_;
    std::fstream file_;
    std::stringstream part_;
    bool transcript_ = false;
};

} // namespace rire_host
