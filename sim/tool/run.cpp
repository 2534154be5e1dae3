#include "run.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "command_line.h"
#include "unique_fd.h"

namespace korvanta_sim {
namespace {

constexpr int kSignalBase = 128;
constexpr int kHeldSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
constexpr int kRetryMilliseconds = 100;

using Handler = void (*)(int);

// Ignores kHeldSignals while alive; the command gets them as they were.
class HeldSignals {
public:
    HeldSignals() {
        for (size_t i = 0; i < std::size(kHeldSignals); ++i) old_[i] = std::signal(kHeldSignals[i], SIG_IGN);
    }
    ~HeldSignals() { restore(); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

    void restore() const {
        for (size_t i = 0; i < std::size(kHeldSignals); ++i) std::signal(kHeldSignals[i], old_[i]);
    }

private:
    Handler old_[std::size(kHeldSignals)];
};

[[noreturn]] void exec_command(const std::vector<std::string>& command, const HeldSignals& held, pid_t parent) {
    // The backstop: if we die without killing the command, the kernel does.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(kExitSimFailed);
    held.restore();
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    int failure = errno;
    std::fprintf(stderr, "korvanta-sim: cannot run %s: %s\n", argv[0], std::strerror(failure));
    ::_exit(failure == ENOENT ? kExitNotFound : kExitCannotRun);
}

// Tells when the child has exited; none on kernels before 5.3.
korvanta_hardware::UniqueFd exit_notice(pid_t child) {
#ifdef SYS_pidfd_open
    return korvanta_hardware::UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
#else
    return korvanta_hardware::UniqueFd();
#endif
}

// Passes on what came through the lifeline. False once korvanta-sim is gone:
// then its command goes too.
bool relay(int lifeline, pid_t child) {
    unsigned char signals[16];
    ssize_t n = ::read(lifeline, signals, sizeof signals);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) {
        ::kill(child, SIGKILL);
        return false;
    }
    for (ssize_t i = 0; i < n; ++i) ::kill(child, signals[i]);
    return true;
}

int wait_for(pid_t child, int lifeline) {
    korvanta_hardware::UniqueFd exited = exit_notice(child);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return WIFSIGNALED(status) ? kSignalBase + WTERMSIG(status) : WEXITSTATUS(status);
        if (done < 0 && errno != EINTR) return kExitSimFailed;
        pollfd events[] = {{exited.get(), POLLIN, 0}, {lifeline, POLLIN, 0}};
        ::poll(events, std::size(events), exited ? -1 : kRetryMilliseconds);
        if (events[1].revents != 0 && !relay(lifeline, child)) lifeline = -1;
    }
}

}  // namespace

int run_command(const std::vector<std::string>& command, int lifeline) {
    HeldSignals held;
    std::fflush(nullptr);
    pid_t parent = ::getpid();
    pid_t child = ::fork();
    if (child == 0) exec_command(command, held, parent);
    if (child < 0) {
        std::fprintf(stderr, "korvanta-sim: cannot start %s: %s\n", command[0].c_str(), std::strerror(errno));
        return kExitSimFailed;
    }
    return wait_for(child, lifeline);
}

}  // namespace korvanta_sim
