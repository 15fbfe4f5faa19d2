#include "emu/base/disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "emu/base/faults.h"

namespace emu::base::disk {
namespace {

std::vector<Failure> g_failures;

// The disk.full row's word on a write of `bytes`: 0, or ENOSPC.
int budget(std::size_t bytes) {
    const auto position = static_cast<uint32_t>(std::min<std::size_t>(bytes, UINT32_MAX));
    return base::faults::fires(base::faults::Id::kDiskFull, 0, position) ? ENOSPC : 0;
}

int write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

} // namespace

int reserve(int fd, std::size_t off, std::size_t len) {
    if (len == 0)
        return 0;
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return errno;
    const std::size_t end = off + len, size = static_cast<std::size_t>(st.st_size);
    if (const int error = budget(end > size ? end - size : 0); error != 0)
        return error;
    return allocate(fd, off, len);
}

int allocate(int fd, std::size_t off, std::size_t len) {
    return posix_fallocate(fd, static_cast<off_t>(off), static_cast<off_t>(len));
}

int reserve_file(const std::filesystem::path &file, std::size_t len) {
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    const int error = reserve(fd, 0, len);
    close(fd);
    return error;
}

int charge(std::size_t bytes) {
    return budget(bytes);
}

int replace(const std::filesystem::path &file, std::string_view text) {
    if (const int error = budget(text.size()); error != 0)
        return error;
    const std::string next = file.string() + ".new";
    const int fd = open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    int error = write_all(fd, text);
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(next.c_str(), file.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(next.c_str());
    return error;
}

std::string describe(const std::filesystem::path &file, std::string_view what) {
    std::string text(what);
    if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
        std::islower(static_cast<unsigned char>(text[1])))
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return file.filename().string() + ": " + text + " (" + file.string() + ")";
}

std::string Failure::message() const {
    return describe(file, std::strerror(error));
}

void failed(const std::filesystem::path &file, int error) {
    g_failures.push_back({file, error});
}

const std::vector<Failure> &failures() {
    return g_failures;
}

void clear_failures() {
    g_failures.clear();
}

} // namespace emu::base::disk
