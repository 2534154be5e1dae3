#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>

#include "file_identity.h"
#include "temporary_file.h"
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

// O_NONBLOCK: a FIFO without a reader fails at once instead of holding the writer.
UniqueFd open_for_writing(const std::string& path, int flags) {
    flags |= O_WRONLY | O_NOCTTY;
    UniqueFd fd = open_descriptor(path.c_str(), flags | O_NONBLOCK, 0666);
    // A lease on a regular file: wait for its break, as a plain open does.
    struct stat st;
    if (!fd && errno == EWOULDBLOCK && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        fd = open_descriptor(path.c_str(), flags, 0666);
    return fd;
}

// A sync the file does not support (a character device, a pseudo file) is no failed write.
bool sync_file(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

// A directory we may write but not read cannot be synced; the rename stands all the same.
bool sync_directory(const std::string& directory) {
    UniqueFd fd = open_descriptor(directory.c_str(), O_RDONLY | O_DIRECTORY);
    return !fd || ::fsync(fd.get()) == 0;
}

// The name cannot be replaced (a mount point, a directory we may not change), but the file may be rewritten.
bool rename_refused(int error) {
    return error == EBUSY || error == EXDEV || error == EPERM || error == EACCES || error == EROFS;
}

struct OldFile {
    int fd;
    struct stat status;
};

// A temporary that could not be filled. When the file system ran out of room,
// the old file may still hold the new content in its own blocks, as it would
// after the truncate of a plain rewrite: nothing, so that the caller rewrites
// it in place, which first reserves what the content needs beyond them.
std::optional<ReplaceResult> not_filled(int error, const OldFile* old) {
    if ((error == ENOSPC || error == EDQUOT) && old) return std::nullopt;
    return ReplaceResult::kWriteFailed;
}

// Puts content in place under target through a temporary file. Nothing when
// that would change what the file is or cannot be done here: the caller then
// rewrites the file in place.
std::optional<ReplaceResult> replace_through_temporary(const std::string& target, const std::string& content,
                                                       const OldFile* old) {
    const std::string directory = directory_of(target);
    const std::string name = name_of(target);
    remove_stale_temporaries(directory, name);
    // A new file gets what a plain create gives; a copy of an old one admits no
    // one else until it has that file's owner and mode.
    TemporaryFile temporary(directory, name, old ? 0600 : 0666);
    if (!temporary.created())
        return temporary.error() == EEXIST ? std::optional(ReplaceResult::kWriteFailed) : std::nullopt;
    if (old && !take_over_identity(old->fd, old->status, temporary.fd())) return std::nullopt;
    if (!write_all(temporary.fd(), content)) return not_filled(errno, old);
    if (old && !keep_mode(temporary.fd(), old->status)) return std::nullopt;
    // A file system that allocates late runs out of room here.
    if (!sync_file(temporary.fd())) return not_filled(errno, old);
    // A rename into a full directory may need a block for the name.
    if (!temporary.rename_to(target)) return rename_refused(errno) ? std::nullopt : not_filled(errno, old);
    // The new name is only durable once the directory is.
    return sync_directory(directory) ? ReplaceResult::kReplaced : ReplaceResult::kWriteFailed;
}

// Room for content beyond the old file's end, taken before a byte is written:
// a write that ran out of room half-way would leave a mixed identity. Where
// the file system cannot reserve, the write itself finds out.
bool reserve(int fd, off_t old_size, off_t length) {
    if (length <= old_size || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length) == 0) return true;
    return errno != ENOSPC && errno != EDQUOT;
}

// Over the old bytes first, then cut to length: a reader may see a mix for a
// moment, never an empty or shorter file.
ReplaceResult rewrite_in_place(UniqueFd file, const struct stat& old, const std::string& content) {
    const off_t length = static_cast<off_t>(content.size());
    bool written;
    if (S_ISREG(old.st_mode))
        written = reserve(file.get(), old.st_size, length) && write_all_at(file.get(), content, 0) &&
                  (old.st_size <= length || ::ftruncate(file.get(), length) == 0);
    else  // a character device such as /dev/null takes the bytes where it stands
        written = write_all(file.get(), content);
    return written && sync_file(file.get()) && file.close() ? ReplaceResult::kReplaced : ReplaceResult::kWriteFailed;
}

}  // namespace

ReplaceResult replace_file(const std::string& path, const std::string& content) {
    const std::string target = final_target(path);
    UniqueFd file = open_for_writing(target, 0);
    if (!file && errno == ENOENT) {
        if (std::optional<ReplaceResult> result = replace_through_temporary(target, content, nullptr)) return *result;
        file = open_for_writing(target, O_CREAT);
    }
    if (!file) return ReplaceResult::kOpenFailed;
    struct stat old;
    if (::fstat(file.get(), &old) != 0) return ReplaceResult::kOpenFailed;
    // A FIFO, socket or block device holds no identity.
    if (!S_ISREG(old.st_mode) && !S_ISCHR(old.st_mode)) return ReplaceResult::kOpenFailed;
    // Every other name of a hard-linked file must see the new content too. No
    // link at all means another writer replaced it since the open: replace again.
    if (S_ISREG(old.st_mode) && old.st_nlink <= 1) {
        const OldFile replaced{file.get(), old};
        if (std::optional<ReplaceResult> result = replace_through_temporary(target, content, &replaced)) return *result;
    }
    return rewrite_in_place(std::move(file), old, content);
}

}  // namespace korvanta_hardware
