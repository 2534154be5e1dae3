#include "temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace korvanta_hardware {
namespace {

// Only a file system that answers "exists" to every fresh random name gets this far.
constexpr int kNameAttempts = 1000;

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Locks a new named file for its writer. False when a cleanup opened it before
// the lock: that cleanup removes it.
bool claim(int fd) {
    // Without locks on this file system no cleanup can remove it either.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno != EWOULDBLOCK;
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

}  // namespace

TemporaryFile::TemporaryFile(int directory, const std::string& name, mode_t mode)
    : directory_(directory), prefix_("." + name + ".tmp-") {
    if (!create_unnamed(mode)) create_named(mode);
}

TemporaryFile::~TemporaryFile() {
    if (!name_.empty()) ::unlinkat(directory_, name_.c_str(), 0);
}

bool TemporaryFile::create_unnamed(mode_t mode) {
    fd_ = open_descriptor_at(directory_, ".", O_TMPFILE | O_WRONLY, mode);
    if (!fd_) return false;
    // Locked before it has a name, so no cleanup can ever take it for a leftover.
    (void)::flock(fd_.get(), LOCK_EX | LOCK_NB);
    // It can only get a name through /proc; without that, take a named one now.
    struct stat opened, linked;
    if (::fstat(fd_.get(), &opened) == 0 && ::stat(proc_path(fd_.get()).c_str(), &linked) == 0 &&
        same_file(opened, linked))
        return true;
    fd_.reset();
    return false;
}

bool TemporaryFile::create_named(mode_t mode) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // The name is known before the file exists, so nothing that fails later leaves it behind.
        name_ = unique_name();
        fd_ = open_descriptor_at(directory_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
        if (fd_ && claim(fd_.get())) return true;
        error_ = fd_ ? EEXIST : errno;
        fd_.reset();
        name_.clear();
        if (error_ != EEXIST) return false;
    }
    return false;
}

bool TemporaryFile::link_name() {
    const std::string source = proc_path(fd_.get());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name_ = unique_name();
        if (::linkat(AT_FDCWD, source.c_str(), directory_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        const int error = errno;
        name_.clear();
        errno = error;
        if (error != EEXIST) return false;
    }
    return false;
}

bool TemporaryFile::rename_to(const std::string& target) {
    if (name_.empty() && !link_name()) return false;
    if (::renameat(directory_, name_.c_str(), directory_, target.c_str()) != 0) return false;
    name_.clear();
    return true;
}

// Unique among living threads by the thread id; the random part keeps writers
// in other PID namespaces apart.
std::string TemporaryFile::unique_name() const {
    uint64_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        struct timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        random = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    }
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, "%ld-%016llx", static_cast<long>(::syscall(SYS_gettid)),
                  static_cast<unsigned long long>(random));
    return prefix_ + suffix;
}

void remove_stale_temporaries(int directory, const std::string& name) {
    UniqueFd listed = open_descriptor_at(directory, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(listed ? ::fdopendir(listed.get()) : nullptr, ::closedir);
    if (!dir) return;  // a directory the writer may not list keeps them
    listed.release();  // closedir closes it
    const std::string prefix = "." + name + ".tmp-";
    const int dir_fd = ::dirfd(dir.get());
    while (const struct dirent* entry = ::readdir(dir.get())) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        UniqueFd fd = open_descriptor_at(dir_fd, entry->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
        struct stat held, named;
        // A writer's lock ends with the writer: a file nobody holds is a leftover.
        if (fd && ::fstat(fd.get(), &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(held, named))
            ::unlinkat(dir_fd, entry->d_name, 0);
    }
}

}  // namespace korvanta_hardware
