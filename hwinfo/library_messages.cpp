#include "library_messages.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "text_file.h"
#include "unique_fd.h"

namespace hwinfo {
namespace {

using korvanta_hardware::UniqueFd;

// While alive, fd 2 is one end of a packet socket: stderr is unbuffered, so
// each message the library prints arrives as one packet and keeps its bounds.
// Both ends are non-blocking: a flood beyond the socket's buffer (hundreds of
// messages) loses messages rather than hanging the tool. The old stderr comes
// back on destruction, even when the call throws; a stderr that was closed (a
// daemon's) is closed again, but the messages are collected all the same, as
// they tell where the identity came from.
class StderrRedirect {
public:
    StderrRedirect() {
        using korvanta_hardware::above_stdio;
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) return;
        reader_ = above_stdio(ends[0]);
        writer_ = above_stdio(ends[1]);
        saved_.reset(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
        was_closed_ = !saved_ && errno == EBADF;
        if (!reader_ || !writer_ || (!saved_ && !was_closed_)) return;
        std::fflush(stderr);
        active_ = ::dup2(writer_.get(), STDERR_FILENO) == STDERR_FILENO;
    }
    ~StderrRedirect() { restore(); }
    StderrRedirect(const StderrRedirect&) = delete;
    StderrRedirect& operator=(const StderrRedirect&) = delete;

    // Puts stderr back and returns what was printed meanwhile, one entry per message.
    std::vector<std::string> finish() {
        restore();
        std::vector<std::string> messages;
        std::vector<char> buffer(65536);
        ssize_t n;
        // Our writer end stays open, so an empty queue reads as EAGAIN, never as 0.
        while (reader_ && (n = ::recv(reader_.get(), buffer.data(), buffer.size(), 0)) >= 0) {
            if (n > 0) messages.emplace_back(buffer.data(), static_cast<size_t>(n));
        }
        return messages;
    }

private:
    void restore() {
        if (!std::exchange(active_, false)) return;
        std::fflush(stderr);
        if (was_closed_) ::close(STDERR_FILENO);
        else ::dup2(saved_.get(), STDERR_FILENO);
    }

    UniqueFd reader_;
    UniqueFd writer_;
    UniqueFd saved_;
    bool was_closed_ = false;
    bool active_ = false;
};

}  // namespace

std::vector<std::string> with_library_messages(const std::function<void()>& call) {
    StderrRedirect redirect;
    call();
    std::vector<std::string> messages = redirect.finish();
    for (const std::string& message : messages) {
        // Nowhere left to tell of a stderr that fails.
        korvanta_hardware::write_all(STDERR_FILENO, message.back() == '\n' ? message : message + '\n');
    }
    return messages;
}

}  // namespace hwinfo
