#include "sandbox.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "command_line.h"
#include "text_file.h"
#include "unique_fd.h"

namespace korvanta_sim {
namespace {

namespace fs = std::filesystem;
using korvanta_hardware::above_stdio;
using korvanta_hardware::UniqueFd;

constexpr char kSandboxName[] = "korvanta-sandbox";
constexpr int kSignalBase = 128;
constexpr int kRelayedSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr off_t kMaxPassedUnit = 4 << 20;  // far above any encoded unit

// The relay's way to the lifeline: a signal handler can reach nothing else.
int relay_fd = -1;

bool executable(const fs::path& path) { return ::access(path.c_str(), X_OK) == 0; }

UniqueFd unit_file(const Unit& unit, std::string& error) {
    UniqueFd fd = above_stdio(::memfd_create("korvanta-sim-unit", MFD_CLOEXEC));
    std::string bytes = encode_unit(unit);
    bool written = fd && korvanta_hardware::write_all(fd.get(), bytes);
    if (!written) {
        error = std::string("cannot pass the unit on: ") + std::strerror(errno);
        fd.reset();
    }
    return fd;
}

void relay(int signal, siginfo_t* info, void*) {
    // The terminal signals its whole foreground group, the command included:
    // passing that on would deliver it twice.
    if (info->si_code == SI_KERNEL) return;
    int saved = errno;
    unsigned char number = static_cast<unsigned char>(signal);
    if (::write(relay_fd, &number, 1) < 0) {
        // Full, or the second run is gone: nothing left to tell.
    }
    errno = saved;
}

void start_relaying(int lifeline) {
    relay_fd = lifeline;
    struct sigaction action = {};
    action.sa_sigaction = relay;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kRelayedSignals) ::sigaction(signal, &action, nullptr);
    // A second run that has ended closes the lifeline; a late relay must not end us.
    std::signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] void exec_launcher(const std::string& sandbox, const std::vector<std::string>& argv,
                                const std::vector<int>& inherited) {
    for (int fd : inherited) ::fcntl(fd, F_SETFD, 0);
    std::vector<char*> words{const_cast<char*>(sandbox.c_str()), const_cast<char*>("--")};
    for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    ::execv(sandbox.c_str(), words.data());
    std::fprintf(stderr, "korvanta-sim: cannot run %s: %s\n", sandbox.c_str(), std::strerror(errno));
    ::_exit(kExitSimFailed);
}

int wait_for(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return kExitSimFailed;
    }
    return WIFSIGNALED(status) ? kSignalBase + WTERMSIG(status) : WEXITSTATUS(status);
}

// A descriptor number that the first run put in our command line.
int inherited_descriptor(const std::string& word) {
    char* end = nullptr;
    long fd = std::strtol(word.c_str(), &end, 10);
    bool valid = !word.empty() && *end == '\0' && fd > STDERR_FILENO && fd < 1 << 20;
    return valid && ::fcntl(static_cast<int>(fd), F_GETFD) >= 0 ? static_cast<int>(fd) : -1;
}

}  // namespace

std::string own_path() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).string();
}

std::string find_sandbox() {
    fs::path dir = fs::path(own_path()).parent_path();
    for (const fs::path& candidate : {dir / KORVANTA_SIM_SANDBOX_FROM_BINDIR, dir / kSandboxName}) {
        if (executable(candidate)) return candidate.lexically_normal().string();
    }
    return "";
}

int run_second(const std::string& sandbox, const Unit& unit, const std::string& save,
               const std::vector<std::string>& command, std::string& error) {
    UniqueFd unit_fd = unit_file(unit, error);
    int ends[2];
    if (!unit_fd) return kExitSimFailed;
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot make the lifeline: ") + std::strerror(errno);
        return kExitSimFailed;
    }
    UniqueFd lifeline_read = above_stdio(ends[0]);
    UniqueFd lifeline = above_stdio(ends[1]);
    // Never block in the relay, however many signals arrive.
    ::fcntl(lifeline.get(), F_SETFL, O_NONBLOCK);

    std::vector<std::string> argv{own_path(), kInSandboxOption, std::to_string(lifeline_read.get())};
    if (!save.empty()) argv.insert(argv.end(), {"--save", save});
    argv.insert(argv.end(), {std::to_string(unit_fd.get()), "--"});
    argv.insert(argv.end(), command.begin(), command.end());

    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) exec_launcher(sandbox, argv, {unit_fd.get(), lifeline_read.get()});
    if (child < 0) {
        error = "cannot start " + sandbox + ": " + std::strerror(errno);
        return kExitSimFailed;
    }
    unit_fd.reset();
    lifeline_read.reset();
    start_relaying(lifeline.get());
    return wait_for(child);
}

bool take_unit(const std::string& word, Unit& unit, std::string& error) {
    UniqueFd fd(inherited_descriptor(word));
    struct stat status;
    std::string bytes;
    bool sized = fd && ::fstat(fd.get(), &status) == 0 && status.st_size <= kMaxPassedUnit;
    if (sized) bytes.resize(static_cast<size_t>(status.st_size));
    if (!sized || ::pread(fd.get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        error = "no unit passed on in descriptor " + word;
        return false;
    }
    return decode_unit(bytes, unit, error);
}

int take_lifeline(const std::string& word) {
    int fd = inherited_descriptor(word);
    // Ours alone: the command must not hold it.
    if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

}  // namespace korvanta_sim
