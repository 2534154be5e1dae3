// Running part of a test without privileges, for the "permission denied" cases
// that root never meets. The action runs in a forked child; the parent gets its
// result and what it wrote to stderr.
#ifndef KORVANTA_TESTS_UNPRIVILEGED_H
#define KORVANTA_TESTS_UNPRIVILEGED_H

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

inline constexpr uid_t kNobody = 65534;

enum class Drop {
    kNothing,       // keep every privilege: only the fork, for faults that belong to a process
    kCapabilities,  // stay uid 0 but lose every capability: works in the unprivileged sandbox too
    kToNobody       // become uid and gid 65534: only real root may
};

struct ChildResult {
    int exit_code = -1;  // the action's result (0 to 127); -1 when the child could not drop privileges
    std::string stderr_text;
};

inline bool drop_privileges(Drop how) {
    if (how == Drop::kNothing) return true;
    if (how == Drop::kToNobody && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                                   ::setresuid(kNobody, kNobody, kNobody) != 0))
        return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    return ::syscall(SYS_capset, &header, none) == 0;
}

inline ChildResult unprivileged(Drop how, const std::function<int()>& action) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe_fds[1], STDERR_FILENO);
        ::_exit(drop_privileges(how) ? action() & 0x7F : 255);
    }
    ::close(pipe_fds[1]);
    ChildResult result;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) result.stderr_text.append(buffer, n);
    ::close(pipe_fds[0]);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) != 255)
        result.exit_code = WEXITSTATUS(status);
    return result;
}

// A user namespace that maps root alone has no uid 65534 to become.
inline bool can_become_nobody() { return unprivileged(Drop::kToNobody, [] { return 0; }).exit_code == 0; }

inline constexpr char kNeedsRealRoot[] = "cannot become uid 65534 here: the unprivileged sandbox maps root alone";

#endif
