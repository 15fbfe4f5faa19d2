#include "emu/state_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

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

bool write_pid(int fd) {
    const std::string text = std::to_string(getpid()) + "\n";
    return ftruncate(fd, 0) == 0 &&
           pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
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
    if (!write_pid(fd)) {
        const int error = errno;
        close(fd);
        return {false, 0, error};
    }
    g_fd = fd;
    return {true, 0, 0};
}

void release() {
    if (g_fd >= 0)
        close(g_fd);
    g_fd = -1;
}

} // namespace emu::state_lock
