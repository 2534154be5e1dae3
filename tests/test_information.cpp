// The information object end to end on a simulated unit: which store it reads,
// in which order, what it caches, and what it leaves behind when it fails.
#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "korvanta_hardware.h"
#include "unit_test.h"

using korvanta_hardware::KorvantaHardwareInformation;
using namespace korvanta_sim;

static_assert(!std::is_copy_constructible_v<KorvantaHardwareInformation>);
static_assert(!std::is_copy_assignable_v<KorvantaHardwareInformation>);

// Allocation accounting for the exception-safety tests: while armed, every
// operator new is counted, the fail_at-th one throws, and blocks still live
// are tracked through a tag in front of each block.
namespace {

struct AllocationProbe {
    bool armed = false;
    long allocations = 0;
    long fail_at = 0;  // 0: never fail
    long live = 0;
};
AllocationProbe probe;

constexpr size_t kHeader = alignof(std::max_align_t);
constexpr unsigned kCounted = 0x600dc0de;

}  // namespace

void* operator new(size_t size) {
    bool counted = probe.armed;
    if (counted && ++probe.allocations == probe.fail_at) throw std::bad_alloc();
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw std::bad_alloc();
    *reinterpret_cast<unsigned*>(block) = counted ? kCounted : 0;
    if (counted) ++probe.live;
    return block + kHeader;
}

void operator delete(void* pointer) noexcept {
    if (pointer == nullptr) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    if (*reinterpret_cast<unsigned*>(block) == kCounted) --probe.live;
    std::free(block);
}

void operator delete(void* pointer, size_t) noexcept { operator delete(pointer); }

namespace {

const std::string kHwUuid = "00112233445566778899aabbccddeeff";
const std::string kSerial = "fedcba9876543210fedcba9876543210";
const std::string kRobotUuid = "0123456789abcdef0123456789abcdef";
const std::string kMachineId = "6d616368696e652d6964000000000001";
const std::string kZeros(32, '0');

// A file-backend unit with every item present and usable.
void put_identity_files() {
    IdentityFiles().hw_uuid(kHwUuid).serial(kSerial).robot_id(kRobotUuid).board_type(1).version(2).status(5)
        .machine_id(kMachineId).install();
    write_cpuinfo("processor\t: 0\nSerial\t\t: 00000000c0ffee01\n");
}

EepromImage programmed_eeprom() {
    return EepromImage::erased().hw_uuid(kHwUuid).serial(kSerial).robot_uuid(kRobotUuid).board_type(1).version(2).status(
        5);
}

size_t open_descriptors() {
    size_t count = 0;
    DIR* directory = ::opendir("/proc/self/fd");
    if (directory == nullptr) {
        ADD_FAILURE() << "cannot open /proc/self/fd";
        return 0;
    }
    errno = 0;
    while (::readdir(directory) != nullptr) ++count;
    if (errno != 0) ADD_FAILURE() << "cannot read /proc/self/fd to its end";
    ::closedir(directory);
    return count;
}

// Fails each allocation of one construction in turn: every failure must come
// out of the constructor as bad_alloc, with no block and no descriptor left.
void expect_every_failed_allocation_propagates_and_leaks_nothing() {
    probe = AllocationProbe{true, 0, 0, 0};
    { KorvantaHardwareInformation complete; }
    long total = probe.allocations;
    probe.armed = false;
    ASSERT_GT(total, 0);

    size_t descriptors = open_descriptors();
    for (long n = 1; n <= total; ++n) {
        probe = AllocationProbe{true, 0, n, 0};
        bool threw = false;
        try {
            KorvantaHardwareInformation info;
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        probe.armed = false;
        EXPECT_TRUE(threw) << "allocation " << n << " of " << total << " failed without an exception";
        EXPECT_EQ(probe.live, 0) << "blocks leaked when allocation " << n << " failed";
        EXPECT_EQ(open_descriptors(), descriptors) << "descriptor leaked when allocation " << n << " failed";
    }
}

// Names of the files opened under /etc/korvanta, /etc and /proc/cpuinfo, in order.
class OpenRecorder {
public:
    OpenRecorder() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        korvanta_ = ::inotify_add_watch(fd_, kIdentityDir, IN_OPEN);
        etc_ = ::inotify_add_watch(fd_, "/etc", IN_OPEN);
        cpuinfo_ = ::inotify_add_watch(fd_, kCpuinfoPath, IN_OPEN);
    }
    ~OpenRecorder() { ::close(fd_); }
    bool watching() const { return fd_ >= 0 && korvanta_ >= 0 && etc_ >= 0 && cpuinfo_ >= 0; }

    std::vector<std::string> opened() {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[4096];
        ssize_t length;
        while ((length = ::read(fd_, buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + length;) {
                auto* event = reinterpret_cast<inotify_event*>(at);
                std::string name = event->len ? event->name : "";
                if (event->wd == korvanta_) names.push_back(name);
                if (event->wd == etc_ && name == "machine-id") names.push_back(name);
                if (event->wd == cpuinfo_) names.push_back("cpuinfo");
                at += sizeof(inotify_event) + event->len;
            }
        }
        return names;
    }

private:
    int fd_;
    int korvanta_ = -1, etc_ = -1, cpuinfo_ = -1;
};

}  // namespace

using FileUnit = OnSimulatedUnit;
using EepromUnit = OnSimulatedUnit;
using Information = OnSimulatedUnit;

TEST_F(FileUnit, ReadsEveryItemFromTheIdentityFilesWithoutAMessage) {
    put_identity_files();
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_hw_uuid(), kHwUuid);
        EXPECT_EQ(info.get_robot_sn(), kSerial);
        EXPECT_EQ(info.get_uuid(), kRobotUuid);
        EXPECT_EQ(info.get_cpu_serial_number(), "00000000c0ffee01");
        EXPECT_EQ(info.get_board_type(), 1);
        EXPECT_EQ(info.get_robot_version(), 2);
        EXPECT_EQ(info.get_robot_status(), 5);
        EXPECT_EQ(&info.get_machine_id(), &info.get_uuid());
    });
    EXPECT_EQ(messages, "");
}

TEST_F(FileUnit, WithNothingOnItCodesAreMinusOneAndTextsNull) {
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_board_type(), -1);
        EXPECT_EQ(info.get_robot_version(), -1);
        EXPECT_EQ(info.get_robot_status(), -1);
        EXPECT_EQ(info.get_hw_uuid(), "null");
        EXPECT_EQ(info.get_robot_sn(), "null");
        EXPECT_EQ(info.get_uuid(), "null");
        EXPECT_EQ(info.get_machine_id(), "null");
        EXPECT_EQ(info.get_cpu_serial_number(), "null");
    });
    EXPECT_EQ(messages, "Empty robot_uuid\n");
}

TEST_F(FileUnit, RobotIdentifierFallsBackToTheMachineId) {
    write_machine_id(kMachineId + "\n");
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_uuid(), kMachineId);
        EXPECT_EQ(info.get_machine_id(), kMachineId);
    });
    EXPECT_EQ(messages, "Empty robot_uuid\nuuid replaced by hw_uuid\n");
}

TEST_F(FileUnit, BackendMessagesFollowTheReadingOrderByteForByte) {
    write_identity_file("hw_uuid", "abc\n");
    write_identity_file("robot_sn", "abcd\n");
    write_identity_file("robot_id", "abcde\n");
    write_machine_id(kMachineId + "\n");
    std::string messages = stderr_of([] { KorvantaHardwareInformation info; });
    EXPECT_EQ(messages,
              "file:/etc/korvanta/hw_uuid ID string size err. str_size:3 size:16"
              "file:/etc/korvanta/robot_sn ID string size err. str_size:4 size:16"
              "file:/etc/korvanta/robot_id ID string size err. str_size:5 size:16"
              "Empty robot_uuid\n"
              "uuid replaced by hw_uuid\n");
}

TEST_F(FileUnit, ReadsTheStoreOnceInTheFixedOrderAndTheCpuSerialLast) {
    put_identity_files();
    write_identity_file("robot_id", kZeros + "\n");  // unusable, so the machine id is read too
    OpenRecorder recorder;
    ASSERT_TRUE(recorder.watching());
    std::string messages = stderr_of([&] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(recorder.opened(),
                  (std::vector<std::string>{"hw_uuid", "robot_sn", "board_type_code", "robot_version_code",
                                            "robot_status_code", "robot_id", "machine-id", "cpuinfo"}));
        info.get_uuid();
        info.get_hardware_info("serial");
        info.get_robot_status();
        EXPECT_EQ(recorder.opened(), std::vector<std::string>{}) << "a getter went back to the store";
    });
    EXPECT_EQ(messages, "Empty robot_uuid\nuuid replaced by hw_uuid\n");
}

TEST_F(FileUnit, WritesReachTheStoreButNotTheCache) {
    put_identity_files();
    KorvantaHardwareInformation info;
    EXPECT_TRUE(info.WriteSerial(kHwUuid.c_str()));
    EXPECT_TRUE(info.WriteUuid(kHwUuid.c_str()));
    EXPECT_TRUE(info.WriteRobotStatus(70000));  // no range check on the way to the store
    EXPECT_EQ(info.get_robot_sn(), kSerial);
    EXPECT_EQ(info.get_uuid(), kRobotUuid);
    EXPECT_EQ(info.get_robot_status(), 5);

    EXPECT_EQ(read_file("/etc/korvanta/robot_status_code"), "70000\n\n");
    KorvantaHardwareInformation fresh;
    EXPECT_EQ(fresh.get_robot_sn(), kHwUuid);
    EXPECT_EQ(fresh.get_uuid(), kHwUuid);
    EXPECT_EQ(fresh.get_robot_status(), 4464);
}

TEST_F(FileUnit, NullTextThrowsLogicErrorBeforeTheStoreIsTouched) {
    put_identity_files();
    KorvantaHardwareInformation info;
    EXPECT_THROW(info.WriteUuid(nullptr), std::logic_error);
    EXPECT_THROW(info.WriteSerial(nullptr), std::logic_error);
    EXPECT_EQ(read_file("/etc/korvanta/robot_id"), kRobotUuid + "\n");
    EXPECT_EQ(read_file("/etc/korvanta/robot_sn"), kSerial + "\n");
}

TEST_F(Information, HardwareInfoKnowsExactlyThreeKeys) {
    put_identity_files();
    KorvantaHardwareInformation info;
    EXPECT_EQ(&info.get_hardware_info("uuid"), &info.get_uuid());
    EXPECT_EQ(&info.get_hardware_info("cpu_serial_number"), &info.get_cpu_serial_number());
    EXPECT_EQ(&info.get_hardware_info("serial"), &info.get_robot_sn());
    for (const char* key : {"robot_status", "UUID", "Uuid", "uuid ", " uuid", "Serial", "serial ", "serial\n",
                            "cpu_serial_number ", "CPU_SERIAL_NUMBER", "hw_uuid", "machine_id", "robot_sn",
                            "board_type", "", "robot_status "})
        EXPECT_EQ(info.get_hardware_info(key), "null") << "key \"" << key << "\"";
}

TEST_F(EepromUnit, IsChosenOverIdentityFilesAndReadWhole) {
    put_identity_files();
    EepromImage::erased()
        .hw_uuid("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf")
        .serial("b0b1b2b3b4b5b6b7b8b9babbbcbdbebf")
        .robot_uuid("c0c1c2c3c4c5c6c7c8c9cacbcccdcecf")
        .board_type(2)
        .version(22)
        .status(8)
        .install();
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_hw_uuid(), "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
        EXPECT_EQ(info.get_robot_sn(), "b0b1b2b3b4b5b6b7b8b9babbbcbdbebf");
        EXPECT_EQ(info.get_uuid(), "c0c1c2c3c4c5c6c7c8c9cacbcccdcecf");
        EXPECT_EQ(info.get_board_type(), 2);
        EXPECT_EQ(info.get_robot_version(), 22);
        EXPECT_EQ(info.get_robot_status(), 8);
        EXPECT_EQ(info.get_cpu_serial_number(), "00000000c0ffee01");
    });
    EXPECT_EQ(messages, "");
}

TEST_F(EepromUnit, ErasedReadsAsAllFsAnd65535WithoutAMessage) {
    EepromImage::erased().install();
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_hw_uuid(), std::string(32, 'f'));
        EXPECT_EQ(info.get_robot_sn(), std::string(32, 'f'));
        EXPECT_EQ(info.get_uuid(), std::string(32, 'f'));
        EXPECT_EQ(info.get_board_type(), 65535);
        EXPECT_EQ(info.get_robot_version(), 65535);
        EXPECT_EQ(info.get_robot_status(), 65535);
    });
    EXPECT_EQ(messages, "");
}

TEST_F(EepromUnit, ErasedRobotIdentifierIsReplacedByTheHardwareIdentifier) {
    EepromImage::erased().hw_uuid(kHwUuid).install();
    write_machine_id(kMachineId + "\n");
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_uuid(), kHwUuid);
    });
    EXPECT_EQ(messages, "uuid replaced by hw_uuid\n");
}

TEST_F(EepromUnit, StationBoardKeepsItsVersionCodeAsStored) {
    EepromImage::zeroed().hw_uuid(kHwUuid).robot_uuid(kRobotUuid).board_type(3).version(1).install();
    KorvantaHardwareInformation info;
    EXPECT_EQ(info.get_board_type(), 3);
    EXPECT_EQ(info.get_robot_version(), 1);
    EXPECT_EQ(info.get_robot_status(), 0);
}

// The probe only asks whether the path exists; there is no way back to the files.
TEST_F(EepromUnit, ThatCannotBeOpenedKeepsTheEepromBackendAndItsFailureValues) {
    put_identity_files();
    put_directory_at(kEepromPath);
    std::string messages = stderr_of([] {
        KorvantaHardwareInformation info;
        EXPECT_EQ(info.get_hw_uuid(), "null");
        EXPECT_EQ(info.get_robot_sn(), "null");
        EXPECT_EQ(info.get_uuid(), "null");
        EXPECT_EQ(info.get_board_type(), -1);
        EXPECT_EQ(info.get_robot_version(), -1);
        EXPECT_EQ(info.get_robot_status(), -1);
        EXPECT_EQ(info.get_cpu_serial_number(), "00000000c0ffee01");
        EXPECT_FALSE(info.WriteUuid(kRobotUuid.c_str()));
    });
    EXPECT_EQ(messages, "open eeprom failed! writable =  1");
}

TEST_F(EepromUnit, WritesReachTheDeviceButNotTheCache) {
    programmed_eeprom().install();
    KorvantaHardwareInformation info;
    EXPECT_TRUE(info.WriteUuid("FFEEDDCCBBAA99887766554433221100"));
    EXPECT_TRUE(info.WriteSerial(kHwUuid.c_str()));
    EXPECT_TRUE(info.WriteRobotStatus(0x12345));
    EXPECT_EQ(info.get_uuid(), kRobotUuid);
    EXPECT_EQ(info.get_robot_sn(), kSerial);
    EXPECT_EQ(info.get_robot_status(), 5);

    KorvantaHardwareInformation fresh;
    EXPECT_EQ(fresh.get_uuid(), "ffeeddccbbaa99887766554433221100");
    EXPECT_EQ(fresh.get_robot_sn(), kHwUuid);
    EXPECT_EQ(fresh.get_robot_status(), 0x2345);
}

TEST_F(EepromUnit, ConversionErrorOfAWriteReachesTheCaller) {
    programmed_eeprom().install();
    std::vector<uint8_t> before = read_eeprom();
    KorvantaHardwareInformation info;
    EXPECT_THROW(info.WriteUuid("0123456789abcdef0123456789abcdzz"), std::invalid_argument);
    EXPECT_EQ(read_eeprom(), before);
}

TEST_F(FileUnit, FailedAllocationDuringConstructionPropagatesAndLeaksNothing) {
    put_identity_files();
    write_identity_file("robot_id", kZeros + "\n");  // the fallback path allocates too
    testing::internal::CaptureStderr();
    expect_every_failed_allocation_propagates_and_leaks_nothing();
    testing::internal::GetCapturedStderr();
}

TEST_F(EepromUnit, FailedAllocationDuringConstructionPropagatesAndLeaksNothing) {
    programmed_eeprom().install();
    expect_every_failed_allocation_propagates_and_leaks_nothing();
}
