// A process that dies at any moment while it rewrites the robot identifier must
// leave the file holding one of the two identifiers, whole, with its mode: the
// replacement is a rename, so there is no moment at which the file is empty or
// half written. Hundreds of writers are killed with SIGKILL at random moments,
// with unnamed temporary files and, without /proc, with named ones; whatever a
// killed writer leaves, the next write removes.
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <set>
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

enum class Temporaries { kUnnamed, kNamed };

// A child that rewrites the robot identifier, alternating the two, until it is
// killed. It says when it is about to start.
pid_t start_writer(Temporaries temporaries) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        if (temporaries == Temporaries::kNamed && !without_proc()) ::_exit(1);
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

// Every name in the identity directory but robot_id: the temporary files killed
// writers left, and anything else that should not be there; a directory that
// cannot be read to its end is reported too.
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

struct Kills {
    int kills = 0;
    int changes = 0;         // kills after which the file held the other identifier
    size_t leftovers = 0;    // temporary files left at some moment
    size_t most_at_once = 0;
};

// Kills writers at random moments within a few replacements of their start,
// checking the file after each.
Kills kill_writers(Temporaries temporaries) {
    write_identity_file("robot_id", kFirst + "\n");
    EXPECT_EQ(::chmod(kRobotIdPath.c_str(), kMode), 0);
    ::prctl(PR_SET_TIMERSLACK, 1UL);  // sleep as long as asked, not up to 50 us longer
    const std::chrono::nanoseconds window = 3 * one_write();

    std::mt19937_64 random(std::random_device{}());
    std::uniform_int_distribution<long long> moment(0, window.count());
    Kills result;
    std::set<std::string> seen;
    std::string previous = kFirst + "\n";
    const Clock::time_point deadline = Clock::now() + kTimeLimit;
    for (; result.kills < kKills && Clock::now() < deadline; ++result.kills) {
        pid_t writer = start_writer(temporaries);
        EXPECT_GT(writer, 0);
        if (writer <= 0) break;
        pause_for(std::chrono::nanoseconds(moment(random)));
        ::kill(writer, SIGKILL);
        int status = 0;
        EXPECT_EQ(::waitpid(writer, &status, 0), writer);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";

        std::string content = read_file(kRobotIdPath).value_or("(missing)");
        EXPECT_TRUE(content == kFirst + "\n" || content == kSecond + "\n")
            << "after kill " << result.kills << " the file holds \"" << content << "\"";
        struct stat st;
        EXPECT_EQ(::stat(kRobotIdPath.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, kMode) << "after kill " << result.kills;
        if (content != previous) ++result.changes;
        previous = content;

        // Only temporary files may appear; they stay until a later write removes them.
        std::vector<std::string> names = leftovers();
        for (const std::string& name : names) {
            EXPECT_EQ(name.rfind(kTemporaryPrefix, 0), 0u) << "unexpected " << name;
            seen.insert(name);
        }
        result.most_at_once = std::max(result.most_at_once, names.size());
        if (::testing::Test::HasFailure()) break;
    }
    result.leftovers = seen.size();
    std::printf("%s temporaries: %d writers killed within %lld us of starting, %d after a new identifier; "
                "%zu temporary files left by them, at most %zu at once\n",
                temporaries == Temporaries::kNamed ? "named" : "unnamed", result.kills,
                static_cast<long long>(window.count() / 1000), result.changes, result.leftovers, result.most_at_once);
    return result;
}

}  // namespace

using CrashConsistency = OnSimulatedUnit;

TEST_F(CrashConsistency, KilledWriterLeavesOneOfTheTwoIdentifiersWhole) {
    for (Temporaries temporaries : {Temporaries::kUnnamed, Temporaries::kNamed}) {
        Kills kills = kill_writers(temporaries);
        EXPECT_GE(kills.kills, 100) << "too few kills within the time limit to mean much";
        // Otherwise the kills missed the writes and the test proved nothing.
        EXPECT_GT(kills.changes, 0);
        // Named files live through the whole write, so some kills must have left one.
        if (temporaries == Temporaries::kNamed) {
            EXPECT_GT(kills.leftovers, 0u);
        }
        // A write by a living writer removes what dead ones left.
        EXPECT_TRUE(HardwareFile().WriteRobotUuid(kFirst));
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
}
