#include "emu/state_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "emu/base/disk.h"

namespace emu::state_lock {
namespace {

int g_fd = -1;

// The holder writes its id just after taking the lock: give it a moment.
pid_t read_holder(int fd) {
    for (int tries = 0; tries < 50; tries++) {
        char buf[32] = {};
        const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
        if (n > 0 && buf[n - 1] == '\n')
            return static_cast<pid_t>(std::strtol(buf, nullptr, 10));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// Writes over the bytes there and then cuts the file to the new text, so
// that a file system without room for more still takes the id the file held
// before. 0, or the errno.
int write_pid(int fd) {
    const std::string text = std::to_string(getpid()) + "\n";
    if (const int error = base::disk::reserve(fd, 0, text.size()); error != 0)
        return error;
    const ssize_t n = pwrite(fd, text.data(), text.size(), 0);
    if (n != static_cast<ssize_t>(text.size()))
        return n < 0 ? errno : ENOSPC;
    return ftruncate(fd, static_cast<off_t>(text.size())) == 0 ? 0 : errno;
}

} // namespace

Result acquire(const std::filesystem::path &dir) {
    release();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const int fd = open((dir / kFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return {false, 0, errno};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        Result r{false, error == EWOULDBLOCK ? read_holder(fd) : 0,
                 error == EWOULDBLOCK ? 0 : error};
        close(fd);
        return r;
    }
    // The lock holds without the id: a second process is then told that
    // another one holds the directory.
    if (const int error = write_pid(fd); error != 0)
        base::disk::failed(dir / kFileName, error);
    g_fd = fd;
    return {true, 0, 0};
}

void release() {
    if (g_fd >= 0)
        close(g_fd);
    g_fd = -1;
}

} // namespace emu::state_lock
