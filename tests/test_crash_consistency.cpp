// A process that dies at any moment while it rewrites the robot identifier must
// leave the file holding one of the two identifiers, whole, with its mode: the
// replacement is a rename, so there is no moment at which the file is empty or
// half written. Hundreds of writers are killed with SIGKILL at random moments.
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "korvanta_hardware.h"
#include "unit_test.h"

using namespace korvanta_hardware;
using namespace korvanta_sim;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kFirst = "0123456789abcdef0123456789abcdef";
const std::string kSecond = "fedcba9876543210fedcba9876543210";
constexpr mode_t kMode = 0640;  // not what a new file would get, so a lost mode shows
constexpr int kKills = 500;
constexpr auto kTimeLimit = std::chrono::seconds(45);
const std::string kRobotIdPath = std::string(kIdentityDir) + "/robot_id";
const std::string kTemporaryPrefix = ".robot_id.tmp-";

// A child that rewrites the robot identifier, alternating the two, until it is
// killed. It says when it is about to start.
pid_t start_writer() {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        HardwareFile store;
        ssize_t ignored = ::write(ready[1], "x", 1);
        (void)ignored;
        for (bool second = true;; second = !second) store.WriteRobotUuid(second ? kSecond : kFirst);
    }
    ::close(ready[1]);
    char byte;
    ssize_t ignored = ::read(ready[0], &byte, 1);
    (void)ignored;
    ::close(ready[0]);
    return pid;
}

void pause_for(std::chrono::nanoseconds duration) {
    struct timespec delay = {static_cast<time_t>(duration.count() / 1000000000),
                             static_cast<long>(duration.count() % 1000000000)};
    while (::nanosleep(&delay, &delay) != 0) {
    }
}

// Names of the temporary files a killed writer left in the identity directory;
// every other name there but robot_id is reported as well, and so is a
// directory that cannot be read to its end.
std::vector<std::string> leftovers() {
    std::vector<std::string> names;
    DIR* dir = ::opendir(kIdentityDir);
    if (dir == nullptr) return {"(identity directory gone)"};
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "robot_id") names.push_back(name);
    }
    if (errno != 0) names.push_back(std::string("(identity directory unreadable: ") + std::strerror(errno) + ")");
    ::closedir(dir);
    return names;
}

// How long one replacement takes here: the kill moments are spread over a few of them.
std::chrono::nanoseconds one_write() {
    HardwareFile store;
    constexpr int kSamples = 20;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kSamples; ++i) store.WriteRobotUuid(i % 2 ? kSecond : kFirst);
    return (Clock::now() - start) / kSamples;
}

}  // namespace

using CrashConsistency = OnSimulatedUnit;

TEST_F(CrashConsistency, KilledWriterLeavesOneOfTheTwoIdentifiersWhole) {
    write_identity_file("robot_id", kFirst + "\n");
    ASSERT_EQ(::chmod(kRobotIdPath.c_str(), kMode), 0);
    ::prctl(PR_SET_TIMERSLACK, 1UL);  // sleep as long as asked, not up to 50 us longer
    const std::chrono::nanoseconds window = 3 * one_write();

    std::mt19937_64 random(std::random_device{}());
    std::uniform_int_distribution<long long> moment(0, window.count());
    int kills = 0, interrupted = 0, changes = 0;
    std::string previous = kFirst + "\n";
    const Clock::time_point deadline = Clock::now() + kTimeLimit;
    for (; kills < kKills && Clock::now() < deadline; ++kills) {
        pid_t writer = start_writer();
        ASSERT_GT(writer, 0);
        pause_for(std::chrono::nanoseconds(moment(random)));
        ::kill(writer, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(writer, &status, 0), writer);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";

        std::string content = read_file(kRobotIdPath).value_or("(missing)");
        ASSERT_TRUE(content == kFirst + "\n" || content == kSecond + "\n")
            << "after kill " << kills << " the file holds \"" << content << "\"";
        struct stat st;
        ASSERT_EQ(::stat(kRobotIdPath.c_str(), &st), 0);
        ASSERT_EQ(st.st_mode & 07777, kMode) << "after kill " << kills;
        if (content != previous) ++changes;
        previous = content;

        // A writer killed between creating its temporary file and renaming it
        // leaves that file; nothing else may appear.
        for (const std::string& name : leftovers()) {
            ASSERT_EQ(name.rfind(kTemporaryPrefix, 0), 0u) << "unexpected " << name;
            ++interrupted;
            ::unlink((std::string(kIdentityDir) + "/" + name).c_str());
        }
    }
    std::printf("%d writers killed within %lld us of starting; %d in the middle of a replacement, %d after a new one\n",
                kills, static_cast<long long>(window.count() / 1000), interrupted, changes);
    EXPECT_GE(kills, 100) << "too few kills within the time limit to mean much";
    // Otherwise the kills missed the writes and the test proved nothing.
    EXPECT_GT(interrupted, 0);
    EXPECT_GT(changes, 0);
}
