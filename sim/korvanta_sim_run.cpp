#include "korvanta_sim_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "korvanta_sim_command_line.h"

namespace korvanta_sim {
namespace {

constexpr int kSignalBase = 128;

using Handler = void (*)(int);

[[noreturn]] void exec_command(const std::vector<std::string>& command, Handler old_int, Handler old_quit) {
    std::signal(SIGINT, old_int);
    std::signal(SIGQUIT, old_quit);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    int failure = errno;
    std::fprintf(stderr, "korvanta-sim: cannot run %s: %s\n", argv[0], std::strerror(failure));
    ::_exit(failure == ENOENT ? kExitNotFound : kExitCannotRun);
}

int wait_for(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return kExitSimFailed;
    }
    return WIFSIGNALED(status) ? kSignalBase + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

int run_command(const std::vector<std::string>& command) {
    // Like system(): a terminal's ^C reaches the command too, which decides what it means.
    Handler old_int = std::signal(SIGINT, SIG_IGN);
    Handler old_quit = std::signal(SIGQUIT, SIG_IGN);
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) exec_command(command, old_int, old_quit);
    int status = kExitSimFailed;
    if (child < 0) {
        std::fprintf(stderr, "korvanta-sim: cannot start %s: %s\n", command[0].c_str(), std::strerror(errno));
    } else {
        status = wait_for(child);
    }
    std::signal(SIGINT, old_int);
    std::signal(SIGQUIT, old_quit);
    return status;
}

}  // namespace korvanta_sim
