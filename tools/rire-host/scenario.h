// The scenario a run reads, once: a file, one process part of a transcript
// test, or standard input.
#pragma once

#include <fstream>
#include <istream>
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
    // Its lines, to be read once.
    std::istream &lines();

  private:
    std::string path_;
    std::ifstream file_;
    std::istringstream part_;
    bool transcript_ = false;
};

} // namespace rire_host
