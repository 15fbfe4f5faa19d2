#include "tools/rire-host/scenario.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace rire_host {

std::string Scenario::open() {
    if (path_ == "-")
        return "";
    // A directory opens and reads as empty: it would run nothing.
    std::error_code ec;
    if (std::filesystem::is_directory(path_, ec))
        return path_ + " is a directory, not a scenario";
    file_.open(path_);
    return file_.is_open() ? "" : "cannot read " + path_ + ": " + std::strerror(errno);
}

bool Scenario::open_part(int part, int *parts, transcript::Directives *directives) {
    auto text = transcript::part_scenario(file_, part, parts, directives);
    if (!text)
        return false;
    file_.close();
    part_.str(*text);
    transcript_ = true;
    return true;
}

std::istream &Scenario::lines() {
    return transcript_ ? part_ : path_ == "-" ? std::cin : static_cast<std::istream &>(file_);
}

} // namespace rire_host
