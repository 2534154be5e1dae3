// The simulated unit itself: what the builder puts in place and the faults it makes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "unit_test.h"

namespace fs = std::filesystem;
using namespace korvanta_sim;

namespace {

// errno of writing one byte to a new file in directory, or 0 when it worked.
int error_writing_new_file(const std::string& directory) {
    int fd = ::open((directory + "/probe").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int result = ::write(fd, "x", 1) == 1 ? 0 : errno;
    ::close(fd);
    return result;
}

}  // namespace

using SimulatedUnit = OnSimulatedUnit;

TEST_F(SimulatedUnit, StartsWithNothingOnIt) {
    write_identity_file("robot_id", "x\n");
    write_machine_id("y\n");
    write_cpuinfo("Serial : 1\n");
    EepromImage::erased().install();
    reset_unit();
    EXPECT_FALSE(fs::exists(kIdentityDir));
    EXPECT_FALSE(fs::exists(kMachineIdPath));
    EXPECT_FALSE(fs::exists(kEepromPath));
    EXPECT_EQ(read_file(kCpuinfoPath), "");
}

TEST_F(SimulatedUnit, IdentityFilesWriteOneLinePerItemGivenAndNothingElse) {
    IdentityFiles().robot_id("r").serial("s").status(5).machine_id("m").install();
    EXPECT_EQ(read_file("/etc/korvanta/robot_id"), "r\n");
    EXPECT_EQ(read_file("/etc/korvanta/robot_sn"), "s\n");
    EXPECT_EQ(read_file("/etc/korvanta/robot_status_code"), "5\n");
    EXPECT_EQ(read_file(kMachineIdPath), "m\n");
    EXPECT_FALSE(fs::exists("/etc/korvanta/hw_uuid"));
    EXPECT_FALSE(fs::exists("/etc/korvanta/board_type_code"));
}

TEST_F(SimulatedUnit, EepromImagePlacesFieldsAtTheirOffsetsLittleEndian) {
    EepromImage::erased()
        .hw_uuid("000102030405060708090a0b0c0d0e0f")
        .board_type(0x0103)
        .version(2)
        .serial("ffeeddccbbaa99887766554433221100")
        .robot_uuid("0123456789abcdef0123456789abcdef")
        .status(5)
        .install();
    std::vector<uint8_t> bytes = read_eeprom();
    ASSERT_EQ(bytes.size(), kEepromSize);
    EXPECT_EQ(bytes[15], 0x0f);
    EXPECT_EQ(bytes[16], 0x03);
    EXPECT_EQ(bytes[17], 0x01);
    EXPECT_EQ(bytes[18], 2);
    EXPECT_EQ(bytes[20], 0xff);
    EXPECT_EQ(bytes[35], 0x00);
    EXPECT_EQ(bytes[36], 0x01);
    EXPECT_EQ(bytes[51], 0xef);
    EXPECT_EQ(bytes[52], 5);
    EXPECT_EQ(bytes[53], 0);
    EXPECT_EQ(bytes[54], 0xff);
}

TEST_F(SimulatedUnit, EepromImageHonoursBaseOffsetAndTruncation) {
    EepromImage image(256, 0x00, 128);
    image.status(0x1234);
    EXPECT_EQ(image.bytes()[180], 0x34);
    EXPECT_EQ(image.bytes()[181], 0x12);
    EXPECT_EQ(EepromImage::zeroed().truncate(40).bytes().size(), 40u);
}

TEST_F(SimulatedUnit, ReadOnlyDirectoryRefusesWritesWithErofs) {
    write_identity_file("robot_id", "kept\n");
    make_read_only(kIdentityDir);
    EXPECT_EQ(error_writing_new_file(kIdentityDir), EROFS);
    EXPECT_EQ(read_file(std::string(kIdentityDir) + "/robot_id"), "kept\n");
}

TEST_F(SimulatedUnit, FullDirectoryKeepsItsFilesAndFailsWritesAfterOpen) {
    write_identity_file("robot_id", "kept\n");
    make_full(kIdentityDir);
    EXPECT_EQ(error_writing_new_file(kIdentityDir), ENOSPC);
    EXPECT_EQ(read_file(std::string(kIdentityDir) + "/robot_id"), "kept\n");
}

TEST_F(SimulatedUnit, ResetUndoesFaultMounts) {
    make_read_only(kIdentityDir);
    reset_unit();
    fs::create_directories(kIdentityDir);
    EXPECT_EQ(error_writing_new_file(kIdentityDir), 0);
}

TEST_F(SimulatedUnit, DirectoryCanStandWhereAFileShould) {
    put_directory_at(kMachineIdPath);
    EXPECT_TRUE(fs::is_directory(kMachineIdPath));
}
