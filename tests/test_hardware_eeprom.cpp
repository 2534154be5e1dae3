// The EEPROM backend on a simulated unit: field layout, messages, the failed
// state, strict hex pairs, write verification, and how many transfers reach
// the device (counted by the preloaded eeprom_io_counter).
#include <sys/mount.h>
#include <sys/stat.h>

#include <memory>
#include <stdexcept>

#include "eeprom_io_counter.h"
#include "korvanta_hardware.h"
#include "unit_test.h"

using namespace korvanta_hardware;
using namespace korvanta_sim;

namespace {

const std::string kUuid = "0123456789abcdef0123456789abcdef";
const std::string kAllF(32, 'f');
const std::string kHwUuid = "00112233445566778899aabbccddeeff";
const std::string kSerial = "ffeeddccbbaa99887766554433221100";
const std::string kReadFailed = "read operation failed: basic_ios::clear: iostream error";

EepromConfig_Def config(uint32_t size, uint32_t base_offset, int32_t writable) {
    return {kEepromPath, size, base_offset, writable};
}

// The backend on the configured entry, the way the information object makes it.
std::unique_ptr<HardwareEeprom> probed_eeprom() {
    EepromConfig_Def probed;
    if (!KorvantaHardwareInformation::GetValidEeprom(probed)) throw std::runtime_error("no EEPROM file");
    return std::make_unique<HardwareEeprom>(probed);
}

// Constructs the backend and returns what construction wrote to stderr.
std::string construct(std::unique_ptr<HardwareEeprom>& eeprom, const EepromConfig_Def& with) {
    return stderr_of([&] { eeprom = std::make_unique<HardwareEeprom>(with); });
}

EepromImage programmed() {
    return EepromImage::erased().hw_uuid(kHwUuid).board_type(0x0103).version(2).serial(kSerial).robot_uuid(kUuid).status(5);
}

// Every field operation of a failed stream: placeholders, false, no message.
void expect_failed_for_good(HardwareEeprom& eeprom) {
    std::string messages = stderr_of([&] {
        EXPECT_EQ(eeprom.GetHwUuid(), "null");
        EXPECT_EQ(eeprom.GetRobotSn(), "null");
        EXPECT_EQ(eeprom.GetRobotUuid(), "null");
        EXPECT_EQ(eeprom.GetBoardTypeCode(), -1);
        EXPECT_EQ(eeprom.GetRobotVersionCode(), -1);
        EXPECT_EQ(eeprom.GetRobotEnvCode(), -1);
        EXPECT_FALSE(eeprom.WriteRobotUuid(kUuid));
        EXPECT_FALSE(eeprom.WriteRobotSn(kUuid));
        EXPECT_FALSE(eeprom.WriteRobotEnvCode(1));
    });
    EXPECT_EQ(messages, "");
}

}  // namespace

using HardwareEepromTest = OnSimulatedUnit;

TEST_F(HardwareEepromTest, ProbeFailsWithoutEepromFileAndLeavesOutputUnchanged) {
    EepromConfig_Def out{"untouched", 1, 2, 3};
    EXPECT_FALSE(KorvantaHardwareInformation::GetValidEeprom(out));
    EXPECT_STREQ(out.path, "untouched");
    EXPECT_EQ(out.size, 1u);
    EXPECT_EQ(out.base_offset, 2u);
    EXPECT_EQ(out.writable, 3);
}

TEST_F(HardwareEepromTest, ProbeReturnsTheConfiguredEntryWhenThePathExistsAtAll) {
    put_directory_at(kEepromPath);  // exists is enough; nothing is opened
    EepromConfig_Def out;
    ASSERT_TRUE(KorvantaHardwareInformation::GetValidEeprom(out));
    EXPECT_STREQ(out.path, "/sys/bus/i2c/devices/5-0050/eeprom");
    EXPECT_EQ(out.size, 256u);
    EXPECT_EQ(out.base_offset, 0u);
    EXPECT_EQ(out.writable, 1);
}

TEST_F(HardwareEepromTest, ErasedEepromReadsAllFAnd65535WithoutMessages) {
    EepromImage::erased().install();
    auto eeprom = probed_eeprom();
    std::string messages = stderr_of([&] {
        EXPECT_EQ(eeprom->GetHwUuid(), kAllF);
        EXPECT_EQ(eeprom->GetRobotSn(), kAllF);
        EXPECT_EQ(eeprom->GetRobotUuid(), kAllF);
        EXPECT_EQ(eeprom->GetBoardTypeCode(), 65535);
        EXPECT_EQ(eeprom->GetRobotVersionCode(), 65535);
        EXPECT_EQ(eeprom->GetRobotEnvCode(), 65535);
    });
    EXPECT_EQ(messages, "");
}

TEST_F(HardwareEepromTest, ZeroedEepromReadsZerosAndKeepsTheUnusableRobotUuid) {
    EepromImage::zeroed().install();
    auto eeprom = probed_eeprom();
    std::string messages = stderr_of([&] {
        EXPECT_EQ(eeprom->GetRobotUuid(), std::string(32, '0'));
        EXPECT_EQ(eeprom->GetRobotEnvCode(), 0);
    });
    EXPECT_EQ(messages, "");
}

TEST_F(HardwareEepromTest, ProgrammedEepromReadsEachFieldFromItsOffset) {
    programmed().robot_uuid("000102030405060708090a0b0c0d0e0f").install();
    auto eeprom = probed_eeprom();
    std::string messages = stderr_of([&] {
        EXPECT_EQ(eeprom->GetHwUuid(), kHwUuid);
        EXPECT_EQ(eeprom->GetRobotSn(), kSerial);
        EXPECT_EQ(eeprom->GetRobotUuid(), "000102030405060708090a0b0c0d0e0f");
        EXPECT_EQ(eeprom->GetBoardTypeCode(), 0x0103);
        EXPECT_EQ(eeprom->GetRobotVersionCode(), 2);
        EXPECT_EQ(eeprom->GetRobotEnvCode(), 5);
    });
    EXPECT_EQ(messages, "");
}

TEST_F(HardwareEepromTest, UnusableRobotUuidIsReplacedByHwUuidOnEveryCall) {
    programmed().robot_uuid(kAllF).install();
    auto eeprom = probed_eeprom();
    for (int call = 0; call < 2; ++call) {
        std::string uuid;
        EXPECT_EQ(stderr_of([&] { uuid = eeprom->GetRobotUuid(); }), "uuid replaced by hw_uuid\n");
        EXPECT_EQ(uuid, kHwUuid);
    }
}

TEST_F(HardwareEepromTest, WritesStoreRawBytesAtTheirOffsetsAndNothingElse) {
    EepromImage image = programmed();
    image.install();
    auto eeprom = probed_eeprom();
    std::string messages = stderr_of([&] {
        EXPECT_TRUE(eeprom->WriteRobotUuid("0123456789ABCDEF0123456789abcdef"));
        EXPECT_TRUE(eeprom->WriteRobotSn("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"));
        EXPECT_TRUE(eeprom->WriteRobotEnvCode(0x12345));
    });
    EXPECT_EQ(messages, "");
    std::vector<uint8_t> expected = image.bytes();
    const uint8_t uuid[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    for (int i = 0; i < 16; ++i) {
        expected[20 + i] = static_cast<uint8_t>(0xa0 + i);
        expected[36 + i] = uuid[i % 8];
    }
    expected[52] = 0x45;
    expected[53] = 0x23;
    EXPECT_EQ(read_eeprom(), expected);
    EXPECT_EQ(eeprom->GetRobotUuid(), kUuid);
    EXPECT_EQ(eeprom->GetRobotEnvCode(), 0x2345);
}

TEST_F(HardwareEepromTest, TextOfWrongLengthIsRefusedWithMessage) {
    programmed().install();
    auto eeprom = probed_eeprom();
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotSn(kUuid.substr(1))); }),
              "uuid string len not match. str_len: 31 byte num:16");
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotUuid(kUuid + "0")); }),
              "uuid string len not match. str_len: 33 byte num:16");
    EXPECT_EQ(read_eeprom(), programmed().bytes());
}

TEST_F(HardwareEepromTest, MalformedPairThrowsStoiAndWritesNothing) {
    programmed().install();
    auto eeprom = probed_eeprom();
    for (const char* pair : {"zz", "-1", " f", "f ", "1g", "+f", "0x", "\xff\xff"}) {
        for (size_t at : {size_t{0}, size_t{30}}) {
            std::string text = kUuid;
            text.replace(at, 2, pair);
            std::string messages = stderr_of([&] {
                try {
                    eeprom->WriteRobotUuid(text);
                    ADD_FAILURE() << "accepted " << text;
                } catch (const std::invalid_argument& error) {
                    EXPECT_STREQ(error.what(), "stoi");
                }
                EXPECT_THROW(eeprom->WriteRobotSn(text), std::invalid_argument);
            });
            EXPECT_EQ(messages, "");
            EXPECT_EQ(read_eeprom(), programmed().bytes()) << "after " << text;
        }
    }
}

TEST_F(HardwareEepromTest, FileThatCannotBeOpenedLeavesEveryOperationFailed) {
    put_directory_at(kEepromPath);
    std::unique_ptr<HardwareEeprom> eeprom;
    EXPECT_EQ(construct(eeprom, config(256, 0, 1)), "open eeprom failed! writable =  1");
    expect_failed_for_good(*eeprom);
}

// Neither kind of open waits for a writer at the other end.
TEST_F(HardwareEepromTest, FifoCountsAsAFailedOpenAndBlocksNothing) {
    put_directory_at("/sys/bus/i2c/devices/5-0050");
    ASSERT_EQ(::mkfifo(kEepromPath, 0600), 0);
    for (int writable : {1, 0}) {
        std::unique_ptr<HardwareEeprom> eeprom;
        EXPECT_EQ(construct(eeprom, config(256, 0, writable)), "open eeprom failed! writable =  " + std::to_string(writable));
        expect_failed_for_good(*eeprom);
    }
}

// Reading needs no write access: refused writes say why and leave the stream good.
TEST_F(HardwareEepromTest, FileThatCannotBeOpenedForWritingIsReadAndRefusesWrites) {
    programmed().install();
    make_read_only("/sys/bus/i2c/devices/5-0050");
    std::unique_ptr<HardwareEeprom> eeprom;
    EXPECT_EQ(stderr_of([&] { eeprom = probed_eeprom(); }), "");
    EXPECT_EQ(stderr_of([&] {
                  EXPECT_FALSE(eeprom->WriteRobotUuid(kHwUuid));
                  EXPECT_FALSE(eeprom->WriteRobotEnvCode(1));
              }),
              "the eeprom is open for reading only\nthe eeprom is open for reading only\n");
    EXPECT_EQ(eeprom->GetHwUuid(), kHwUuid);
    EXPECT_EQ(eeprom->GetRobotEnvCode(), 5);
    EXPECT_EQ(read_eeprom(), programmed().bytes());
}

TEST_F(HardwareEepromTest, ReadOnlyConfigurationFailsTheFirstWriteAndThenEverything) {
    programmed().install();
    std::unique_ptr<HardwareEeprom> eeprom;
    EXPECT_EQ(construct(eeprom, config(256, 0, 0)), "");
    EXPECT_EQ(eeprom->GetHwUuid(), kHwUuid);
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotUuid(kHwUuid)); }),
              "write operation failed: eeprom write: Bad file descriptor");
    expect_failed_for_good(*eeprom);
    EXPECT_EQ(read_eeprom(), programmed().bytes());
}

TEST_F(HardwareEepromTest, ShortFileFailsTheReadPastItsEndAndThenEverything) {
    programmed().truncate(30).install();
    auto eeprom = probed_eeprom();
    EXPECT_EQ(eeprom->GetRobotVersionCode(), 2);  // bytes 18-19 are there
    std::string serial;
    EXPECT_EQ(stderr_of([&] { serial = eeprom->GetRobotSn(); }), kReadFailed);
    EXPECT_EQ(serial, "null");
    expect_failed_for_good(*eeprom);
}

TEST_F(HardwareEepromTest, SizeBelowTheBlockRefusesOnlyTheFieldsPastIt) {
    programmed().install();
    std::unique_ptr<HardwareEeprom> eeprom;
    EXPECT_EQ(construct(eeprom, config(53, 0, 1)), "the size of eeprom is too small\n");
    int status = 0;
    EXPECT_EQ(stderr_of([&] { status = eeprom->GetRobotEnvCode(); }), "reading range out of bounds\n");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotEnvCode(7)); }), "writing range out of bounds\n");
    // A refusal leaves the stream good.
    std::string messages = stderr_of([&] {
        EXPECT_EQ(eeprom->GetRobotUuid(), kUuid);
        EXPECT_EQ(eeprom->GetRobotVersionCode(), 2);
        EXPECT_TRUE(eeprom->WriteRobotSn(kUuid));
    });
    EXPECT_EQ(messages, "");
    EXPECT_EQ(read_eeprom()[52], 5);
}

TEST_F(HardwareEepromTest, BaseOffsetMovesTheWholeBlock) {
    EepromImage image(256, 0xFF, 128);
    image.hw_uuid(kHwUuid).status(5).install();
    std::unique_ptr<HardwareEeprom> eeprom;
    EXPECT_EQ(construct(eeprom, config(256, 128, 1)), "");
    EXPECT_EQ(eeprom->GetHwUuid(), kHwUuid);
    EXPECT_EQ(eeprom->GetRobotEnvCode(), 5);
    EXPECT_TRUE(eeprom->WriteRobotEnvCode(0x0102));
    std::vector<uint8_t> expected = image.bytes();
    expected[180] = 0x02;
    expected[181] = 0x01;
    EXPECT_EQ(read_eeprom(), expected);
}

TEST_F(HardwareEepromTest, WriteTheDeviceDidNotKeepFailsVerification) {
    EepromImage::erased().install();
    // /dev/zero takes every write and reads back zeros, like a write-protected chip.
    ASSERT_EQ(::mount("/dev/zero", kEepromPath, nullptr, MS_BIND, nullptr), 0);
    auto eeprom = probed_eeprom();
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotUuid(kUuid)); }), "write verification failed\n");
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotEnvCode(1)); }), "write verification failed\n");
    // A mismatch is not a transfer failure: the stream stays good.
    std::string messages = stderr_of([&] {
        EXPECT_TRUE(eeprom->WriteRobotSn(std::string(32, '0')));
        EXPECT_EQ(eeprom->GetRobotEnvCode(), 0);
    });
    EXPECT_EQ(messages, "");
}

TEST_F(HardwareEepromTest, ReadBackThatFailsIsAFailedReadForGood) {
    EepromImage::erased().install();
    // /dev/null takes every write and reads back nothing: the read-back ends early.
    ASSERT_EQ(::mount("/dev/null", kEepromPath, nullptr, MS_BIND, nullptr), 0);
    auto eeprom = probed_eeprom();
    EXPECT_EQ(stderr_of([&] { EXPECT_FALSE(eeprom->WriteRobotEnvCode(1)); }), kReadFailed);
    expect_failed_for_good(*eeprom);
}

// The exact-access rule, as counts of what reaches the device file.
class EepromTransfers : public OnSimulatedUnit {
protected:
    void SetUp() override {
        OnSimulatedUnit::SetUp();
        counter_ = korvanta_io_counter();
        ASSERT_NE(counter_, nullptr) << "run with LD_PRELOAD=libkorvanta-eeprom-io-counter.so";
    }
    korvanta_io_counts during(const std::function<void()>& action) {
        korvanta_io_counts counts;
        counter_->reset();
        action();
        counter_->get(&counts);
        return counts;
    }
    const korvanta_io_counter_api* counter_ = nullptr;
};

TEST_F(EepromTransfers, FullIdentityReadMoves70BytesIn7Reads) {
    programmed().robot_uuid(kAllF).install();  // the robot uuid takes its fallback read
    korvanta_io_counts counts = during([] { KorvantaHardwareInformation information; });
    EXPECT_EQ(counts.opens, 1u);
    EXPECT_EQ(counts.reads, 7u);
    EXPECT_EQ(counts.bytes_read, 70u);
    EXPECT_EQ(counts.seeks, 0u);  // each read carries its position
    EXPECT_EQ(counts.writes, 0u);
    EXPECT_EQ(counts.closes, 1u);
}

TEST_F(EepromTransfers, FieldWriteIsOneWriteAndOneReadBackOfItsBytes) {
    programmed().install();
    auto eeprom = probed_eeprom();
    korvanta_io_counts uuid = during([&] { EXPECT_TRUE(eeprom->WriteRobotUuid(kHwUuid)); });
    EXPECT_EQ(uuid.writes, 1u);
    EXPECT_EQ(uuid.bytes_written, 16u);
    EXPECT_EQ(uuid.reads, 1u);
    EXPECT_EQ(uuid.bytes_read, 16u);
    korvanta_io_counts code = during([&] { EXPECT_TRUE(eeprom->WriteRobotEnvCode(9)); });
    EXPECT_EQ(code.writes, 1u);
    EXPECT_EQ(code.bytes_written, 2u);
    EXPECT_EQ(code.reads, 1u);
    EXPECT_EQ(code.bytes_read, 2u);
}

TEST_F(EepromTransfers, FailedStreamNoLongerTouchesTheDevice) {
    programmed().truncate(10).install();
    auto eeprom = probed_eeprom();
    EXPECT_EQ(stderr_of([&] { eeprom->GetHwUuid(); }), kReadFailed);
    korvanta_io_counts counts = during([&] { expect_failed_for_good(*eeprom); });
    EXPECT_EQ(counts.reads + counts.writes + counts.seeks, 0u);
}
