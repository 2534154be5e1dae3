// The file backend on a simulated unit without an EEPROM: what it reads from the
// identity files, what it writes, and every message byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "korvanta_hardware.h"
#include "unit_test.h"
#include "unprivileged.h"

using korvanta_hardware::HardwareFile;
using namespace korvanta_sim;

namespace {

const std::string kId = "0123456789abcdef0123456789abcdef";
const std::string kOtherId = "fedcba9876543210fedcba9876543210";
const std::string kMachineId = "00112233445566778899aabbccddeeff";

std::string identity_path(const std::string& name) { return std::string(kIdentityDir) + "/" + name; }

std::optional<std::string> identity_file(const std::string& name) { return read_file(identity_path(name)); }

class FileBackend : public OnSimulatedUnit {
protected:
    HardwareFile backend;
};

// ---- Codes ----

TEST_F(FileBackend, CodeFollowsStrtolRulesAndKeepsLow16Bits) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"  42\n", 42},
        {"42abc\n", 42},
        {"+7", 7},
        {"0x1F\n", 0},
        {"\t\v\f\r 9", 9},
        {"\n3\n", 0},
        {"abc\n", 0},
        {"", 0},
        {"-1\n", 65535},
        {"65536\n", 0},
        {"70000\n", 4464},
        {"4294967297\n", 1},
        {"4294967301\n", 5},  // 64 bits wide on every target, 32-bit ones too
        {"70000000000\n", 15360},
        {"-70000000000\n", 50176},
        {"99999999999999999999999\n", 65535},  // saturates at the 64-bit maximum
        {"-99999999999999999999999\n", 0},     // saturates at the 64-bit minimum
        {"12\n34\n", 12},
    };
    for (const auto& [content, expected] : cases) {
        write_identity_file("robot_status_code", content);
        std::string err = stderr_of([&] { EXPECT_EQ(backend.GetRobotEnvCode(), expected) << '"' << content << '"'; });
        EXPECT_EQ(err, "");
    }
}

TEST_F(FileBackend, EachCodeComesFromItsOwnFile) {
    write_identity_file("robot_status_code", "1\n");
    write_identity_file("robot_version_code", "2\n");
    write_identity_file("board_type_code", "3\n");
    EXPECT_EQ(backend.GetRobotEnvCode(), 1);
    EXPECT_EQ(backend.GetRobotVersionCode(), 2);
    EXPECT_EQ(backend.GetBoardTypeCode(), 3);
}

// Built with 64-bit file offsets; a 32-bit build without them cannot open a file past 2 GiB.
TEST_F(FileBackend, CodeFileLargerThan4GiBReadsLikeAnyOther) {
    write_identity_file("robot_status_code", "7\n");
    ASSERT_EQ(::truncate(identity_path("robot_status_code").c_str(), off_t{5} << 30), 0);  // sparse
    EXPECT_EQ(backend.GetRobotEnvCode(), 7);
}

TEST_F(FileBackend, MissingOrUnreadableCodeFileGivesMinusOneSilently) {
    std::string err = stderr_of([&] {
        EXPECT_EQ(backend.GetRobotEnvCode(), -1);
        write_identity_file("robot_version_code", "2\n");  // the directory exists, the file does not
        EXPECT_EQ(backend.GetBoardTypeCode(), -1);
        put_directory_at(identity_path("robot_status_code"));  // opens, but holds no text
        EXPECT_EQ(backend.GetRobotEnvCode(), -1);
    });
    EXPECT_EQ(err, "");
}

// ---- Identifiers ----

TEST_F(FileBackend, IdentifierIsTheFirstLineOfExactly32Characters) {
    write_identity_file("hw_uuid", kId);  // no final line feed
    write_identity_file("robot_sn", kOtherId + "\nrest is ignored\n");
    std::string err = stderr_of([&] {
        EXPECT_EQ(backend.GetHwUuid(), kId);
        EXPECT_EQ(backend.GetRobotSn(), kOtherId);
    });
    EXPECT_EQ(err, "");
}

TEST_F(FileBackend, WrongLengthIdentifierGivesNullAndSizeMessageWithPath) {
    write_identity_file("hw_uuid", kId + "\r\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetHwUuid(), "null"); }),
              "file:/etc/korvanta/hw_uuid ID string size err. str_size:33 size:16");

    write_identity_file("robot_sn", kId.substr(1) + "\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotSn(), "null"); }),
              "file:/etc/korvanta/robot_sn ID string size err. str_size:31 size:16");
}

TEST_F(FileBackend, EmptyIdentifierFileGivesSizeMessageButMissingOneIsSilent) {
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetHwUuid(), "null"); }), "");
    write_identity_file("hw_uuid", "");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetHwUuid(), "null"); }),
              "file:/etc/korvanta/hw_uuid ID string size err. str_size:0 size:16");
    write_identity_file("robot_sn", "\n" + kId + "\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotSn(), "null"); }),
              "file:/etc/korvanta/robot_sn ID string size err. str_size:0 size:16");
}

TEST_F(FileBackend, UnreadableIdentifierFileGivesNullSilently) {
    put_directory_at(identity_path("hw_uuid"));
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetHwUuid(), "null"); }), "");
}

TEST_F(FileBackend, FilesWithoutReadPermissionReadAsMissing) {
    write_identity_file("robot_status_code", "5\n");
    write_identity_file("robot_sn", kId + "\n");
    ASSERT_EQ(::chmod(identity_path("robot_status_code").c_str(), 0200), 0);
    ASSERT_EQ(::chmod(identity_path("robot_sn").c_str(), 0200), 0);
    ChildResult child = unprivileged(Drop::kCapabilities, [] {
        HardwareFile reader;
        return reader.GetRobotEnvCode() == -1 && reader.GetRobotSn() == "null" ? 0 : 1;
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.stderr_text, "");
}

// ---- Robot identifier and its fallback to /etc/machine-id ----

TEST_F(FileBackend, UsableRobotIdentifierIsReturnedWithoutMessages) {
    write_identity_file("robot_id", kId + "\n");
    write_machine_id(kMachineId + "\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), kId); }), "");
}

TEST_F(FileBackend, MissingRobotIdentifierFallsBackToMachineId) {
    write_identity_file("hw_uuid", kOtherId + "\n");  // not the fallback
    write_machine_id(kMachineId + "\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), kMachineId); }),
              "Empty robot_uuid\nuuid replaced by hw_uuid\n");
}

TEST_F(FileBackend, RepeatedCharacterRobotIdentifierIsKeptWhenNoFallback) {
    const std::string zeros(32, '0');
    write_identity_file("robot_id", zeros + "\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), zeros); }), "Empty robot_uuid\n");

    write_machine_id(std::string(32, 'f') + "\n");  // unusable as well
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), zeros); }), "Empty robot_uuid\n");

    write_machine_id(kMachineId);
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), kMachineId); }),
              "Empty robot_uuid\nuuid replaced by hw_uuid\n");
}

TEST_F(FileBackend, NoIdentifierAnywhereGivesNull) {
    write_identity_file("hw_uuid", kOtherId + "\n");  // not the fallback
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), "null"); }), "Empty robot_uuid\n");
}

TEST_F(FileBackend, FallbackMessagesFollowSizeMessagesOnTheSameLine) {
    write_identity_file("robot_id", "short\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), "null"); }),
              "file:/etc/korvanta/robot_id ID string size err. str_size:5 size:16Empty robot_uuid\n");

    write_machine_id(kMachineId + "\r\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(backend.GetRobotUuid(), "null"); }),
              "file:/etc/korvanta/robot_id ID string size err. str_size:5 size:16Empty robot_uuid\n"
              "file:/etc/machine-id ID string size err. str_size:33 size:16");
}

// ---- Writes ----

TEST_F(FileBackend, WrittenIdentifierIsExactlyTheTextAndOneLineFeed) {
    write_identity_file("robot_id", "an old and much longer first line than the new one\nsecond\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_TRUE(backend.WriteRobotUuid(kId)); }), "");
    EXPECT_EQ(identity_file("robot_id"), kId + "\n");
    EXPECT_EQ(backend.GetRobotUuid(), kId);

    const std::string odd = "NOT hex at all, but 32 long! ?~\t";
    EXPECT_TRUE(backend.WriteRobotSn(odd));  // created: there was no file
    EXPECT_EQ(identity_file("robot_sn"), odd + "\n");
    EXPECT_EQ(backend.GetRobotSn(), odd);
}

TEST_F(FileBackend, WrittenCodeIsDecimalDigitsAndTwoLineFeeds) {
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {5, "5\n\n"}, {0, "0\n\n"}, {70000, "70000\n\n"}, {4294967295u, "4294967295\n\n"}};
    std::filesystem::create_directories(kIdentityDir);
    for (const auto& [code, content] : cases) {
        EXPECT_TRUE(backend.WriteRobotEnvCode(code));
        EXPECT_EQ(identity_file("robot_status_code"), content);
        EXPECT_EQ(backend.GetRobotEnvCode(), static_cast<int>(code & 0xFFFF));
    }
}

TEST_F(FileBackend, WrongLengthIdentifierIsRefusedAndFileUntouched) {
    write_identity_file("robot_id", "old\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotUuid(kId.substr(1))); }),
              "uuid string len not match. str_len: 31 byte num:16");
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotUuid(kId + "0")); }),
              "uuid string len not match. str_len: 33 byte num:16");
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotSn("")); }),
              "uuid string len not match. str_len: 0 byte num:16");
    EXPECT_EQ(identity_file("robot_id"), "old\n");
    EXPECT_FALSE(std::filesystem::exists(identity_path("robot_sn")));
}

TEST_F(FileBackend, IdentifierWithLineFeedIsRefusedAndFileUntouched) {
    const std::string with_line_feed = kId.substr(0, 16) + "\n" + kId.substr(17);
    ASSERT_EQ(with_line_feed.size(), 32u);
    write_identity_file("robot_id", kOtherId + "\n");
    write_identity_file("robot_sn", kOtherId);
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotUuid(with_line_feed)); }),
              "uuid string contains a line feed\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotSn(kId.substr(0, 31) + "\n")); }),
              "uuid string contains a line feed\n");
    EXPECT_EQ(identity_file("robot_id"), kOtherId + "\n");
    EXPECT_EQ(identity_file("robot_sn"), kOtherId);
    // The length is checked first.
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotUuid(kId + "\n")); }),
              "uuid string len not match. str_len: 33 byte num:16");
}

TEST_F(FileBackend, WritesWithoutIdentityDirectoryFailToOpenAndCreateNothing) {
    std::string err = stderr_of([&] {
        EXPECT_FALSE(backend.WriteRobotUuid(kId));
        EXPECT_FALSE(backend.WriteRobotSn(kId));
        EXPECT_FALSE(backend.WriteRobotEnvCode(5));
    });
    EXPECT_EQ(err, "Failed to open the file.\nFailed to open the file.\nFailed to open the file.\n");
    EXPECT_FALSE(std::filesystem::exists(kIdentityDir));
}

TEST_F(FileBackend, WriteOverADirectoryFailsToOpen) {
    put_directory_at(identity_path("robot_id"));
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(backend.WriteRobotUuid(kId)); }), "Failed to open the file.\n");
    // A path that names the directory itself: nothing is made in it.
    EXPECT_EQ(stderr_of([] { EXPECT_FALSE(HardwareFile::write_str_to_file(kId, identity_path("robot_id/"))); }),
              "Failed to open the file.\n");
    EXPECT_TRUE(std::filesystem::is_empty(identity_path("robot_id")));
}

// Empty old files own no block for the new content; content that fits in the
// old file's blocks is rewritten in place (the fault matrix).
TEST_F(FileBackend, WriteOnFullFileSystemFailsAndKeepsOldContent) {
    const std::string old_id = "";
    write_identity_file("robot_id", old_id);
    write_identity_file("robot_status_code", "");
    make_full(kIdentityDir);
    std::string err = stderr_of([&] {
        EXPECT_FALSE(backend.WriteRobotUuid(kId));
        EXPECT_FALSE(backend.WriteRobotEnvCode(65535));
        EXPECT_FALSE(backend.WriteRobotSn(kId));  // a new file that cannot be filled
    });
    EXPECT_EQ(err, "Failed to write the file.\nFailed to write the file.\nFailed to write the file.\n");
    EXPECT_EQ(identity_file("robot_id"), old_id);
    EXPECT_EQ(identity_file("robot_status_code"), "");
    EXPECT_FALSE(std::filesystem::exists(identity_path("robot_sn")));
}

TEST_F(FileBackend, WriteOnReadOnlyFileSystemFailsToOpenAndKeepsOldContent) {
    write_identity_file("robot_id", kOtherId + "\n");
    make_read_only(kIdentityDir);
    std::string err = stderr_of([&] {
        EXPECT_FALSE(backend.WriteRobotUuid(kId));
        EXPECT_FALSE(backend.WriteRobotSn(kId));  // missing: cannot be created either
    });
    EXPECT_EQ(err, "Failed to open the file.\nFailed to open the file.\n");
    EXPECT_EQ(identity_file("robot_id"), kOtherId + "\n");
    EXPECT_FALSE(std::filesystem::exists(identity_path("robot_sn")));
}

}  // namespace
