#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "text_file.h"
#include "unique_fd.h"

namespace korvanta_hardware {
namespace {

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links so that the link survives and its target is replaced.
std::string final_target(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char target[PATH_MAX];
        ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) return path;
        std::string link(target, static_cast<size_t>(n));
        path = link.front() == '/' ? link : directory_of(path) + "/" + link;
    }
    return path;
}

// A temporary file beside the target, removed again unless it was renamed into place.
class TemporaryFile {
public:
    TemporaryFile(const std::string& directory, const std::string& name) {
        for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
            std::string candidate =
                directory + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            // 0666 less the umask: the mode a newly created identity file gets.
            fd_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (fd_) path_ = candidate;
            else if (errno != EEXIST) break;
        }
    }
    ~TemporaryFile() {
        fd_.reset();
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool created() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    bool close() { return fd_.close(); }

    bool rename_to(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    UniqueFd fd_;
    std::string path_;
};

// A directory we may write but not read cannot be synced; the rename stands all the same.
bool sync_directory(const std::string& directory) {
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return !fd || ::fsync(fd.get()) == 0;
}

// The replacement must not change who may read or write the identity. Owner and
// group only where the process may set them, else at least the group; chown
// comes first because it may clear the set-id bits.
bool take_over_owner_and_mode(int fd, const struct stat& old) {
    // Where neither is allowed, the file belongs to the writer, as a new one would.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

ReplaceResult rewrite_in_place(const std::string& path, const std::string& content) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) return ReplaceResult::kOpenFailed;
    if (!write_all(fd.get(), content) || ::fsync(fd.get()) != 0 || !fd.close()) return ReplaceResult::kWriteFailed;
    return ReplaceResult::kReplaced;
}

}  // namespace

ReplaceResult replace_file(const std::string& path, const std::string& content) {
    const std::string target = final_target(path);
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // A directory, a link loop, a path we may not search: the plain open fails as it should.
    if (exists ? !S_ISREG(old.st_mode) : errno != ENOENT) return rewrite_in_place(target, content);
    // Renaming over a file we may not write would bypass its permissions.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return ReplaceResult::kOpenFailed;

    const std::string directory = directory_of(target);
    TemporaryFile temporary(directory, name_of(target));
    if (!temporary.created()) return rewrite_in_place(target, content);

    if (!write_all(temporary.fd(), content)) return ReplaceResult::kWriteFailed;
    if (exists && !take_over_owner_and_mode(temporary.fd(), old)) return ReplaceResult::kWriteFailed;
    if (::fsync(temporary.fd()) != 0 || !temporary.close()) return ReplaceResult::kWriteFailed;
    if (!temporary.rename_to(target)) return ReplaceResult::kWriteFailed;
    // The new name is only durable once the directory is.
    if (!sync_directory(directory)) return ReplaceResult::kWriteFailed;
    return ReplaceResult::kReplaced;
}

}  // namespace korvanta_hardware
