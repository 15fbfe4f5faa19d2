#include "tools/rire-host/scenario.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace rire_host {

std::string Scenario::open() {
    if (path_ == "-")
        return spool() ? "" : "cannot keep standard input aside";
    // A directory opens and reads as empty: it would run nothing.
    std::error_code ec;
    if (std::filesystem::is_directory(path_, ec))
        return path_ + " is a directory, not a scenario";
    file_.open(path_, std::ios::in);
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

std::istream &Scenario::first_pass() {
    return transcript_ ? part_ : path_ == "-" ? std::cin : static_cast<std::istream &>(file_);
}

std::istream &Scenario::second_pass() {
    std::iostream &in = transcript_ ? static_cast<std::iostream &>(part_) : file_;
    in.clear();
    in.seekg(0);
    return in;
}

bool Scenario::spool() {
    std::string name = (std::filesystem::temp_directory_path() / "rire-host-stdin-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return false;
    close(fd);
    file_.open(name, std::ios::in | std::ios::out | std::ios::trunc);
    std::remove(name.c_str());
    return file_.is_open();
}

} // namespace rire_host
