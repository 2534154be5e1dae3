#include "library_messages.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

namespace hwinfo {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// While alive, fd 2 points at an in-memory file; the old stderr comes back on
// destruction, even when the call throws.
class StderrRedirect {
public:
    StderrRedirect()
        : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)), collected_(::memfd_create("library-messages", MFD_CLOEXEC)) {
        std::fflush(stderr);
        active_ = saved_ && collected_ && ::dup2(collected_.get(), STDERR_FILENO) == STDERR_FILENO;
    }
    ~StderrRedirect() { restore(); }
    StderrRedirect(const StderrRedirect&) = delete;
    StderrRedirect& operator=(const StderrRedirect&) = delete;

    // Puts stderr back and returns what was written to it meanwhile.
    std::string finish() {
        restore();
        std::string text;
        char buffer[4096];
        ssize_t n;
        off_t offset = 0;
        while (collected_ && (n = ::pread(collected_.get(), buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<size_t>(n));
            offset += n;
        }
        return text;
    }

private:
    void restore() {
        if (!std::exchange(active_, false)) return;
        std::fflush(stderr);
        ::dup2(saved_.get(), STDERR_FILENO);
    }

    UniqueFd saved_;
    UniqueFd collected_;
    bool active_ = false;
};

void write_all(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

void with_library_messages(const std::function<void()>& call) {
    StderrRedirect redirect;
    call();
    std::string messages = redirect.finish();
    if (!messages.empty() && messages.back() != '\n') messages += '\n';
    write_all(messages);
}

}  // namespace hwinfo
