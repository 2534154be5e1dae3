// The flat interface on simulated units: normalised codes, names, the checks
// in front of the writers, and the handle's life.
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "korvanta_hardware_flat.h"
#include "unit_test.h"

using namespace korvanta_sim;

extern "C" const unsigned long korvanta_flat_c_view[];
extern "C" const unsigned long korvanta_flat_c_view_length;

static_assert(std::is_same_v<std::underlying_type_t<ROBOT_STATUS_ENUM>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<BOARD_TYPE_ENUM>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<ROBOT_VERSION_ENUM>, uint32_t>);
static_assert(std::is_same_v<std::underlying_type_t<STATION_VERSION_ENUM>, uint32_t>);

namespace {

const std::string kHwUuid = "00112233445566778899aabbccddeeff";
const std::string kSerial = "fedcba9876543210fedcba9876543210";
const std::string kRobotUuid = "0123456789abcdef0123456789abcdef";
const std::string kOtherUuid = "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf";

// The handle of one test, destroyed at its end.
class Handle {
public:
    Handle() : h_(KorvantaHardwareInformation_create()) {}
    ~Handle() { KorvantaHardwareInformation_destroy(h_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    KorvantaHardwareInformation* operator->() const { return h_; }
    operator KorvantaHardwareInformation*() const { return h_; }

private:
    KorvantaHardwareInformation* h_;
};

void put_identity_files(const std::string& board, const std::string& version, const std::string& status) {
    write_identity_file("hw_uuid", kHwUuid + "\n");
    write_identity_file("robot_sn", kSerial + "\n");
    write_identity_file("robot_id", kRobotUuid + "\n");
    if (!board.empty()) write_identity_file("board_type_code", board + "\n");
    if (!version.empty()) write_identity_file("robot_version_code", version + "\n");
    if (!status.empty()) write_identity_file("robot_status_code", status + "\n");
}

EepromImage programmed_eeprom() {
    return EepromImage::erased().hw_uuid(kHwUuid).serial(kSerial).robot_uuid(kRobotUuid).board_type(1).version(2).status(
        5);
}

struct Named {
    long code;
    const char* name;
};

}  // namespace

TEST(FlatHeader, CSeesTheSameFourByteEnumerationsAndValues) {
    const std::vector<unsigned long> expected = {
        4,     4, 4,  4,  sizeof(bool),      // sizes
        0,     1, 2,  3,  4, 5, 6, 7, 8,     // robot status
        0,     1, 2,  3,                     // board type
        65535, 1, 2,  10, 20, 21, 22,        // robot version
        65535, 0, 1,                         // station version
    };
    EXPECT_EQ(std::vector<unsigned long>(korvanta_flat_c_view, korvanta_flat_c_view + korvanta_flat_c_view_length),
              expected);
}

TEST(CodeNames, EveryTableValueAndItsNeighbours) {
    const Named status[] = {{-1, "UNKNOWN"},     {0, "UNKNOWN"},      {1, "MACHINE_TEST"}, {2, "TESTING"},
                            {3, "QA_TEST"},      {4, "PRE_RELEASE"},  {5, "RELEASE"},      {6, "PROD_0"},
                            {7, "PROD_1"},       {8, "PROD_2"},       {9, "UNKNOWN"},      {65535, "UNKNOWN"}};
    for (const Named& n : status)
        EXPECT_STREQ(KorvantaHardwareInformation_enum2str_robot_status(static_cast<unsigned>(n.code)), n.name)
            << "status " << n.code;

    const Named board[] = {{-1, "UNKNOWN"},      {0, "UNKNOWN"},       {1, "ROBOT_BOARD"}, {2, "AI_BOARD"},
                           {3, "STATION_BOARD"}, {4, "SIMULATION_BOARD"}, {5, "UNKNOWN"},  {65535, "UNKNOWN"}};
    for (const Named& n : board)
        EXPECT_STREQ(KorvantaHardwareInformation_enum2str_board_type(static_cast<int>(n.code)), n.name)
            << "board type " << n.code;

    const Named version[] = {{0, "UNKNOWN"},         {1, "KORVANTA_DVT1"},  {2, "KORVANTA_DVT2"}, {3, "UNKNOWN"},
                             {9, "UNKNOWN"},         {10, "KORVANTA_PRO_EVT"}, {11, "UNKNOWN"},   {19, "UNKNOWN"},
                             {20, "TALVORN_EVT"},    {21, "TALVORN_DVT"},   {22, "TALVORN_PVT"},  {23, "UNKNOWN"},
                             {65534, "UNKNOWN"},     {65535, "UNKNOWN"},    {65536, "UNKNOWN"},   {-1, "UNKNOWN"}};
    for (const Named& n : version)
        EXPECT_STREQ(KorvantaHardwareInformation_enum2str_robot_version(static_cast<unsigned>(n.code)), n.name)
            << "robot version " << n.code;

    const Named station[] = {{-1, "UNKNOWN"},
                             {0, "STATION_VERSION_OLD"},
                             {1, "STATION_VERSION_2024_930"},
                             {2, "UNKNOWN"},
                             {65535, "UNKNOWN"}};
    for (const Named& n : station)
        EXPECT_STREQ(KorvantaHardwareInformation_enum2str_station_version(static_cast<int>(n.code)), n.name)
            << "station version " << n.code;
}

using FlatInterface = OnSimulatedUnit;

TEST_F(FlatInterface, UnreadableCodesComeBackAsTheUnknownValues) {
    put_identity_files("", "", "");
    Handle h;
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_version_code(h), 65535);
    EXPECT_STREQ(KorvantaHardwareInformation_get_robot_version(h), "UNKNOWN");
    EXPECT_EQ(KorvantaHardwareInformation_get_board_type_code(h), 0);
    EXPECT_STREQ(KorvantaHardwareInformation_get_board_type(h), "UNKNOWN");
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_status_code(h), 0);
    EXPECT_STREQ(KorvantaHardwareInformation_get_robot_status(h), "UNKNOWN");
}

TEST_F(FlatInterface, ReadableCodesPassUnchangedEvenWithoutAnEnumerator) {
    put_identity_files("4", "23", "9");
    Handle h;
    EXPECT_EQ(KorvantaHardwareInformation_get_board_type_code(h), 4);
    EXPECT_STREQ(KorvantaHardwareInformation_get_board_type(h), "SIMULATION_BOARD");
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_version_code(h), 23);
    EXPECT_STREQ(KorvantaHardwareInformation_get_robot_version(h), "UNKNOWN");
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_status_code(h), 9);
    EXPECT_STREQ(KorvantaHardwareInformation_get_robot_status(h), "UNKNOWN");
}

// The version's table follows the stored board type: 3 is a station.
TEST_F(FlatInterface, VersionIsNamedFromTheStationTableOnlyOnAStation) {
    struct Case {
        const char* board;
        const char* version;
        const char* name;
    };
    const Case cases[] = {
        {"3", "0", "STATION_VERSION_OLD"},  {"3", "1", "STATION_VERSION_2024_930"}, {"3", "2", "UNKNOWN"},
        {"3", "", "UNKNOWN"},               {"65539", "1", "STATION_VERSION_2024_930"},
        {"1", "0", "UNKNOWN"},              {"1", "1", "KORVANTA_DVT1"},            {"2", "22", "TALVORN_PVT"},
        {"4", "10", "KORVANTA_PRO_EVT"},    {"", "1", "KORVANTA_DVT1"},             {"", "", "UNKNOWN"},
    };
    for (const Case& c : cases) {
        reset_unit();
        put_identity_files(c.board, c.version, "");
        Handle h;
        EXPECT_STREQ(KorvantaHardwareInformation_get_robot_version(h), c.name)
            << "board \"" << c.board << "\", version \"" << c.version << "\"";
    }
}

TEST_F(FlatInterface, StationEepromNamesItsVersionCodes) {
    EepromImage::erased().hw_uuid(kHwUuid).robot_uuid(kRobotUuid).board_type(3).version(0).install();
    {
        Handle h;
        EXPECT_STREQ(KorvantaHardwareInformation_get_board_type(h), "STATION_BOARD");
        EXPECT_STREQ(KorvantaHardwareInformation_get_robot_version(h), "STATION_VERSION_OLD");
    }
    EepromImage::erased().hw_uuid(kHwUuid).robot_uuid(kRobotUuid).board_type(3).install();
    Handle h;
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_version_code(h), 65535);
    EXPECT_STREQ(KorvantaHardwareInformation_get_robot_version(h), "UNKNOWN");
}

TEST_F(FlatInterface, TextsPointIntoTheHandlesCache) {
    put_identity_files("1", "2", "5");
    write_cpuinfo("Serial : 00000000c0ffee01\n");
    Handle h;
    EXPECT_STREQ(KorvantaHardwareInformation_get_uuid(h), kRobotUuid.c_str());
    EXPECT_STREQ(KorvantaHardwareInformation_get_hw_uuid(h), kHwUuid.c_str());
    EXPECT_STREQ(KorvantaHardwareInformation_get_robot_sn(h), kSerial.c_str());
    EXPECT_STREQ(KorvantaHardwareInformation_get_cpu_serial_number(h), "00000000c0ffee01");
    EXPECT_EQ(KorvantaHardwareInformation_get_machine_id(h), KorvantaHardwareInformation_get_uuid(h));
    EXPECT_EQ(KorvantaHardwareInformation_get_hardware_info(h, "uuid"), KorvantaHardwareInformation_get_uuid(h));
    EXPECT_EQ(KorvantaHardwareInformation_get_hardware_info(h, "serial"), KorvantaHardwareInformation_get_robot_sn(h));
    EXPECT_EQ(KorvantaHardwareInformation_get_hardware_info(h, "cpu_serial_number"),
              KorvantaHardwareInformation_get_cpu_serial_number(h));
    EXPECT_STREQ(KorvantaHardwareInformation_get_hardware_info(h, "robot_status"), "null");
    EXPECT_STREQ(KorvantaHardwareInformation_get_hardware_info(h, "Serial"), "null");
}

TEST_F(FlatInterface, ShortTextsAreRefusedBeforeTheStore) {
    put_identity_files("1", "2", "5");
    Handle h;
    std::string short_text(31, 'a');
    std::string messages = stderr_of([&] {
        EXPECT_FALSE(KorvantaHardwareInformation_writeUuid(h, short_text.c_str()));
        EXPECT_FALSE(KorvantaHardwareInformation_writeSerial(h, short_text.c_str()));
        EXPECT_FALSE(KorvantaHardwareInformation_writeUuid(h, ""));
    });
    EXPECT_EQ(messages, "uuid length is too short \nserial length is too short \nuuid length is too short \n");
    EXPECT_EQ(read_file("/etc/korvanta/robot_id"), kRobotUuid + "\n");
    EXPECT_EQ(read_file("/etc/korvanta/robot_sn"), kSerial + "\n");
}

TEST_F(FlatInterface, LongEnoughTextsGoOnToTheStoresOwnCheck) {
    put_identity_files("1", "2", "5");
    Handle h;
    std::string messages = stderr_of([&] {
        EXPECT_TRUE(KorvantaHardwareInformation_writeUuid(h, kOtherUuid.c_str()));
        EXPECT_TRUE(KorvantaHardwareInformation_writeSerial(h, kOtherUuid.c_str()));
        EXPECT_FALSE(KorvantaHardwareInformation_writeSerial(h, (kOtherUuid + "0").c_str()));
    });
    EXPECT_EQ(messages, "uuid string len not match. str_len: 33 byte num:16");
    EXPECT_EQ(read_file("/etc/korvanta/robot_id"), kOtherUuid + "\n");
    EXPECT_EQ(read_file("/etc/korvanta/robot_sn"), kOtherUuid + "\n");
}

TEST_F(FlatInterface, WritesDoNotRefreshTheHandleButANewHandleSeesThem) {
    put_identity_files("1", "2", "5");
    Handle h;
    EXPECT_TRUE(KorvantaHardwareInformation_writeUuid(h, kOtherUuid.c_str()));
    EXPECT_TRUE(KorvantaHardwareInformation_writeRobotStatus(h, 65535));
    EXPECT_STREQ(KorvantaHardwareInformation_get_uuid(h), kRobotUuid.c_str());
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_status_code(h), 5);

    EXPECT_EQ(read_file("/etc/korvanta/robot_status_code"), "65535\n\n");
    Handle fresh;
    EXPECT_STREQ(KorvantaHardwareInformation_get_uuid(fresh), kOtherUuid.c_str());
    EXPECT_EQ(KorvantaHardwareInformation_get_robot_status_code(fresh), 65535);
}

TEST_F(FlatInterface, ConversionErrorOnAnEepromIsPrintedAndReturnsFalse) {
    programmed_eeprom().install();
    std::vector<uint8_t> before = read_eeprom();
    Handle h;
    std::string messages = stderr_of([&] {
        EXPECT_FALSE(KorvantaHardwareInformation_writeUuid(h, "0123456789abcdef0123456789abcdzz"));
        EXPECT_FALSE(KorvantaHardwareInformation_writeSerial(h, "zz23456789abcdef0123456789abcdef"));
    });
    EXPECT_EQ(messages, "Error: stoiError: stoi");
    EXPECT_EQ(read_eeprom(), before);
}

TEST_F(FlatInterface, DestroyingNullDoesNothing) {
    KorvantaHardwareInformation_destroy(nullptr);
    SUCCEED();
}

TEST_F(FlatInterface, EepromPathIsEmptyTextWithoutADeviceFile) {
    const char* path = KorvantaHardwareInformation_get_eeprom_path();
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, "");
}

TEST_F(FlatInterface, EepromPathNamesTheDeviceFileWheneverItExists) {
    EepromImage::erased().install();
    EXPECT_STREQ(KorvantaHardwareInformation_get_eeprom_path(), kEepromPath);
    put_directory_at(kEepromPath);
    EXPECT_STREQ(KorvantaHardwareInformation_get_eeprom_path(), kEepromPath);
}
