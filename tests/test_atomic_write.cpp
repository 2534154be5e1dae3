// Replacing an identity file: what the replacement keeps (mode, owner, links,
// ACL and other extended attributes), what it never leaves behind, when it
// falls back to rewriting in place, and that a reader never sees a half-written
// or empty file.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "failing_allocation.h"
#include "korvanta_hardware.h"
#include "unit_test.h"
#include "unprivileged.h"

namespace fs = std::filesystem;
using korvanta_hardware::HardwareFile;
using namespace korvanta_sim;

// ---- Watching the library from inside the process ----
// Set only while a single-threaded test runs the operation under watch.

std::atomic<bool> watch_writes{false};
std::vector<struct stat> written_files;  // each regular file a write() went to, as it was then
std::atomic<bool> watch_syncs{false};
std::atomic<int> directory_syncs{0};  // fsync() of a directory, or syncfs() of the file system

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(::dlsym(RTLD_NEXT, "write"));
    struct stat st;
    if (watch_writes && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) written_files.push_back(st);
    return real(fd, data, size);
}

int counted_sync(const char* name, int fd, bool directories_only) {
    const int result = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, name))(fd);
    struct stat st;
    if (watch_syncs && result == 0 && (!directories_only || (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))))
        ++directory_syncs;
    return result;
}
extern "C" int fsync(int fd) { return counted_sync("fsync", fd, true); }
extern "C" int syncfs(int fd) { return counted_sync("syncfs", fd, false); }

namespace {

const std::string kId = "0123456789abcdef0123456789abcdef";
const std::string kOtherId = "fedcba9876543210fedcba9876543210";
const std::string kRobotId = std::string(kIdentityDir) + "/robot_id";

std::set<std::string> entries_of(const std::string& directory) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename());
    return names;
}

struct stat status_of(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

mode_t permissions_of(const std::string& path) { return status_of(path).st_mode & 07777; }

std::map<std::string, std::string> attributes_of(const std::string& path) {
    std::map<std::string, std::string> attributes;
    char names[4096], value[4096];
    ssize_t size = ::listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        ssize_t length = ::getxattr(path.c_str(), names + at, value, sizeof value);
        attributes[names + at] = length < 0 ? "(unreadable)" : std::string(value, static_cast<size_t>(length));
    }
    return attributes;
}

// user::rw- user:0:r-- group::--- mask::r-- other::---, as the kernel stores it:
// the mode's group bits (r) are the mask, wider than the owning group's ---.
std::string access_acl() {
    struct Entry {
        uint16_t tag, permissions;
        uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, ~0u}, {0x02, 4, 0}, {0x04, 0, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
    std::string acl("\x02\0\0\0", 4);
    acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return acl;
}

// Reads path over and over while write runs; counts the reads that whole rejects.
long bad_reads_while(const std::string& path, const std::function<void()>& write,
                     const std::function<bool(const std::string&)>& whole) {
    std::atomic<bool> done{false};
    long bad = 0;
    std::thread reader([&] {
        while (!done)
            if (!whole(read_file(path).value_or("(cannot open)"))) ++bad;
    });
    write();
    done = true;
    reader.join();
    return bad;
}

// 200 threads replace the robot identifier at once; the result counts the
// reads that saw anything but one of the two whole identifiers, and failed writes.
int contend() {
    std::atomic<int> failed{0};
    const long bad = bad_reads_while(
        kRobotId,
        [&] {
            std::vector<std::thread> writers;
            for (int t = 0; t < 200; ++t)
                writers.emplace_back([&, t] {
                    for (int i = 0; i < 3; ++i)
                        if (!HardwareFile().WriteRobotUuid((t + i) % 2 ? kId : kOtherId)) ++failed;
                });
            for (std::thread& writer : writers) writer.join();
        },
        [](const std::string& content) { return content == kId + "\n" || content == kOtherId + "\n"; });
    std::fprintf(stderr, "%ld reads saw no whole identifier, %d writes failed\n", bad, failed.load());
    return bad == 0 && failed == 0 ? 0 : 1;
}

class AtomicWrite : public OnSimulatedUnit {
protected:
    HardwareFile backend;
};

// ---- What the replacement keeps ----

TEST_F(AtomicWrite, ExistingFileKeepsItsPermissionBits) {
    for (mode_t mode : {0640, 0600, 0604, 0444, 04750}) {
        write_identity_file("robot_id", kOtherId + "\n");
        ASSERT_EQ(::chmod(kRobotId.c_str(), mode), 0);
        EXPECT_TRUE(backend.WriteRobotUuid(kId));  // root may write even 0444
        EXPECT_EQ(read_file(kRobotId), kId + "\n");
        EXPECT_EQ(permissions_of(kRobotId), mode) << std::oct << mode;
    }
}

TEST_F(AtomicWrite, NewFileGetsReadWriteForAllLessUmask) {
    write_identity_file("robot_sn", "");  // the directory only
    const mode_t saved = ::umask(0);
    for (mode_t mask : {0022, 0077, 0}) {
        ::umask(mask);
        fs::remove(kRobotId);
        EXPECT_TRUE(backend.WriteRobotUuid(kId));
        EXPECT_EQ(permissions_of(kRobotId), 0666 & ~mask) << std::oct << mask;
    }
    ::umask(saved);
}

TEST_F(AtomicWrite, OwnerAndGroupAreKept) {
    write_identity_file("robot_id", kOtherId + "\n");
    if (::chown(kRobotId.c_str(), 1234, 5678) != 0)
        GTEST_SKIP() << "cannot give a file to uid 1234 here: the unprivileged sandbox maps root alone";
    EXPECT_TRUE(backend.WriteRobotUuid(kId));
    EXPECT_EQ(status_of(kRobotId).st_uid, 1234u);
    EXPECT_EQ(status_of(kRobotId).st_gid, 5678u);
}

TEST_F(AtomicWrite, GroupIsKeptWhenTheWriterMayNotKeepTheOwner) {
    if (!can_become_nobody()) GTEST_SKIP() << kNeedsRealRoot;
    write_identity_file("robot_id", kOtherId + "\n");
    // The set-group-id directory gives a new file its group 0, not the writer's.
    ASSERT_EQ(::chmod(kIdentityDir, 02777), 0);
    ASSERT_EQ(::chown(kRobotId.c_str(), 0, kNobody), 0);
    ASSERT_EQ(::chmod(kRobotId.c_str(), 0664), 0);
    ChildResult child = unprivileged(Drop::kToNobody, [] { return HardwareFile().WriteRobotUuid(kId) ? 0 : 1; });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.stderr_text, "");
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
    EXPECT_EQ(status_of(kRobotId).st_uid, 0u);
    EXPECT_EQ(status_of(kRobotId).st_gid, kNobody);
    EXPECT_EQ(permissions_of(kRobotId), 0664u);
}

TEST_F(AtomicWrite, SymbolicLinksStayAndTheirTargetIsReplaced) {
    const std::string store = std::string(kIdentityDir) + "/store";
    fs::create_directories(store);
    write_identity_file("store/real_id", kOtherId + "\n");
    // robot_id -> store/middle (relative) -> /etc/korvanta/store/real_id (absolute)
    fs::create_symlink(store + "/real_id", store + "/middle");
    fs::create_symlink("store/middle", kRobotId);
    ASSERT_EQ(::chmod((store + "/real_id").c_str(), 0640), 0);

    EXPECT_TRUE(backend.WriteRobotUuid(kId));
    EXPECT_TRUE(fs::is_symlink(kRobotId));
    EXPECT_TRUE(fs::is_symlink(store + "/middle"));
    EXPECT_EQ(read_file(store + "/real_id"), kId + "\n");
    EXPECT_EQ(permissions_of(store + "/real_id"), 0640u);
    EXPECT_EQ(backend.GetRobotUuid(), kId);
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id", "store"}));
    EXPECT_EQ(entries_of(store), (std::set<std::string>{"middle", "real_id"}));
}

TEST_F(AtomicWrite, DanglingLinkGetsItsTargetCreated) {
    write_identity_file("robot_sn", "");
    fs::create_symlink("robot_id.real", kRobotId);
    EXPECT_TRUE(backend.WriteRobotUuid(kId));
    EXPECT_TRUE(fs::is_symlink(kRobotId));
    EXPECT_EQ(read_file(std::string(kIdentityDir) + "/robot_id.real"), kId + "\n");
}

TEST_F(AtomicWrite, HardLinkedFileIsRewrittenInPlace) {
    write_identity_file("robot_id", kOtherId + "\n");
    const std::string other_name = std::string(kIdentityDir) + "/robot_id.link";
    ASSERT_EQ(::link(kRobotId.c_str(), other_name.c_str()), 0);
    EXPECT_TRUE(backend.WriteRobotUuid(kId));
    EXPECT_EQ(read_file(other_name), kId + "\n");
    EXPECT_EQ(status_of(other_name).st_ino, status_of(kRobotId).st_ino);
}

TEST_F(AtomicWrite, AclAndExtendedAttributesAreCopiedOntoTheReplacement) {
    write_identity_file("robot_id", kOtherId + "\n");
    std::map<std::string, std::string> attributes = {{"system.posix_acl_access", access_acl()},
                                                     {"user.provisioned-by", "station 7"}};
    for (const auto& [name, value] : attributes)
        if (::setxattr(kRobotId.c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
            GTEST_SKIP() << "this file system takes no " << name << ": " << std::strerror(errno);
    // A label only real root may set; the unprivileged sandbox goes without.
    if (::setxattr(kRobotId.c_str(), "security.korvanta", "label", 5, 0) == 0)
        attributes["security.korvanta"] = "label";
    const struct stat before = status_of(kRobotId);

    EXPECT_TRUE(backend.WriteRobotUuid(kId));
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
    EXPECT_NE(status_of(kRobotId).st_ino, before.st_ino) << "rewritten in place, not replaced";
    EXPECT_EQ(attributes_of(kRobotId), attributes);
    EXPECT_EQ(permissions_of(kRobotId), before.st_mode & 07777);
}

TEST_F(AtomicWrite, AttributeTheWriterMayNotSetKeepsTheFileItself) {
    write_identity_file("robot_id", kOtherId + "\n");
    if (::setxattr(kRobotId.c_str(), "security.korvanta", "label", 5, 0) != 0)
        GTEST_SKIP() << "cannot set a security attribute here: " << std::strerror(errno);
    const ino_t inode = status_of(kRobotId).st_ino;
    // Without CAP_SYS_ADMIN the label can be read but not given to a new file.
    ChildResult child = unprivileged(Drop::kCapabilities, [] { return HardwareFile().WriteRobotUuid(kId) ? 0 : 1; });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.stderr_text, "");
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
    EXPECT_EQ(status_of(kRobotId).st_ino, inode);
    EXPECT_EQ(attributes_of(kRobotId), (std::map<std::string, std::string>{{"security.korvanta", "label"}}));
}

// ---- Special files ----

TEST_F(AtomicWrite, FifoIsNoFileAndNoWriteBlocksOnIt) {
    write_identity_file("robot_sn", "");
    ASSERT_EQ(::mkfifo(kRobotId.c_str(), 0666), 0);
    for (bool with_reader : {false, true}) {
        // A reader that never reads: a write to the FIFO would then fill it and block.
        int reader = with_reader ? ::open(kRobotId.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        ChildResult child = unprivileged(Drop::kNothing, [] {
            ::alarm(10);
            return HardwareFile().WriteRobotUuid(kId) ? 0 : 1;
        });
        EXPECT_EQ(child.exit_code, 1) << (with_reader ? "with" : "without") << " a reader";
        EXPECT_EQ(child.stderr_text, "Failed to open the file.\n");
        if (reader >= 0) ::close(reader);
    }
    EXPECT_TRUE(S_ISFIFO(status_of(kRobotId).st_mode));
}

TEST_F(AtomicWrite, LinkToDevNullTakesTheWriteAndStays) {
    write_identity_file("robot_sn", "");
    fs::create_symlink("/dev/null", kRobotId);
    std::string err = stderr_of([&] { EXPECT_TRUE(backend.WriteRobotUuid(kId)); });
    EXPECT_EQ(err, "");  // its fsync fails with EINVAL: nothing to sync is no failure
    EXPECT_EQ(fs::read_symlink(kRobotId), "/dev/null");
    EXPECT_TRUE(S_ISCHR(status_of("/dev/null").st_mode));
}

// ---- Nothing left behind ----

TEST_F(AtomicWrite, NoTemporaryFilesAfterSuccess) {
    write_identity_file("robot_id", kOtherId + "\n");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(backend.WriteRobotUuid(i % 2 ? kId : kOtherId));
        EXPECT_TRUE(backend.WriteRobotSn(kId));
        EXPECT_TRUE(backend.WriteRobotEnvCode(i));
    }
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id", "robot_sn", "robot_status_code"}));
}

TEST_F(AtomicWrite, NoTemporaryFilesAfterFailure) {
    write_identity_file("robot_id", "");  // owns no block: the new content needs one a full file system lacks
    make_full(kIdentityDir);
    std::string err = stderr_of([&] {
        EXPECT_FALSE(backend.WriteRobotUuid(kId));
        EXPECT_FALSE(backend.WriteRobotSn(kId));
    });
    EXPECT_EQ(err, "Failed to write the file.\nFailed to write the file.\n");
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{".filler", "robot_id"}));
    EXPECT_EQ(read_file(kRobotId), "");
}

TEST_F(AtomicWrite, FailedAllocationLeavesNothingBehind) {
    write_identity_file("robot_id", kOtherId + "\n");
    bool written = false;
    for (long allocation = 1; !written && allocation < 1000; ++allocation) {
        fail_allocation = allocation;
        try {
            written = backend.WriteRobotUuid(kId);
        } catch (const std::bad_alloc&) {
        }
        fail_allocation = 0;
        EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id"})) << "allocation " << allocation;
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
}

TEST_F(AtomicWrite, ContentNeverSitsInAFileLooserThanTheTarget) {
    const mode_t saved = ::umask(0);
    for (mode_t mask : {0, 022})
        for (mode_t mode : {0600, 0640, 0400}) {
            ::umask(mask);
            write_identity_file("robot_id", kOtherId + "\n");
            ASSERT_EQ(::chmod(kRobotId.c_str(), mode), 0);
            (void)::chown(kRobotId.c_str(), 1234, 5678);  // where the sandbox maps them
            const struct stat target = status_of(kRobotId);
            written_files.clear();
            watch_writes = true;
            EXPECT_TRUE(backend.WriteRobotUuid(kId));
            watch_writes = false;
            EXPECT_FALSE(written_files.empty());
            for (const struct stat& st : written_files) {
                EXPECT_EQ(st.st_mode & 07777, mode) << "umask " << std::oct << mask;
                EXPECT_EQ(st.st_uid, target.st_uid);
                EXPECT_EQ(st.st_gid, target.st_gid);
            }
        }
    ::umask(saved);
}

// ---- Permissions of the writer ----
// The writer keeps uid 0 but loses its capabilities, so the modes below deny it
// as they would deny anyone.

TEST_F(AtomicWrite, FileTheWriterMayNotWriteIsNotReplacedThroughTheDirectory) {
    write_identity_file("robot_id", kOtherId + "\n");
    ASSERT_EQ(::chmod(kIdentityDir, 0777), 0);  // a rename would be allowed here
    ASSERT_EQ(::chmod(kRobotId.c_str(), 0444), 0);
    ChildResult child = unprivileged(Drop::kCapabilities, [] { return HardwareFile().WriteRobotUuid(kId) ? 0 : 1; });
    EXPECT_EQ(child.exit_code, 1);
    EXPECT_EQ(child.stderr_text, "Failed to open the file.\n");
    EXPECT_EQ(read_file(kRobotId), kOtherId + "\n");
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id"}));
}

TEST_F(AtomicWrite, WritableFileInReadOnlyDirectoryIsRewrittenInPlace) {
    write_identity_file("robot_id", kOtherId + "\nsecond line\n");
    ASSERT_EQ(::chmod(kRobotId.c_str(), 0646), 0);
    ASSERT_EQ(::chmod(kIdentityDir, 0555), 0);
    ChildResult child = unprivileged(Drop::kCapabilities, [] {
        HardwareFile writer;
        if (!writer.WriteRobotUuid(kId)) return 1;
        return writer.WriteRobotSn(kId) ? 2 : 0;  // a missing file cannot be created there
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.stderr_text, "Failed to open the file.\n");
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
    EXPECT_EQ(permissions_of(kRobotId), 0646u);
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id"}));
}

TEST_F(AtomicWrite, DirectoryTheWriterMayNotListStillTakesTheReplacement) {
    write_identity_file("robot_id", kOtherId + "\n");
    ASSERT_EQ(::chmod(kRobotId.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(kIdentityDir, 0333), 0);  // search and write, no read: it cannot be synced
    ChildResult child = unprivileged(Drop::kCapabilities, [] {
        watch_syncs = true;
        if (!HardwareFile().WriteRobotUuid(kId)) return 1;
        return directory_syncs > 0 ? 0 : 2;  // its file system is synced instead
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.stderr_text, "");
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id"}));
}

// A write that says true is durable whichever descriptor it could not get:
// the new name was synced, or the file rewritten in place and synced itself.
TEST_F(AtomicWrite, SuccessWithFewDescriptorsLeftIsDurable) {
    for (rlim_t spare = 0; spare < 8; ++spare) {
        write_identity_file("robot_id", kOtherId + "\n");
        ChildResult child = unprivileged(Drop::kNothing, [spare] {
            struct rlimit limit;
            const ino_t before = status_of(kRobotId).st_ino;
            const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (::close(lowest) != 0 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
            limit.rlim_cur = static_cast<rlim_t>(lowest) + spare;
            if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
            watch_syncs = true;
            const bool written = HardwareFile().WriteRobotUuid(kId);
            return written && status_of(kRobotId).st_ino != before && directory_syncs == 0 ? 1 : 0;
        });
        EXPECT_EQ(child.exit_code, 0) << spare << " descriptors to spare: " << child.stderr_text;
    }
}

// No temporary can be named beside it: a new file is made and synced with its
// directory, and an old one rewritten in place.
TEST_F(AtomicWrite, NameTooLongForATemporaryIsWrittenInPlace) {
    write_identity_file("robot_sn", "");  // the directory only
    const std::string path = std::string(kIdentityDir) + "/" + std::string(240, 'n');
    directory_syncs = 0;
    watch_syncs = true;
    EXPECT_TRUE(HardwareFile::write_str_to_file(kOtherId, path));
    EXPECT_GT(directory_syncs, 0);
    EXPECT_TRUE(HardwareFile::write_str_to_file(kId, path));
    watch_syncs = false;
    EXPECT_EQ(read_file(path), kId + "\n");
}

// ---- Concurrent readers and writers ----

TEST_F(AtomicWrite, ManyWritersAtOnceNeverShowAnEmptyFile) {
    write_identity_file("robot_id", kOtherId + "\n");
    EXPECT_EQ(contend(), 0);
    // Where the library names its temporary files, names never run out either.
    ChildResult named = unprivileged(Drop::kNothing, [] { return without_proc() ? contend() : 2; });
    EXPECT_EQ(named.exit_code, 0) << named.stderr_text;
    std::printf("named temporaries: %s", named.stderr_text.c_str());
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id"}));
}

TEST_F(AtomicWrite, InPlaceRewriteNeverShowsAnEmptyOrShorterFile) {
    write_identity_file("robot_status_code", "70000\n\n");
    const std::string path = std::string(kIdentityDir) + "/robot_status_code";
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(kIdentityDir, 0555), 0);  // no temporary file: rewritten in place
    ChildResult writer;
    long bad = bad_reads_while(
        path,
        [&] {
            writer = unprivileged(Drop::kCapabilities, [] {
                int failed = 0;
                for (int i = 0; i < 300; ++i) failed += !HardwareFile().WriteRobotEnvCode(i % 2 ? 70000 : 5);
                return failed;
            });
        },
        [](const std::string& content) { return content.size() >= 3; });  // "5\n\n" is the shortest
    EXPECT_EQ(writer.exit_code, 0) << writer.stderr_text;
    EXPECT_EQ(bad, 0);
}

TEST_F(AtomicWrite, ConcurrentReaderSeesOnlyWholeOldOrNewContent) {
    constexpr int kMinReads = 5000;
    constexpr int kMaxReads = 500000;
    constexpr int kMaxWrites = 5000;
    const std::string first = kOtherId + "\n";
    const std::string second = kId + "\n";
    write_identity_file("robot_id", first);

    // The reader reports on stderr and exits 0 when every read was one of the two full lines.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        ::dup2(report[1], STDERR_FILENO);
        long seen_first = 0, seen_second = 0;
        for (int i = 0; i < kMaxReads && (i < kMinReads || seen_first == 0 || seen_second == 0); ++i) {
            std::optional<std::string> content = read_file(kRobotId);
            if (content == first) ++seen_first;
            else if (content == second) ++seen_second;
            else {
                std::fprintf(stderr, "read %d saw \"%s\"", i, content ? content->c_str() : "(cannot open)");
                ::_exit(1);
            }
        }
        std::fprintf(stderr, "saw the first line %ld times, the second %ld times", seen_first, seen_second);
        ::_exit(seen_first > 0 && seen_second > 0 ? 0 : 2);
    }
    ::close(report[1]);

    int status = 0;
    bool reader_done = false;
    for (int i = 0; i < kMaxWrites && !reader_done; ++i) {
        EXPECT_TRUE(backend.WriteRobotUuid(i % 2 ? kOtherId : kId));
        reader_done = ::waitpid(reader, &status, WNOHANG) == reader;
    }
    if (!reader_done) {
        ::kill(reader, SIGKILL);
        ::waitpid(reader, &status, 0);
    }
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
    ::close(report[0]);

    EXPECT_TRUE(reader_done) << "the reader did not finish within " << kMaxWrites << " writes: " << said;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
    std::printf("concurrent reader: %s\n", said.c_str());
}

}  // namespace
