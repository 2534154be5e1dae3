// Replacing an identity file: what the replacement keeps (mode, owner, links),
// what it never leaves behind, when it falls back to rewriting in place, and
// that a reader never sees a half-written file.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "korvanta_hardware.h"
#include "unit_test.h"
#include "unprivileged.h"

namespace fs = std::filesystem;
using korvanta_hardware::HardwareFile;
using namespace korvanta_sim;

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
    write_identity_file("robot_id", kOtherId + "\n");
    make_full(kIdentityDir);
    std::string err = stderr_of([&] {
        EXPECT_FALSE(backend.WriteRobotUuid(kId));
        EXPECT_FALSE(backend.WriteRobotSn(kId));
    });
    EXPECT_EQ(err, "Failed to write the file.\nFailed to write the file.\n");
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{".filler", "robot_id"}));
    EXPECT_EQ(read_file(kRobotId), kOtherId + "\n");
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
    ChildResult child = unprivileged(Drop::kCapabilities, [] { return HardwareFile().WriteRobotUuid(kId) ? 0 : 1; });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.stderr_text, "");
    EXPECT_EQ(read_file(kRobotId), kId + "\n");
    EXPECT_EQ(entries_of(kIdentityDir), (std::set<std::string>{"robot_id"}));
}

// ---- Concurrent reader ----

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
