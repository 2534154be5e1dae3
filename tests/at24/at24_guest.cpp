// The identity EEPROM against the kernel's own at24 driver. Runs inside the
// at24 test machine (init.sh), as root, with the driver's eeprom attribute
// at the library's configured path, after the library package's udev rule
// gave it to the korvanta group (AT24_KORVANTA_GID); the device starts zeroed.
// Exits 0 when every check held.
//
// Phases whose bus traffic matters begin with a one-byte read of the marker
// EEPROM at 0x51 (AT24_MARKER) and announce on stdout how many data bytes the
// host must find read from and written to 0x50 before the next marker.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"
#include "unique_fd.h"

namespace {

using korvanta_hardware::EepromConfig_Def;
using korvanta_hardware::HardwareEeprom;
using korvanta_hardware::UniqueFd;
using Bytes = std::vector<unsigned char>;
using Information = korvanta_hardware::KorvantaHardwareInformation;  // the flat handle type has the same name

constexpr char kEeprom[] = "/sys/bus/i2c/devices/5-0050/eeprom";
constexpr off_t kDeviceSize = 256;      // a 24c02
constexpr int kConstructionBytes = 70;  // seven field reads: 16 + 16 + 2 + 2 + 2 + 16 + 16
constexpr int kUnchecked = -1;

// --- Checks: a failed one is printed and counted, and the run goes on. ---

int failed_checks = 0;

std::string hex_of(const Bytes& bytes) {
    std::string text;
    char pair[3];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string shown(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) quoted += c == '\n' ? std::string("\\n") : std::string(1, c);
    return quoted + "\"";
}
std::string shown(const Bytes& bytes) { return "{" + hex_of(bytes) + "}"; }
std::string shown(long long number) { return std::to_string(number); }

// Compares texts by content, whichever side is a C string.
std::string comparable(const char* text) { return text ? text : "(null pointer)"; }
template <class T>
const T& comparable(const T& value) { return value; }

void check(bool held, const char* expression, int line) {
    if (held) return;
    ++failed_checks;
    std::printf("  FAILED at line %d: %s\n", line, expression);
}

template <class Actual, class Expected>
void check_equal(const Actual& actual, const Expected& expected, const char* expression, int line) {
    if (comparable(actual) == comparable(expected)) return;
    ++failed_checks;
    std::printf("  FAILED at line %d: %s\n    is       %s\n    expected %s\n", line, expression,
                shown(comparable(actual)).c_str(), shown(comparable(expected)).c_str());
}

#define CHECK(condition) check((condition), #condition, __LINE__)
#define CHECK_EQ(actual, expected) check_equal((actual), (expected), #actual, __LINE__)

// What the action wrote to standard error, byte for byte.
std::string stderr_of(const std::function<void()>& action) {
    std::fflush(stderr);
    UniqueFd capture(::memfd_create("stderr", MFD_CLOEXEC));
    UniqueFd saved(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    if (!capture || !saved || ::dup2(capture.get(), STDERR_FILENO) < 0) {
        CHECK(!"standard error can be captured");
        return {};
    }
    action();
    std::fflush(stderr);
    ::dup2(saved.get(), STDERR_FILENO);
    std::string text;
    char chunk[256];
    ssize_t n;
    for (off_t at = 0; (n = ::pread(capture.get(), chunk, sizeof chunk, at)) > 0; at += n) text.append(chunk, n);
    return text;
}

// The driver's file, read and written past the library.
Bytes read_device(off_t offset, size_t count) {
    UniqueFd fd(::open(kEeprom, O_RDONLY | O_CLOEXEC));
    Bytes bytes(count);
    if (!fd || ::pread(fd.get(), bytes.data(), count, offset) != static_cast<ssize_t>(count)) bytes.clear();
    return bytes;
}

bool write_device(off_t offset, const Bytes& bytes) {
    UniqueFd fd(::open(kEeprom, O_WRONLY | O_CLOEXEC));
    return fd && ::pwrite(fd.get(), bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
}

// Starts a bus phase; it lasts until the next one starts.
void bus_phase(const char* label, int bytes_read, int bytes_written) {
    static int marker = 0;
    static const char* marker_path = std::getenv("AT24_MARKER");
    static UniqueFd fd(::open(marker_path ? marker_path : "", O_RDONLY | O_CLOEXEC));
    unsigned char byte;
    ++marker;
    CHECK(marker < 256 && ::pread(fd.get(), &byte, 1, marker) == 1);
    std::printf("at24-phase %d %s %d %d\n", marker, label, bytes_read, bytes_written);
    std::fflush(stdout);
}

void bus_idle() { bus_phase("idle", kUnchecked, kUnchecked); }

Bytes counting_from(unsigned char first, size_t count = 16) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(first + i);
    return bytes;
}

Bytes joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes code_bytes(unsigned int code) { return {static_cast<unsigned char>(code), static_cast<unsigned char>(code >> 8)}; }

// The 54-byte identity block, field by field in device order.
Bytes identity_block(const Bytes& hw_uuid, unsigned int board, unsigned int version, const Bytes& serial,
                     const Bytes& robot_uuid, unsigned int status) {
    Bytes block = hw_uuid;
    for (const Bytes& field : {code_bytes(board), code_bytes(version), serial, robot_uuid, code_bytes(status)})
        block = joined(block, field);
    return block;
}

void program(const Bytes& block) {
    bus_phase("fixture", 0, static_cast<int>(block.size()));
    CHECK(write_device(0, block));
    bus_idle();
}

struct FlatHandle {
    KorvantaHardwareInformation* h = nullptr;
    ~FlatHandle() { KorvantaHardwareInformation_destroy(h); }
};

// Creates a handle while the host counts the construction's bus bytes.
void create_counted(FlatHandle& handle, const char* label) {
    bus_phase(label, kConstructionBytes, 0);
    handle.h = KorvantaHardwareInformation_create();
    bus_idle();
}

void library_finds_the_drivers_attribute() {
    CHECK_EQ(KorvantaHardwareInformation_get_eeprom_path(), kEeprom);
    struct stat st;
    if (::stat(kEeprom, &st) != 0) return CHECK(!"the EEPROM can be found");
    CHECK_EQ(st.st_size, kDeviceSize);
    // As the udev rule leaves it: root writes, the korvanta group reads.
    CHECK_EQ(st.st_mode & 07777, 0640u);
    CHECK_EQ(std::to_string(st.st_gid), std::getenv("AT24_KORVANTA_GID") ? std::getenv("AT24_KORVANTA_GID") : "");
}

void erased_device_reads_all_ones_without_fallback() {
    program(Bytes(HardwareEeprom::kBlockSize, 0xff));
    FlatHandle handle;
    CHECK_EQ(stderr_of([&] { create_counted(handle, "construct-erased"); }), "");
    const std::string erased(32, 'f');
    CHECK_EQ(KorvantaHardwareInformation_get_hw_uuid(handle.h), erased.c_str());
    CHECK_EQ(KorvantaHardwareInformation_get_robot_sn(handle.h), erased.c_str());
    CHECK_EQ(KorvantaHardwareInformation_get_uuid(handle.h), erased.c_str());
    CHECK_EQ(KorvantaHardwareInformation_get_robot_version_code(handle.h), 65535);
    CHECK_EQ(KorvantaHardwareInformation_get_robot_version(handle.h), "UNKNOWN");
    CHECK_EQ(KorvantaHardwareInformation_get_board_type_code(handle.h), 65535);
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status_code(handle.h), 65535);
}

void programmed_robot_board_falls_back_to_hardware_identifier() {
    const Bytes hw_uuid = counting_from(0x10);
    program(identity_block(hw_uuid, 1, 2, counting_from(0xa0), Bytes(16, 0xff), 5));

    std::unique_ptr<Information> info;
    CHECK_EQ(stderr_of([&] {
                  bus_phase("construct-programmed", kConstructionBytes, 0);
                  info = std::make_unique<Information>();
                  bus_idle();
              }),
              "uuid replaced by hw_uuid\n");
    CHECK_EQ(info->get_hw_uuid(), hex_of(hw_uuid));
    CHECK_EQ(info->get_uuid(), hex_of(hw_uuid));
    CHECK_EQ(info->get_robot_sn(), hex_of(counting_from(0xa0)));
    CHECK_EQ(info->get_cpu_serial_number(), "null");  // x86 has no "Serial" line

    FlatHandle handle;
    CHECK_EQ(stderr_of([&] { create_counted(handle, "construct-programmed-flat"); }), "uuid replaced by hw_uuid\n");
    CHECK_EQ(KorvantaHardwareInformation_get_board_type(handle.h), "ROBOT_BOARD");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_version(handle.h), "KORVANTA_DVT2");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status(handle.h), "RELEASE");
}

void station_board_names_its_version_from_the_station_table() {
    program(identity_block(counting_from(0x20), 3, 1, counting_from(0xb0), counting_from(0x00), 8));
    FlatHandle handle;
    CHECK_EQ(stderr_of([&] { create_counted(handle, "construct-station"); }), "");
    CHECK_EQ(KorvantaHardwareInformation_get_uuid(handle.h), "000102030405060708090a0b0c0d0e0f");
    CHECK_EQ(KorvantaHardwareInformation_get_board_type(handle.h), "STATION_BOARD");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_version(handle.h), "STATION_VERSION_2024_930");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status(handle.h), "PROD_2");
}

void writes_reach_the_device_and_a_new_object_reads_them() {
    program(identity_block(counting_from(0x20), 3, 1, counting_from(0xb0), counting_from(0x00), 8));
    FlatHandle writer;
    create_counted(writer, "construct-writer");

    // Each write moves its bytes out, then reads them back once.
    std::string messages = stderr_of([&] {
        bus_phase("write-uuid", 16, 16);
        CHECK(KorvantaHardwareInformation_writeUuid(writer.h, "0123456789ABCDEF0123456789abcdef"));
        bus_phase("write-serial", 16, 16);
        CHECK(KorvantaHardwareInformation_writeSerial(writer.h, "fedcba9876543210fedcba9876543210"));
        bus_phase("write-status", 2, 2);
        CHECK(KorvantaHardwareInformation_writeRobotStatus(writer.h, 3));
        bus_idle();
    });
    CHECK_EQ(messages, "");
    CHECK_EQ(KorvantaHardwareInformation_get_uuid(writer.h), "000102030405060708090a0b0c0d0e0f");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status(writer.h), "PROD_2");

    const Bytes half = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    CHECK_EQ(read_device(36, 16), joined(half, half));
    CHECK_EQ(read_device(52, 2), code_bytes(3));

    FlatHandle reader;
    create_counted(reader, "construct-reader");
    CHECK_EQ(KorvantaHardwareInformation_get_uuid(reader.h), "0123456789abcdef0123456789abcdef");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_sn(reader.h), "fedcba9876543210fedcba9876543210");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status(reader.h), "QA_TEST");

    // The class interface keeps the low 16 bits of a larger status.
    Information info;
    bus_phase("write-status-class", 2, 2);
    CHECK(info.WriteRobotStatus(0x12345));
    bus_idle();
    CHECK_EQ(Information().get_robot_status(), 0x2345);
}

void refused_writes_touch_neither_device_nor_bus() {
    program(identity_block(counting_from(0x20), 3, 1, counting_from(0xb0), counting_from(0x00), 8));
    FlatHandle handle;
    create_counted(handle, "construct-refusing");
    std::string messages = stderr_of([&] {
        bus_phase("refused-writes", 0, 0);
        CHECK(!KorvantaHardwareInformation_writeUuid(handle.h, "-123456789abcdef0123456789abcdef"));
        CHECK(!KorvantaHardwareInformation_writeSerial(handle.h, "0123456789abcdef0123456789abcde"));
        bus_idle();
    });
    CHECK_EQ(messages, "Error: stoiserial length is too short \n");
    CHECK_EQ(read_device(20, 32), joined(counting_from(0xb0), counting_from(0x00)));
}

// A device configured larger than it is: 512 bytes, the block at 228, so the
// serial (248..263) straddles the real end at 256.
EepromConfig_Def oversized_config() { return {kEeprom, 512, 228, 1}; }

void write_straddling_the_device_end_is_short_then_fails_for_good() {
    CHECK(write_device(228, Bytes(28, 0x11)));
    std::unique_ptr<HardwareEeprom> eeprom;
    CHECK_EQ(stderr_of([&] { eeprom = std::make_unique<HardwareEeprom>(oversized_config()); }), "");

    std::string messages = stderr_of([&] {
        // The driver takes the 8 bytes up to its end, then refuses with EFBIG.
        bus_phase("write-straddling", 0, 8);
        CHECK(!eeprom->WriteRobotSn("00112233445566778899aabbccddeeff"));
        bus_idle();
    });
    CHECK_EQ(messages.substr(0, 24), "write operation failed: ");
    CHECK(messages.find("File too large") != std::string::npos);  // EFBIG
    CHECK_EQ(read_device(248, 8), Bytes({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));

    // Failed for good: nothing reaches the device any more, and nothing is said.
    messages = stderr_of([&] {
        bus_phase("failed-stream", 0, 0);
        CHECK_EQ(eeprom->GetHwUuid(), "null");
        CHECK_EQ(eeprom->GetRobotEnvCode(), -1);
        CHECK(!eeprom->WriteRobotEnvCode(1));
        bus_idle();
    });
    CHECK_EQ(messages, "");
}

void read_straddling_the_device_end_fails_for_good() {
    CHECK(write_device(228, Bytes(28, 0x11)));
    HardwareEeprom eeprom(oversized_config());
    std::string messages = stderr_of([&] {
        // The driver returns the 8 bytes up to its end, then end of file.
        bus_phase("read-straddling", 8, 0);
        CHECK_EQ(eeprom.GetRobotSn(), "null");
        bus_phase("failed-stream", 0, 0);
        CHECK_EQ(eeprom.GetHwUuid(), "null");
        bus_idle();
    });
    CHECK_EQ(messages.substr(0, 23), "read operation failed: ");
    CHECK(messages.find("read operation failed: ", 1) == std::string::npos);
}

void read_past_the_device_end_moves_nothing() {
    HardwareEeprom eeprom(oversized_config());
    std::string messages = stderr_of([&] {
        // The robot identifier (264..279) lies wholly beyond the end: no fallback either.
        bus_phase("read-past-end", 0, 0);
        CHECK_EQ(eeprom.GetRobotUuid(), "null");
        bus_idle();
    });
    CHECK_EQ(messages.substr(0, 23), "read operation failed: ");
    CHECK(messages.find("uuid replaced") == std::string::npos);
}

// A write-protected EEPROM acknowledges writes and keeps its bytes; /dev/zero
// over the device path behaves the same way.
void write_that_does_not_read_back_is_reported_as_failed() {
    if (::mount("/dev/zero", kEeprom, nullptr, MS_BIND, nullptr) != 0) return CHECK(!"/dev/zero can be bound");
    FlatHandle handle;
    handle.h = KorvantaHardwareInformation_create();
    std::string messages = stderr_of([&] {
        CHECK(!KorvantaHardwareInformation_writeUuid(handle.h, "0123456789abcdef0123456789abcdef"));
        CHECK(!KorvantaHardwareInformation_writeRobotStatus(handle.h, 5));
    });
    KorvantaHardwareInformation_destroy(std::exchange(handle.h, nullptr));
    CHECK(::umount2(kEeprom, 0) == 0);
    CHECK_EQ(messages, "write verification failed\nwrite verification failed\n");
}

// Runs body in a child process of another user with the given supplementary
// groups; true when every check in it held.
bool as_user(uid_t uid, const std::vector<gid_t>& groups, const std::function<void()>& body) {
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        int before = failed_checks;
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(uid, uid, uid) != 0 ||
            ::setresuid(uid, uid, uid) != 0)
            _exit(2);
        body();
        std::fflush(stdout);
        _exit(failed_checks == before ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const Bytes kGroupBlock = identity_block(counting_from(0x30), 1, 2, counting_from(0xc0), counting_from(0x40), 5);

void member_reads_everything_and_writes_nothing() {
    FlatHandle handle;
    std::string messages = stderr_of([&] { handle.h = KorvantaHardwareInformation_create(); });
    std::printf("  a member of the korvanta group creates a handle; stderr: %s\n", shown(messages).c_str());
    CHECK_EQ(KorvantaHardwareInformation_get_hw_uuid(handle.h), hex_of(counting_from(0x30)));
    CHECK_EQ(KorvantaHardwareInformation_get_robot_sn(handle.h), hex_of(counting_from(0xc0)));
    CHECK_EQ(KorvantaHardwareInformation_get_uuid(handle.h), hex_of(counting_from(0x40)));
    CHECK_EQ(KorvantaHardwareInformation_get_robot_version(handle.h), "KORVANTA_DVT2");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status(handle.h), "RELEASE");
    messages = stderr_of([&] {
        CHECK(!KorvantaHardwareInformation_writeUuid(handle.h, "0123456789abcdef0123456789abcdef"));
        CHECK(!KorvantaHardwareInformation_writeRobotStatus(handle.h, 3));
    });
    CHECK(messages.find("reading only") != std::string::npos);
}

void outsider_reads_nothing() {
    FlatHandle handle;
    std::string messages = stderr_of([&] { handle.h = KorvantaHardwareInformation_create(); });
    CHECK_EQ(messages.substr(0, 20), "open eeprom failed! ");
    CHECK_EQ(KorvantaHardwareInformation_get_hw_uuid(handle.h), "null");
    CHECK_EQ(KorvantaHardwareInformation_get_robot_status_code(handle.h), 0);
}

// A service user in the korvanta group reads the whole identity and cannot
// change a byte of it; a user outside the group reads nothing.
void korvanta_group_reads_and_cannot_write() {
    const char* group = std::getenv("AT24_KORVANTA_GID");
    const gid_t korvanta = static_cast<gid_t>(std::atoi(group ? group : "0"));
    program(kGroupBlock);
    bus_phase("construct-group-member", kConstructionBytes, 0);  // the refused writes move nothing
    CHECK(as_user(1000, {korvanta}, member_reads_everything_and_writes_nothing));
    bus_phase("other-user", 0, 0);
    CHECK(as_user(1001, {}, outsider_reads_nothing));
    bus_idle();
    CHECK_EQ(read_device(0, HardwareEeprom::kBlockSize), kGroupBlock);
}

// The static korvanta-hwinfo of the initramfs with these arguments; its exit status.
int hwinfo(const std::vector<const char*>& args) {
    std::vector<char*> argv = {const_cast<char*>("/korvanta-hwinfo")};
    for (const char* arg : args) argv.push_back(const_cast<char*>(arg));
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The factory's first programming: every field once on the bus, each read back
// once, then the new information object's reading.
void program_writes_a_blank_eeprom_from_a_unit_file() {
    program(Bytes(HardwareEeprom::kBlockSize, 0xff));
    const char* unit = "/tmp/unit.json";
    UniqueFd fd(::open(unit, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const std::string text = "{\"store\": \"eeprom\", \"hw_uuid\": \"" + hex_of(counting_from(0x50)) +
                             "\", \"board_type\": \"ROBOT_BOARD\", \"robot_version\": \"KORVANTA_DVT2\", \"serial\": \"" +
                             hex_of(counting_from(0xd0)) + "\", \"uuid\": \"" + hex_of(counting_from(0x60)) +
                             "\", \"robot_status\": \"RELEASE\"}";
    CHECK(fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    const int block = static_cast<int>(HardwareEeprom::kBlockSize);
    bus_phase("program", block + block + kConstructionBytes, block);
    CHECK_EQ(hwinfo({"program", unit}), 0);
    bus_idle();
    CHECK_EQ(read_device(0, HardwareEeprom::kBlockSize),
             identity_block(counting_from(0x50), 1, 2, counting_from(0xd0), counting_from(0x60), 5));
}

struct Scenario {
    const char* name;
    void (*run)();
};

// Each scenario programs the bytes it reads, so none depends on another.
const Scenario kScenarios[] = {
    {"library_finds_the_drivers_attribute", library_finds_the_drivers_attribute},
    {"erased_device_reads_all_ones_without_fallback", erased_device_reads_all_ones_without_fallback},
    {"programmed_robot_board_falls_back_to_hardware_identifier", programmed_robot_board_falls_back_to_hardware_identifier},
    {"station_board_names_its_version_from_the_station_table", station_board_names_its_version_from_the_station_table},
    {"writes_reach_the_device_and_a_new_object_reads_them", writes_reach_the_device_and_a_new_object_reads_them},
    {"refused_writes_touch_neither_device_nor_bus", refused_writes_touch_neither_device_nor_bus},
    {"write_straddling_the_device_end_is_short_then_fails_for_good", write_straddling_the_device_end_is_short_then_fails_for_good},
    {"read_straddling_the_device_end_fails_for_good", read_straddling_the_device_end_fails_for_good},
    {"read_past_the_device_end_moves_nothing", read_past_the_device_end_moves_nothing},
    {"write_that_does_not_read_back_is_reported_as_failed", write_that_does_not_read_back_is_reported_as_failed},
    {"korvanta_group_reads_and_cannot_write", korvanta_group_reads_and_cannot_write},
    {"program_writes_a_blank_eeprom_from_a_unit_file", program_writes_a_blank_eeprom_from_a_unit_file},
};

}  // namespace

int main() {
    int failed_scenarios = 0;
    for (const Scenario& scenario : kScenarios) {
        std::printf("[ RUN    ] %s\n", scenario.name);
        std::fflush(stdout);
        int before = failed_checks;
        scenario.run();
        bool passed = failed_checks == before;
        failed_scenarios += passed ? 0 : 1;
        std::printf("[ %s ] %s\n", passed ? "    OK" : "FAILED", scenario.name);
    }
    std::printf("at24-guest: %d of %zu scenarios failed\n", failed_scenarios, std::size(kScenarios));
    return failed_scenarios == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
