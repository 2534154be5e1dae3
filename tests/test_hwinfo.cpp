// korvanta-hwinfo run as a program on simulated units: what it prints, what it
// writes, and the exit statuses scripts rely on.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "unit_test.h"
#include "unprivileged.h"

extern char** environ;

using namespace korvanta_sim;
using nlohmann::json;

namespace {

const std::string kRobotUuid = "0123456789abcdef0123456789abcdef";
const std::string kHwUuid = "00112233445566778899aabbccddeeff";
const std::string kSerial = "ffeeddccbbaa99887766554433221100";
const std::string kNewId = "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string whole_memfd(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    for (off_t offset = 0; (n = ::pread(fd, buffer, sizeof buffer, offset)) > 0; offset += n) text.append(buffer, n);
    return text;
}

// Runs the tool with stdout and stderr collected apart, or stdout going to
// output_path; through the command in front, if any (which must exec the tool).
ToolRun run_hwinfo(const std::vector<std::string>& args, const char* output_path = nullptr,
                   const std::vector<std::string>& front = {}) {
    int out = output_path ? ::open(output_path, O_WRONLY | O_CLOEXEC) : ::memfd_create("hwinfo-out", MFD_CLOEXEC);
    int err = ::memfd_create("hwinfo-err", MFD_CLOEXEC);
    std::vector<char*> argv;
    for (const std::string& word : front) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(const_cast<char*>(KORVANTA_HWINFO));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    ToolRun run;
    pid_t pid;
    int wait_status = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
        ::waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status)) {
        run.status = WEXITSTATUS(wait_status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = output_path ? "" : whole_memfd(out);
    run.err = whole_memfd(err);
    ::close(out);
    ::close(err);
    return run;
}

json parsed(const std::string& text) { return json::parse(text, nullptr, /*allow_exceptions=*/false); }

void make_file_unit() {
    IdentityFiles().robot_id(kRobotUuid).hw_uuid(kHwUuid).serial(kSerial).board_type(2).version(10).status(3).install();
    write_cpuinfo("processor\t: 0\nSerial\t\t: 00000000c0ffee42\n");
}

EepromImage eeprom_unit(uint16_t board_type, uint16_t version, uint16_t status) {
    EepromImage image = EepromImage::erased();
    image.hw_uuid(kHwUuid).serial(kSerial).robot_uuid(kRobotUuid).board_type(board_type).version(version).status(status);
    return image;
}

std::string eeprom_hex(size_t offset, size_t length) {
    std::vector<uint8_t> bytes = read_eeprom();
    std::string hex;
    for (size_t i = offset; i < offset + length && i < bytes.size(); ++i) {
        hex += "0123456789abcdef"[bytes[i] >> 4];
        hex += "0123456789abcdef"[bytes[i] & 0xf];
    }
    return hex;
}

std::string identity_file(const std::string& name) {
    return read_file(std::string(kIdentityDir) + "/" + name).value_or("<missing>");
}

// A unit file for program, in a file of its own under /tmp.
std::string unit_file(const std::string& text) {
    std::string path = "/tmp/korvanta-hwinfo-unit-" + std::to_string(::getpid()) + ".json";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const std::string kRobotUnit = R"({"store": "eeprom", "uuid": ")" + kRobotUuid + R"(", "hw_uuid": ")" + kHwUuid +
                               R"(", "serial": ")" + kSerial +
                               R"(", "board_type": "ROBOT_BOARD", "robot_version": 2, "robot_status": "RELEASE"})";

// The whole store as bytes: the EEPROM's image and every identity file.
std::string store_snapshot() {
    std::vector<uint8_t> image = read_eeprom();
    std::string snapshot(image.begin(), image.end());
    for (const char* name : {"robot_id", "hw_uuid", "robot_sn", "board_type_code", "robot_version_code",
                             "robot_status_code"})
        snapshot += std::string(name) + "=" + identity_file(name) + ";";
    return snapshot;
}

}  // namespace

using HwinfoTool = OnSimulatedUnit;

TEST_F(HwinfoTool, ReadableOutputOfAFileUnitListsEveryItemAligned) {
    make_file_unit();
    ToolRun run = run_hwinfo({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "robot identifier:    0123456789abcdef0123456789abcdef\n"
              "hardware identifier: 00112233445566778899aabbccddeeff\n"
              "serial number:       ffeeddccbbaa99887766554433221100\n"
              "cpu serial:          00000000c0ffee42\n"
              "board type:          2 AI_BOARD\n"
              "version:             10 KORVANTA_PRO_EVT\n"
              "status:              3 QA_TEST\n"
              "source:              identity files\n"
              "robot_uuid_source:   robot_id\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(HwinfoTool, JsonOfAnEepromUnitHasNumbersForCodesAndTheEepromAsSource) {
    eeprom_unit(1, 2, 5).install();
    ToolRun run = run_hwinfo({"--json"});
    ASSERT_EQ(run.status, 0);
    json object = parsed(run.out);
    ASSERT_TRUE(object.is_object()) << run.out;
    EXPECT_EQ(object["uuid"], kRobotUuid);
    EXPECT_EQ(object["hw_uuid"], kHwUuid);
    EXPECT_EQ(object["serial"], kSerial);
    EXPECT_EQ(object["cpu_serial_number"], "null");
    EXPECT_EQ(object["board_type"], 1);
    EXPECT_EQ(object["board_type_name"], "ROBOT_BOARD");
    EXPECT_EQ(object["robot_version"], 2);
    EXPECT_EQ(object["robot_version_name"], "KORVANTA_DVT2");
    EXPECT_EQ(object["robot_status"], 5);
    EXPECT_EQ(object["robot_status_name"], "RELEASE");
    EXPECT_EQ(object["source"], kEepromPath);
}

TEST_F(HwinfoTool, JsonOfAUnitWithNothingKeepsEveryKeyInTheSameOrder) {
    ToolRun run = run_hwinfo({"--json"});
    ASSERT_EQ(run.status, 0);
    nlohmann::ordered_json object = nlohmann::ordered_json::parse(run.out, nullptr, false);
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"uuid", "hw_uuid", "serial", "cpu_serial_number", "board_type",
                                              "board_type_name", "robot_version", "robot_version_name",
                                              "robot_status", "robot_status_name", "source",
                                              "robot_uuid_source"}));
    EXPECT_EQ(object["uuid"], "null");
    EXPECT_EQ(object["board_type"], 0);
    EXPECT_EQ(object["robot_version"], 65535);
    EXPECT_EQ(object["robot_status_name"], "UNKNOWN");
    EXPECT_EQ(object["source"], "none");
    // For Prometheus, empty labels rather than a broken file.
    EXPECT_NE(run_hwinfo({"--prometheus"}).out.find(
                  "\nkorvanta_hardware_info{robot_uuid=\"\",hw_uuid=\"\",serial=\"\",cpu_serial=\"\",board_type=\"UNKNOWN\","
                  "robot_version=\"UNKNOWN\",robot_status=\"UNKNOWN\",source=\"none\",robot_uuid_source=\"none\"} 1\n"),
              std::string::npos);
    // One identity file, even an empty one, is a source: its value is what is wrong.
    write_identity_file("robot_status_code", "");
    EXPECT_EQ(parsed(run_hwinfo({"--json"}).out)["source"], "identity files");
}

TEST_F(HwinfoTool, RobotUuidSourceTellsAStandInFromTheStoresOwnIdentifier) {
    struct Unit {
        const char* name;
        std::function<void()> install;
        const char* uuid_source;
    };
    const std::vector<Unit> units = {
        {"EEPROM", [] { eeprom_unit(1, 2, 5).install(); }, "eeprom"},
        {"erased robot uuid", [] { EepromImage::erased().hw_uuid(kHwUuid).install(); }, "hw_uuid"},
        {"erased EEPROM", [] { EepromImage::erased().install(); }, "none"},
        {"files", make_file_unit, "robot_id"},
        {"zeroed robot_id", [] { IdentityFiles().robot_id(std::string(32, '0')).machine_id(kNewId).install(); },
         "machine-id"},
        // No identity file at all, so "source: none", yet the identifier is the clonable machine-id.
        {"machine-id only", [] { write_machine_id(kNewId + "\n"); }, "machine-id"},
        {"nothing", [] {}, "none"},
    };
    for (const Unit& unit : units) {
        reset_unit();
        unit.install();
        ToolRun run = run_hwinfo({"--json"});
        EXPECT_EQ(parsed(run.out)["robot_uuid_source"], std::string(unit.uuid_source)) << unit.name << ": " << run.out;
    }
    // A daemon's stdio is closed; the library's messages must still be heard.
    reset_unit();
    write_machine_id(kNewId + "\n");
    const std::string metrics = "/etc/korvanta.prom", closed_stdio = "exec \"$0\" \"$@\" <&- >&- 2>&-";
    EXPECT_EQ(run_hwinfo({"--prometheus", metrics}, nullptr, {"sh", "-c", closed_stdio}).status, 0);
    EXPECT_NE(read_file(metrics).value_or("").find("robot_uuid_source=\"machine-id\""), std::string::npos);
}

TEST_F(HwinfoTool, StationBoardNamesItsVersionFromTheStationTable) {
    eeprom_unit(3, 0, 5).install();
    ToolRun old_station = run_hwinfo({});
    EXPECT_NE(old_station.out.find("board type:          3 STATION_BOARD\n"), std::string::npos) << old_station.out;
    EXPECT_NE(old_station.out.find("version:             0 STATION_VERSION_OLD\n"), std::string::npos);

    eeprom_unit(3, 1, 5).install();
    EXPECT_EQ(parsed(run_hwinfo({"--json"}).out)["robot_version_name"], "STATION_VERSION_2024_930");
    // The same code on a robot board comes from the robot table.
    eeprom_unit(1, 1, 5).install();
    EXPECT_EQ(parsed(run_hwinfo({"--json"}).out)["robot_version_name"], "KORVANTA_DVT1");
}

TEST_F(HwinfoTool, JsonStaysValidWhenAnIdentityFileHoldsInvalidUtf8) {
    write_identity_file("robot_sn", std::string(31, 'a') + "\xff\n");
    ToolRun run = run_hwinfo({"--json"});
    EXPECT_EQ(run.status, 0);
    json object = parsed(run.out);
    ASSERT_TRUE(object.is_object()) << run.out;
    EXPECT_EQ(object["serial"], std::string(31, 'a') + "\xEF\xBF\xBD");
}

TEST_F(HwinfoTool, LibraryMessagesWithoutALineFeedGetOneAndStayOnStderr) {
    write_identity_file("hw_uuid", "abc\n");
    ToolRun run = run_hwinfo({});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("file:/etc/korvanta/hw_uuid ID string size err. str_size:3 size:16\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.rfind("robot identifier:", 0), 0u);
}

TEST_F(HwinfoTool, PrometheusLabelsCarryTheTextsEscapedAndGaugesTheCodes) {
    make_file_unit();
    write_identity_file("robot_sn", "say \"hi\" C:\\korvanta \xff" + std::string(10, '0') + "\n");
    ToolRun run = run_hwinfo({"--prometheus"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("korvanta_hardware_info{robot_uuid=\"" + kRobotUuid + "\",hw_uuid=\"" + kHwUuid +
                           "\",serial=\"say \\\"hi\\\" C:\\\\korvanta \xEF\xBF\xBD" + std::string(10, '0') +
                           "\",cpu_serial=\"00000000c0ffee42\",board_type=\"AI_BOARD\",robot_version=\"KORVANTA_PRO_EVT\","
                           "robot_status=\"QA_TEST\",source=\"identity files\",robot_uuid_source=\"robot_id\"} 1\n"),
              std::string::npos)
        << run.out;
    for (std::string gauge : {"board_type_code 2", "robot_version_code 10", "robot_status_code 3"}) {
        std::string name = "korvanta_hardware_" + gauge.substr(0, gauge.find(' '));
        EXPECT_NE(run.out.find("# TYPE " + name + " gauge\nkorvanta_hardware_" + gauge + "\n"), std::string::npos);
    }
}

TEST_F(HwinfoTool, PrometheusUnderTheTimersReadOnlySysStillReadsTheEeprom) {
    eeprom_unit(1, 2, 5).install();
    make_read_only("/sys/bus/i2c/devices/5-0050");  // ProtectKernelTunables= in the service
    ToolRun run = run_hwinfo({"--prometheus"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("{robot_uuid=\"" + kRobotUuid + "\""), std::string::npos) << run.out;
}

// A container gets the unit's identity as host paths bound read-only, /sys
// read-only, and runs as a user of its own with the korvanta group added.
TEST_F(HwinfoTool, ContainerReadsTheIdentityThroughReadOnlyBindsAsAUserInTheGroup) {
    if (!can_become_nobody()) GTEST_SKIP() << "needs real root to become another user";
    constexpr gid_t kKorvantaGroup = 4242;
    const std::vector<std::string> container_user = {"setpriv", "--reuid=65534", "--regid=65534",
                                                     "--groups=" + std::to_string(kKorvantaGroup), "--"};
    struct Unit {
        std::function<void()> install;
        std::vector<std::string> bound;  // in mount order: /sys/bus/i2c first, not to hide the EEPROM's bind
    };
    const std::vector<Unit> units = {
        {[] {
             eeprom_unit(1, 2, 5).install();
             ASSERT_EQ(::chown(kEepromPath, 0, kKorvantaGroup), 0);
             ASSERT_EQ(::chmod(kEepromPath, 0640), 0);  // as the udev rule leaves it
         },
         {"/sys/bus/i2c", kEepromPath}},
        {[] { IdentityFiles().robot_id(kRobotUuid).machine_id(kNewId).install(); },
         {"/sys/bus/i2c", kIdentityDir, kMachineIdPath}},
    };
    for (const Unit& unit : units) {
        reset_unit();
        unit.install();
        for (const std::string& path : unit.bound) make_read_only(path);
        ToolRun run = run_hwinfo({"--json"}, nullptr, container_user);
        EXPECT_EQ(run.status, 0) << unit.bound[1] << ": " << run.err;
        EXPECT_EQ(parsed(run.out)["uuid"], kRobotUuid) << unit.bound[1];
    }
}

TEST_F(HwinfoTool, PrometheusFileIsReplacedWholeReadableByTheCollector) {
    char pattern[] = "/tmp/hwinfo-textfile.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, metrics = dir + "/korvanta.prom";
    make_file_unit();
    ::umask(022);
    ToolRun first = run_hwinfo({"--prometheus", metrics});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(read_file(metrics), run_hwinfo({"--prometheus"}).out);
    struct stat st {};
    EXPECT_EQ(::stat(metrics.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);  // node_exporter runs as another user

    // Renamed into place: a reader holding the old file keeps the old report whole.
    // (A second hard link would make it a file rewritten in place.)
    const int held = ::open(metrics.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const std::string earlier = "/proc/self/fd/" + std::to_string(held);
    write_identity_file("robot_status_code", "5\n");
    EXPECT_EQ(run_hwinfo({"--prometheus", metrics}).status, 0);
    EXPECT_NE(read_file(earlier).value_or("").find("robot_status=\"QA_TEST\""), std::string::npos);
    EXPECT_NE(read_file(metrics).value_or("").find("robot_status=\"RELEASE\""), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no temporary file left";
    ::close(held);
    std::filesystem::remove_all(dir);

    ToolRun missing = run_hwinfo({"--prometheus", dir + "/korvanta.prom"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "korvanta-hwinfo: cannot write " + metrics + ": No such file or directory\n");
}

TEST_F(HwinfoTool, SetUuidWritesTheFileAndReportsTheValueReadBack) {
    make_file_unit();
    ToolRun run = run_hwinfo({"set-uuid", kNewId});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "robot identifier:    " + kNewId + "\n");
    EXPECT_EQ(identity_file("robot_id"), kNewId + "\n");
}

TEST_F(HwinfoTool, SetUuidOnAnEepromTakesUppercaseHexAndReadsItBackInLowercase) {
    eeprom_unit(1, 2, 5).install();
    ToolRun run = run_hwinfo({"set-uuid", "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "robot identifier:    " + kNewId + "\n");
    EXPECT_EQ(eeprom_hex(36, 16), kNewId);
}

TEST_F(HwinfoTool, SetSerialOnAnEepromStoresItsBytes) {
    eeprom_unit(1, 2, 5).install();
    ToolRun run = run_hwinfo({"set-serial", kNewId});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "serial number:       " + kNewId + "\n");
    EXPECT_EQ(eeprom_hex(20, 16), kNewId);
}

TEST_F(HwinfoTool, SetStatusTakesANameOrADecimalCode) {
    make_file_unit();
    ToolRun by_name = run_hwinfo({"set-status", "RELEASE"});
    EXPECT_EQ(by_name.status, 0) << by_name.err;
    EXPECT_EQ(by_name.out, "status:              5 RELEASE\n");

    eeprom_unit(1, 2, 5).install();
    ToolRun by_code = run_hwinfo({"set-status", "65535"});
    EXPECT_EQ(by_code.status, 0) << by_code.err;
    EXPECT_EQ(by_code.out, "status:              65535 UNKNOWN\n");
    EXPECT_EQ(eeprom_hex(52, 2), "ffff");
    EXPECT_EQ(run_hwinfo({"set-status", "UNKNOWN"}).out, "status:              0 UNKNOWN\n");
}

TEST_F(HwinfoTool, TooShortUuidFailsWithTheLibrarysMessageAndKeepsTheStore) {
    make_file_unit();
    ToolRun run = run_hwinfo({"set-uuid", kNewId.substr(1)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("uuid length is too short \n", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("korvanta-hwinfo: the robot identifier was not written\n"), std::string::npos);
    EXPECT_EQ(run.out, "robot identifier:    " + kRobotUuid + "\n");
    EXPECT_EQ(identity_file("robot_id"), kRobotUuid + "\n");
}

TEST_F(HwinfoTool, SerialOfTheWrongLengthFails) {
    eeprom_unit(1, 2, 5).install();
    ToolRun too_short = run_hwinfo({"set-serial", "1234"});
    EXPECT_EQ(too_short.status, 1);
    EXPECT_EQ(too_short.err.rfind("serial length is too short \n", 0), 0u) << too_short.err;
    ToolRun too_long = run_hwinfo({"set-serial", kNewId + "0"});
    EXPECT_EQ(too_long.status, 1);
    EXPECT_NE(too_long.err.find("uuid string len not match. str_len: 33 byte num:16\n"), std::string::npos)
        << too_long.err;
    EXPECT_EQ(eeprom_hex(20, 16), kSerial);
}

TEST_F(HwinfoTool, WritesToAReadOnlyStoreFail) {
    make_file_unit();
    make_read_only(kIdentityDir);
    ToolRun serial = run_hwinfo({"set-serial", kNewId});
    EXPECT_EQ(serial.status, 1);
    EXPECT_EQ(serial.out, "serial number:       " + kSerial + "\n");
    EXPECT_NE(serial.err.find("korvanta-hwinfo: the serial number was not written\n"), std::string::npos)
        << serial.err;
    EXPECT_EQ(run_hwinfo({"set-status", "PROD_0"}).status, 1);
    EXPECT_EQ(identity_file("robot_status_code"), "3\n");

    reset_unit();
    eeprom_unit(1, 2, 5).install();
    make_read_only("/sys/bus/i2c/devices/5-0050");
    EXPECT_EQ(run_hwinfo({"set-uuid", kNewId}).status, 1);
    EXPECT_EQ(eeprom_hex(36, 16), kRobotUuid);
}

TEST_F(HwinfoTool, WriteThatReadsBackDifferentlyFails) {
    // An identifier of one repeated digit counts as erased: the hardware identifier stands in for it.
    eeprom_unit(1, 2, 5).install();
    ToolRun run = run_hwinfo({"set-uuid", std::string(32, '0')});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "robot identifier:    " + kHwUuid + "\n");
    EXPECT_NE(run.err.find("korvanta-hwinfo: the robot identifier read back is not the one written\n"),
              std::string::npos)
        << run.err;
}

TEST_F(HwinfoTool, OutputThatCannotBeWrittenFails) {
    make_file_unit();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"--json"}, {"set-status", "RELEASE"}, {"--version"}}) {
        ToolRun run = run_hwinfo(args, "/dev/full");
        EXPECT_EQ(run.status, 1) << args.size();
        EXPECT_NE(run.err.find("korvanta-hwinfo: cannot write the output"), std::string::npos) << run.err;
    }
}

TEST_F(HwinfoTool, EepromThatCannotBeOpenedFailsSayingWhy) {
    put_directory_at(kEepromPath);
    ToolRun run = run_hwinfo({"--json"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(std::string("korvanta-hwinfo: cannot open the EEPROM ") + kEepromPath +
                           ": Is a directory (reading the identity needs read access to it)\n"),
              std::string::npos)
        << run.err;
}

TEST_F(HwinfoTool, UsageErrorsExitWithTwoAndWriteNothing) {
    const std::vector<std::vector<std::string>> usage_errors = {
        {"set-uuid"},          {"set-serial", kNewId, kNewId}, {"set-status", "RELEASED"}, {"set-status", "65536"},
        {"set-status", "-1"},  {"set-status", ""},             {"--frobnicate"},           {"show"},
        {"--json", "--help"},  {"--prometheus", ""},           {"--prometheus", "--json"}, {"--prometheus", "a", "b"},
        {"program"},           {"program", "--now", "u.json"}, {"program", "a.json", "b.json"},
        {"--unit-file", "u.json"},
    };
    for (const std::vector<std::string>& args : usage_errors) {
        ToolRun run = run_hwinfo(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(run.out, "") << args[0];
        EXPECT_NE(run.err.find("Try 'korvanta-hwinfo --help'.\n"), std::string::npos) << args[0];
    }
    EXPECT_FALSE(read_file(std::string(kIdentityDir) + "/robot_status_code"));
    EXPECT_FALSE(read_file(std::string(kIdentityDir) + "/robot_sn"));
}

TEST_F(HwinfoTool, HelpAndVersionSucceed) {
    ToolRun help = run_hwinfo({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: korvanta-hwinfo", 0), 0u);
    EXPECT_NE(help.out.find("PROD_2"), std::string::npos);
    ToolRun version = run_hwinfo({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "korvanta-hwinfo " KORVANTA_VERSION "\n");
}

TEST_F(HwinfoTool, ProgramWritesABlankEepromAndReadsItBack) {
    EepromImage::erased().install();
    ToolRun run = run_hwinfo({"program", unit_file(kRobotUnit.substr(0, kRobotUnit.size() - 1) +
                                                   R"(, "machine_id": "d4c3b2a1f0e9487d6c5b4a3928170605"})")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(eeprom_hex(0, 54), kHwUuid + "0100" + "0200" + kSerial + kRobotUuid + "0500");
    EXPECT_NE(run.out.find("board type:          (erased) -> 1 ROBOT_BOARD\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("read back:\nrobot identifier:    " + kRobotUuid), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("machine_id and cpu_serial_number are not written"), std::string::npos) << run.err;
}

TEST_F(HwinfoTool, ProgramDryRunShowsEachItemAndLeavesTheStoreByteIdentical) {
    for (bool eeprom : {true, false}) {
        reset_unit();
        eeprom ? eeprom_unit(1, 2, 5).install() : make_file_unit();
        std::string before = store_snapshot();
        std::string store = eeprom ? "eeprom" : "files";
        ToolRun run = run_hwinfo({"program", "--dry-run", unit_file(R"({"store": ")" + store + R"(", "uuid": ")" +
                                                                    kRobotUuid + R"(", "serial": ")" + kNewId + R"("})")});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(store_snapshot(), before) << store;
        EXPECT_NE(run.out.find("serial number:       " + kSerial + " -> " + kNewId + "\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("robot identifier:    " + kRobotUuid + " (unchanged)\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("read back"), std::string::npos) << run.out;
    }
}

TEST_F(HwinfoTool, ProgramRefusesBeforeTheFirstByteSayingWhy) {
    const std::string other = "ffeeddccbbaa99887766554433221101";
    const struct {
        bool eeprom;
        std::string unit;
        int status;
        std::string message;
    } cases[] = {
        {false, R"({"store": "eeprom", "robot_status": 5})", 1, R"(says "store": "eeprom", but this unit has no EEPROM)"},
        {true, R"({"store": "files", "robot_status": 5})", 1, R"(says "store": "files", but this unit has an EEPROM)"},
        {true, R"({"store": "none"})", 1, R"("store": "none")"},
        {true, R"({"store": "eeprom", "uuid": ")" + kRobotUuid + R"(", "hw_uuid": ")" + other + R"("})", 1,
         "the hardware identifier is already programmed (" + kHwUuid + "); --force changes it"},
        {true, R"({"store": "eeprom", "uuid": ")" + kRobotUuid + R"(", "board_type": 2})", 1, "board type is already"},
        {false, R"({"store": "files", "uuid": ")" + kRobotUuid + R"(", "robot_version": 3})", 1, "version is already"},
        {true, R"({"store": "eeprom", "robot_status": "PROD_0"})", 1, R"(give "uuid" (now )" + kRobotUuid},
        {true, R"({"store": "eeprom", "serial": "0123456789abcdef0123456789abcdeg"})", 2, "serial: "},
        {true, R"({"store": "eeprom", "robot_status": 65536})", 2, "robot_status: "},
        {true, R"({"store": "eeprom", "uuid": "77777777777777777777777777777777"})", 2, "one character repeated"},
        {false, R"({"store": "files", "serial": "--------------------------------"})", 2, "one character repeated"},
        {true, R"({"store": "eeprom", "eeprom_image": "/dev/null"})", 2, "eeprom_image: "},
        {true, R"({"store": "eeprom",})", 2, "not valid JSON"},
    };
    for (const auto& c : cases) {
        reset_unit();
        c.eeprom ? eeprom_unit(1, 2, 5).install() : make_file_unit();
        std::string before = store_snapshot();
        ToolRun run = run_hwinfo({"program", unit_file(c.unit)});
        EXPECT_EQ(run.status, c.status) << c.unit;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.unit << "\n" << run.err;
        EXPECT_EQ(store_snapshot(), before) << c.unit;
    }
    // What --force is for: the board's own items change too.
    reset_unit();
    make_file_unit();
    ToolRun forced = run_hwinfo({"program", "--force", unit_file(R"({"store": "files", "uuid": ")" + kRobotUuid +
                                                                 R"(", "robot_version": 3})")});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(identity_file("robot_version_code"), "3\n\n");
}

TEST_F(HwinfoTool, BoardSwapCarriesTheIdentityOverAndKeepsTheNewBoardsOwn) {
    eeprom_unit(1, 2, 5).install();
    ToolRun captured = run_hwinfo({"--unit-file"});
    ASSERT_EQ(captured.status, 0) << captured.err;
    EXPECT_EQ(parsed(captured.out)["board_type"], "ROBOT_BOARD");
    reset_unit();
    const std::string new_board = "c0ffee00112233445566778899aabbcc";
    EepromImage::erased().hw_uuid(new_board).board_type(2).version(10).install();
    ToolRun swapped = run_hwinfo({"program", "--identity-only", unit_file(captured.out)});
    EXPECT_EQ(swapped.status, 0) << swapped.err;
    EXPECT_EQ(eeprom_hex(0, 54), new_board + "0200" + "0a00" + kSerial + kRobotUuid + "0500");
}

TEST_F(HwinfoTool, ProgrammingCutShortShowsOnTheNextRun) {
    // Killed at its third write on a blank board, and at its second (just after
    // the robot identifier was cleared) on a programmed one.
    for (int kill_at : {3, 2}) {
        reset_unit();
        kill_at == 3 ? EepromImage::erased().install() : eeprom_unit(4, 2, 5).install();
        std::string unit = unit_file(kRobotUnit);
        ::setenv("KORVANTA_IO_COUNTER_KILL_AT_WRITE", std::to_string(kill_at).c_str(), 1);
        std::string preload = KORVANTA_PRELOAD;
        ::setenv(preload.substr(0, preload.find('=')).c_str(), preload.substr(preload.find('=') + 1).c_str(), 1);
        ToolRun killed = run_hwinfo({"program", "--force", unit});
        ::unsetenv(preload.substr(0, preload.find('=')).c_str());
        ::unsetenv("KORVANTA_IO_COUNTER_KILL_AT_WRITE");
        EXPECT_EQ(killed.status, -1) << kill_at << " was not killed:\n" << killed.out << killed.err;
        EXPECT_EQ(eeprom_hex(36, 16), std::string(32, 'f')) << kill_at;

        ToolRun next = run_hwinfo({"program", "--force", "--dry-run", unit});
        EXPECT_NE(next.err.find("note: the unit holds no robot identifier, but other items: an earlier "
                                "programming was cut short"),
                  std::string::npos)
            << kill_at << "\n" << next.err;
        ToolRun again = run_hwinfo({"program", "--force", unit});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(eeprom_hex(0, 54), kHwUuid + "0100" + "0200" + kSerial + kRobotUuid + "0500") << kill_at;
    }
    // On identity files, a write that fails half-way leaves the robot identifier emptied.
    reset_unit();
    make_file_unit();
    put_directory_at(std::string(kIdentityDir) + "/robot_sn");
    std::string unit = unit_file(R"({"store": "files", "uuid": ")" + kRobotUuid + R"(", "serial": ")" + kNewId + R"("})");
    EXPECT_EQ(run_hwinfo({"program", unit}).status, 1);
    EXPECT_EQ(identity_file("robot_id"), "\n");
    EXPECT_NE(run_hwinfo({"program", "--dry-run", unit}).err.find("note: the unit holds no robot identifier"),
              std::string::npos);
}
