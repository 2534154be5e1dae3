// Owns one file descriptor and closes it when it goes out of scope.
#ifndef KORVANTA_HARDWARE_UNIQUE_FD_H
#define KORVANTA_HARDWARE_UNIQUE_FD_H

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace korvanta_hardware {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether the kernel accepted it: a write can still fail here.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }
    // Hands the descriptor to a new owner (fdopendir).
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

// Takes fd over, moved above 0, 1 and 2 when it sits there. In a process
// started with standard error closed the next open gets 2, and every message
// written to stderr, the library's own included, would land in the file.
// An invalid fd stays invalid; a failed move gives EMFILE.
inline UniqueFd above_stdio(int fd) {
    UniqueFd taken(fd);
    if (fd < 0 || fd > STDERR_FILENO) return taken;
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));  // the low one closes with `taken`
}

// openat(2) with O_CLOEXEC, retried when interrupted, whose descriptor never
// sits on 0, 1 or 2. Fails with openat's errno, or EMFILE.
inline UniqueFd open_descriptor_at(int directory, const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(directory, path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return above_stdio(fd);
}

inline UniqueFd open_descriptor(const char* path, int flags, mode_t mode = 0) {
    return open_descriptor_at(AT_FDCWD, path, flags, mode);
}

// open_descriptor_at with O_NONBLOCK, so that no FIFO or device holds the
// caller, which still waits as a plain open does while another process's
// lease on a regular file is broken (a file server's oplock, a backup agent):
// O_NONBLOCK alone fails with EWOULDBLOCK there. The kernel ends a lease
// within /proc/sys/fs/lease-break-time (45 s unless set); a name that is no
// longer a regular file ends the wait at once, and so do five minutes of
// EWOULDBLOCK, which no lease takes.
inline UniqueFd open_nonblocking_at(int directory, const char* path, int flags, mode_t mode = 0) {
    const int at_flags = flags & O_NOFOLLOW ? AT_SYMLINK_NOFOLLOW : 0;
    const struct timespec pause = {0, 10 * 1000 * 1000};
    for (int waits = 0;; ++waits) {
        UniqueFd fd = open_descriptor_at(directory, path, flags | O_NONBLOCK, mode);
        if (fd || errno != EWOULDBLOCK || waits == 5 * 60 * 100) return fd;
        struct stat st;
        if (::fstatat(directory, path, &st, at_flags) != 0 || !S_ISREG(st.st_mode)) {
            errno = EWOULDBLOCK;
            return fd;
        }
        ::nanosleep(&pause, nullptr);
    }
}

}  // namespace korvanta_hardware

#endif
