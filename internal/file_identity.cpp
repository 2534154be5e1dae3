#include "file_identity.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace korvanta_hardware {
namespace {

// Calls get(buffer, size) as the xattr calls want: size 0 asks for the size.
// Retries when the value grew between the two calls.
template <typename Get>
std::optional<std::string> fetch(Get get) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size = get(nullptr, 0);
        if (size <= 0) return size == 0 ? std::optional<std::string>("") : std::nullopt;
        std::string buffer(static_cast<size_t>(size), '\0');
        size = get(buffer.data(), buffer.size());
        if (size >= 0) return buffer.substr(0, static_cast<size_t>(size));
        if (errno != ERANGE) return std::nullopt;
    }
    return std::nullopt;
}

// Nothing when the names cannot be listed; none on a file system without attributes.
std::optional<std::vector<std::string>> attribute_names(int fd) {
    std::optional<std::string> list = fetch([fd](char* buffer, size_t size) { return ::flistxattr(fd, buffer, size); });
    if (!list) return errno == ENOTSUP ? std::optional<std::vector<std::string>>({}) : std::nullopt;
    std::vector<std::string> names;
    for (size_t start = 0, end; start < list->size(); start = end + 1) {
        end = list->find('\0', start);
        if (end == std::string::npos) end = list->size();
        names.push_back(list->substr(start, end - start));
    }
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Makes to's attributes those of from: the directory's default ACL or a
// security module may have given to some of its own.
bool copy_attributes(int from, int to) {
    std::optional<std::vector<std::string>> wanted = attribute_names(from);
    std::optional<std::vector<std::string>> present = attribute_names(to);
    if (!wanted || !present) return false;
    for (const std::string& name : *present)
        if (!contains(*wanted, name) && ::fremovexattr(to, name.c_str()) != 0) return false;
    for (const std::string& name : *wanted) {
        std::optional<std::string> value =
            fetch([&](char* buffer, size_t size) { return ::fgetxattr(from, name.c_str(), buffer, size); });
        if (!value || ::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) return false;
    }
    return true;
}

// The flags chattr sets; none where the file system has no such thing. Flags
// the file system keeps for itself (extents, inline data) are no identity.
int inode_flags(int fd) {
    int flags = 0;
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? flags & (FS_FL_USER_MODIFIABLE | FS_NOCOW_FL) : 0;
}

}  // namespace

bool take_over_identity(int from, const struct stat& old, int to) {
    struct stat now;
    if (::fstat(to, &now) != 0) return false;
    // chown first: it clears set-id bits and file capabilities, which come back below.
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(to, old.st_uid, old.st_gid) != 0)
        return false;
    if (!copy_attributes(from, to) || inode_flags(from) != inode_flags(to)) return false;
    // An ACL set the group bits from its mask; chmod writes the same mask back.
    if (::fchmod(to, old.st_mode & 07777) != 0 || ::fstat(to, &now) != 0) return false;
    // A set-group-id bit the writer may not set is dropped without an error.
    return now.st_uid == old.st_uid && now.st_gid == old.st_gid && (now.st_mode & 07777) == (old.st_mode & 07777);
}

bool keep_mode(int fd, const struct stat& old) {
    struct stat now;
    if (::fstat(fd, &now) != 0) return false;
    if ((now.st_mode & 07777) == (old.st_mode & 07777)) return true;
    return ::fchmod(fd, old.st_mode & 07777) == 0 && ::fstat(fd, &now) == 0 &&
           (now.st_mode & 07777) == (old.st_mode & 07777);
}

}  // namespace korvanta_hardware
