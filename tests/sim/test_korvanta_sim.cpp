// korvanta-sim from the outside, as its users run it: every run makes its own
// sandbox, so this suite runs on the host and checks the host stays as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kSim = KORVANTA_SIM;
const std::string kHwinfo = KORVANTA_HWINFO;
const fs::path kUnits = KORVANTA_SIM_UNITS;

constexpr char kNewUuid[] = "fedcba9876543210fedcba9876543210";
constexpr char kNewSerial[] = "0123456789abcdef0123456789abcdef";

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path write_all(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

class KorvantaSim : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/korvanta-sim-test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs argv with some environment entries replaced or added; the status as a shell reports it.
    Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
        std::vector<std::string> environment = env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string name = std::string(*entry).substr(0, std::string(*entry).find('=') + 1);
            bool replaced = false;
            for (const std::string& extra : env) replaced = replaced || extra.compare(0, name.size(), name) == 0;
            if (!replaced) environment.emplace_back(*entry);
        }
        std::string out = (dir_ / "stdout").string(), err = (dir_ / "stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        Result result;
        if (posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, words(argv).data(), words(environment).data()) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = read_all(out);
        result.err = read_all(err);
        return result;
    }

    // What korvanta-hwinfo --json shows on the unit.
    Json identity_on(const fs::path& unit) {
        Result shown = run({kSim, unit.string(), "--", kHwinfo, "--json"});
        EXPECT_EQ(shown.status, 0) << shown.err;
        return Json::parse(shown.out, nullptr, false);
    }

    fs::path unit_file(const std::string& text) {
        fs::path path = dir_ / "unit.json";
        write_all(path, text);
        return path;
    }

    fs::path dir_;

private:
    static std::vector<char*> words(const std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (const std::string& text : texts) result.push_back(const_cast<char*>(text.c_str()));
        result.push_back(nullptr);
        return result;
    }
};

TEST_F(KorvantaSim, EachExampleUnitShowsExactlyItsIdentity) {
    const std::map<std::string, Json> expected = {
        {"robot-dvt2-release.json", R"({
            "uuid": "8d4e2f6a1b3c45d7e9f0a1b2c3d4e5f6", "hw_uuid": "3f2a9c1e7b4d40e8a1c5d6f708192a3b",
            "serial": "52564b3230323430313030303132ab01", "cpu_serial_number": "10000000a3b4c5d6",
            "board_type": 1, "board_type_name": "ROBOT_BOARD", "robot_version": 2, "robot_version_name": "KORVANTA_DVT2",
            "robot_status": 5, "robot_status_name": "RELEASE", "source": "/sys/bus/i2c/devices/5-0050/eeprom",
            "robot_uuid_source": "eeprom"})"_json},
        {"station-2024-930.json", R"({
            "uuid": "5a7b9c1d3e5f40618293a4b5c6d7e8f9", "hw_uuid": "c0ffee00112233445566778899aabbcc",
            "serial": "53544e32303234393330303030303042", "cpu_serial_number": "100000004e5f6071",
            "board_type": 3, "board_type_name": "STATION_BOARD", "robot_version": 1,
            "robot_version_name": "STATION_VERSION_2024_930", "robot_status": 5, "robot_status_name": "RELEASE",
            "source": "/sys/bus/i2c/devices/5-0050/eeprom", "robot_uuid_source": "eeprom"})"_json},
        {"ai-board-files.json", R"({
            "uuid": "2b4d6f8a0c1e43a5b7c9d1e3f5a7b9c1", "hw_uuid": "7e8f9a0b1c2d43e5f60718293a4b5c6d",
            "serial": "41493230323430373031303030303033", "cpu_serial_number": "1000000089abcdef",
            "board_type": 2, "board_type_name": "AI_BOARD", "robot_version": 2, "robot_version_name": "KORVANTA_DVT2",
            "robot_status": 3, "robot_status_name": "QA_TEST", "source": "identity files",
            "robot_uuid_source": "robot_id"})"_json},
        {"erased-eeprom.json", R"({
            "uuid": "ffffffffffffffffffffffffffffffff", "hw_uuid": "ffffffffffffffffffffffffffffffff",
            "serial": "ffffffffffffffffffffffffffffffff", "cpu_serial_number": "null",
            "board_type": 65535, "board_type_name": "UNKNOWN", "robot_version": 65535, "robot_version_name": "UNKNOWN",
            "robot_status": 65535, "robot_status_name": "UNKNOWN", "source": "/sys/bus/i2c/devices/5-0050/eeprom",
            "robot_uuid_source": "none"})"_json},
        {"nothing.json", R"({
            "uuid": "null", "hw_uuid": "null", "serial": "null", "cpu_serial_number": "null",
            "board_type": 0, "board_type_name": "UNKNOWN", "robot_version": 65535, "robot_version_name": "UNKNOWN",
            "robot_status": 0, "robot_status_name": "UNKNOWN", "source": "none", "robot_uuid_source": "none"})"_json},
    };
    size_t shipped = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kUnits)) shipped += entry.path().extension() == ".json";
    EXPECT_EQ(shipped, expected.size()) << "every shipped unit needs its expected identity here";
    for (const auto& [name, identity] : expected) EXPECT_EQ(identity_on(kUnits / name), identity) << name;
}

TEST_F(KorvantaSim, SavedUnitRunsAgainAsTheSameUnit) {
    for (const char* name : {"ai-board-files.json", "robot-dvt2-release.json"}) {
        bool eeprom = std::string(name).find("robot") == 0;
        fs::path saved = dir_ / (eeprom ? "saved.bin" : "saved.json");
        ASSERT_EQ(run({kSim, "--save", saved.string(), (kUnits / name).string(), "--", "true"}).status, 0) << name;
        fs::path again = eeprom ? unit_file(R"({"store": "eeprom", "eeprom_image": "saved.bin",
                                                "cpu_serial_number": "10000000a3b4c5d6"})")
                                : saved;
        EXPECT_EQ(identity_on(again), identity_on(kUnits / name)) << name;
    }
}

TEST_F(KorvantaSim, CapturedUnitFileRunsAsTheSameUnit) {
    std::vector<fs::path> units;
    for (const fs::directory_entry& entry : fs::directory_iterator(kUnits)) units.push_back(entry.path());
    // Stand-ins from either store, an identifier that is no usable one, codes
    // without a name or from the station table, a whole cpuinfo text.
    for (const char* odd : {
             R"({"store": "eeprom", "hw_uuid": "3f2a9c1e7b4d40e8a1c5d6f708192a3b", "board_type": 1})",
             R"({"store": "eeprom", "uuid": "00000000000000000000000000000000", "robot_status": 4242})",
             R"({"store": "eeprom", "board_type": 3, "robot_version": "STATION_VERSION_OLD"})",
             R"({"store": "files", "hw_uuid": "7e8f9a0b1c2d43e5f60718293a4b5c6d",
                 "machine_id": "d4c3b2a1f0e9487d6c5b4a3928170605"})",
             R"({"store": "files", "uuid": "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "robot_version": "UNKNOWN"})",
             R"({"store": "files", "cpuinfo": "processor\t: 0\nSerial\t\t: 00000000deadbeef\n"})",
         })
        units.push_back(write_all(dir_ / ("odd-" + std::to_string(units.size()) + ".json"), odd));
    for (const fs::path& unit : units) {
        Result captured = run({kSim, unit.string(), "--", kHwinfo, "--unit-file"});
        ASSERT_EQ(captured.status, 0) << unit << captured.err;
        fs::path again = write_all(dir_ / "captured.json", captured.out);
        EXPECT_EQ(identity_on(again), identity_on(unit)) << unit << "\n" << captured.out;
    }
    // Names where the code has one; the hardware identifier's stand-in left out.
    Result robot = run({kSim, (kUnits / "robot-dvt2-release.json").string(), "--", kHwinfo, "--unit-file"});
    EXPECT_EQ(Json::parse(robot.out)["robot_version"], "KORVANTA_DVT2");
    Result stand_in = run({kSim, units[units.size() - 6].string(), "--", kHwinfo, "--unit-file"});
    EXPECT_FALSE(Json::parse(stand_in.out).contains("uuid")) << stand_in.out;
}

TEST_F(KorvantaSim, SavedUnitHoldsWhatTheLibraryWouldRead) {
    fs::path unit = unit_file(R"({"store": "files", "cpuinfo": "processor\t: 0\nSerial\t\t: 00000000deadbeef\n"})");
    fs::path saved = dir_ / "saved.json";
    std::string writer = "printf 'short\\n' > /etc/korvanta/robot_sn; printf '42abc\\n' > /etc/korvanta/board_type_code;"
                         "printf '70000000000\\n' > /etc/korvanta/robot_version_code";
    Result wrote = run({kSim, "--save", saved.string(), unit.string(), "--", "sh", "-c", writer});
    ASSERT_EQ(wrote.status, 0) << wrote.err;
    EXPECT_EQ(Json::parse(read_all(saved)), R"({"store": "files", "board_type": 42, "robot_version": 15360,
        "cpuinfo": "processor\t: 0\nSerial\t\t: 00000000deadbeef\n"})"_json);
    EXPECT_NE(wrote.err.find("/etc/korvanta/robot_sn: first line of 5 characters"), std::string::npos) << wrote.err;
}

TEST_F(KorvantaSim, WritesThroughThePythonModuleAreInTheSavedUnit) {
#ifndef KORVANTA_PYTHON
    GTEST_SKIP() << "built without the Python module";
#else
    const std::vector<std::string> env = {std::string("PYTHONPATH=") + KORVANTA_PYTHON_MODULE_DIR,
                                          "PYTHONDONTWRITEBYTECODE=1"};
    std::string script = std::string("import korvanta_hardware_module as k\nh = k.hardInfo()\n") +
                         "assert k.write_uuid(h, '" + kNewUuid + "')\nassert k.write_serial(h, '" + kNewSerial +
                         "')\nassert k.write_robot_status(h, k.STATUS_PROD_0)\n";

    fs::path saved_json = dir_ / "saved.json";
    Result files = run({kSim, "--save", saved_json.string(), (kUnits / "ai-board-files.json").string(), "--",
                     KORVANTA_PYTHON, "-c", script},
                    env);
    ASSERT_EQ(files.status, 0) << files.err;
    Json saved = Json::parse(read_all(saved_json));
    EXPECT_EQ(saved["uuid"], kNewUuid);
    EXPECT_EQ(saved["serial"], kNewSerial);
    EXPECT_EQ(saved["robot_status"], 6);
    EXPECT_EQ(saved["hw_uuid"], "7e8f9a0b1c2d43e5f60718293a4b5c6d") << "left as it was";

    fs::path saved_image = dir_ / "saved.bin";
    Result eeprom = run({kSim, "--save", saved_image.string(), (kUnits / "robot-dvt2-release.json").string(), "--",
                      KORVANTA_PYTHON, "-c", script},
                     env);
    ASSERT_EQ(eeprom.status, 0) << eeprom.err;
    std::string image = read_all(saved_image);
    ASSERT_EQ(image.size(), 256u);
    EXPECT_EQ(image.substr(20, 16), std::string("\x01\x23\x45\x67\x89\xab\xcd\xef\x01\x23\x45\x67\x89\xab\xcd\xef", 16));
    EXPECT_EQ(image.substr(36, 16), std::string("\xfe\xdc\xba\x98\x76\x54\x32\x10\xfe\xdc\xba\x98\x76\x54\x32\x10", 16));
    EXPECT_EQ(image.substr(52, 2), std::string("\x06\x00", 2));
    EXPECT_EQ(image.substr(16, 4), std::string("\x01\x00\x02\x00", 4)) << "board type and version as they were";
#endif
}

TEST_F(KorvantaSim, BadUnitFileFailsNamingTheKeyBeforeTheCommandRuns) {
    write_all(dir_ / "image.bin", std::string(256, '\xff'));
    ASSERT_EQ(::mkfifo((dir_ / "fifo.bin").c_str(), 0600), 0);
    fs::resize_file(write_all(dir_ / "huge.bin", ""), 2ull << 30);  // sparse
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"store": "files",})", "not valid JSON: "},
        {R"(["store", "files"])", "must hold one JSON object"},
        {R"({"hw_uuid": "00112233445566778899aabbccddeeff"})", "store: missing"},
        {R"({"store": "flash"})", "store: \"flash\""},
        {R"({"store": "files", "serial_number": "x"})", "serial_number: unknown key"},
        {R"({"store": "eeprom", "uuid": "0123456789abcdef0123456789abcde"})", "uuid: "},
        {R"({"store": "eeprom", "serial": "0123456789abcdef0123456789abcdeg"})", "serial: "},
        {R"({"store": "files", "hw_uuid": "0123456789abcdef\n123456789abcdef"})", "hw_uuid: "},
        {R"({"store": "none", "uuid": "0123456789abcdef0123456789abcdef"})", "uuid: "},
        {R"({"store": "files", "board_type": 65536})", "board_type: "},
        {R"({"store": "files", "board_type": 4294967297})", "board_type: "},  // 1 if cut to 32 bits
        {R"({"store": "files", "robot_status": -1})", "robot_status: "},
        {R"({"store": "files", "robot_status": "RELEASED"})", "robot_status: "},
        {R"({"store": "files", "robot_version": "DVT9"})",
         "robot_version: no name \"DVT9\" (names: UNKNOWN KORVANTA_DVT1 KORVANTA_DVT2 KORVANTA_PRO_EVT TALVORN_EVT "
         "TALVORN_DVT TALVORN_PVT)"},
        {R"({"store": "eeprom", "board_type": "STATION_BOARD", "robot_version": "KORVANTA_DVT2"})", "robot_version: "},
        {R"({"store": "eeprom", "eeprom_image": "image.bin", "board_type": 1})", "eeprom_image: "},
        {R"({"store": "files", "eeprom_image": "image.bin"})", "eeprom_image: "},
        {R"({"store": "eeprom", "eeprom_image": "missing.bin"})", "eeprom_image: cannot read"},
        {R"({"store": "eeprom", "eeprom_image": "/dev/zero"})", "eeprom_image: cannot read /dev/zero: not a regular"},
        {R"({"store": "eeprom", "eeprom_image": "fifo.bin"})", "fifo.bin: not a regular file"},
        {R"({"store": "eeprom", "eeprom_image": "huge.bin"})", "huge.bin: it holds 2147483648 bytes, more than"},
        {R"({"store": "none", "cpu_serial_number": "12 34"})", "cpu_serial_number: "},
        {R"({"store": "none", "cpu_serial_number": "1234", "cpuinfo": "x"})", "cpu_serial_number: "},
        {R"({"store": "none", "machine_id": "short"})", "machine_id: "},
    };
    fs::path marker = dir_ / "ran";
    for (const auto& [text, message] : cases) {
        Result refused = run({kSim, unit_file(text).string(), "--", "touch", marker.string()});
        EXPECT_EQ(refused.status, 2) << text;
        EXPECT_NE(refused.err.find(message), std::string::npos) << text << "\n" << refused.err;
        EXPECT_FALSE(fs::exists(marker)) << text;
    }
}

TEST_F(KorvantaSim, NamesResolveAsTheLibraryNamesThem) {
    Json identity = identity_on(unit_file(R"({"store": "files", "board_type": "SIMULATION_BOARD",
        "robot_version": "TALVORN_PVT", "robot_status": "UNKNOWN"})"));
    EXPECT_EQ(identity["board_type"], 4);
    EXPECT_EQ(identity["robot_version"], 22);
    EXPECT_EQ(identity["robot_status"], 0);
    identity = identity_on(unit_file(R"({"store": "eeprom", "board_type": 3, "robot_version": "STATION_VERSION_OLD"})"));
    EXPECT_EQ(identity["robot_version"], 0);
    EXPECT_EQ(identity["robot_version_name"], "STATION_VERSION_OLD");
    // UNKNOWN is 0 in the status and board tables, 65535 in the version tables.
    EXPECT_EQ(identity_on(unit_file(R"({"store": "files", "robot_version": "UNKNOWN"})"))["robot_version"], 65535);
}

TEST_F(KorvantaSim, ExitsWithTheCommandsStatus) {
    fs::path unit = kUnits / "nothing.json";
    EXPECT_EQ(run({kSim, unit.string(), "--", "sh", "-c", "exit 7"}).status, 7);
    EXPECT_EQ(run({kSim, unit.string(), "--", "sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
    Result missing = run({kSim, unit.string(), "--", "/nonexistent/command"});
    EXPECT_EQ(missing.status, 127);
    EXPECT_NE(missing.err.find("/nonexistent/command"), std::string::npos) << missing.err;
}

TEST_F(KorvantaSim, UnitFileMayBeAPipe) {
    fs::path unit = unit_file(R"({"store": "files", "robot_status": "PROD_1"})");
    Result piped = run({"bash", "-c", "exec \"$0\" <(cat \"$1\") -- \"$2\" --json", kSim, unit.string(), kHwinfo});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(Json::parse(piped.out)["robot_status"], 7);
}

// The command's pid once it runs: it writes it to pid_file first.
pid_t started_command(const fs::path& pid_file) {
    for (int tries = 0; tries < 1000; ++tries) {
        std::string text = read_all(pid_file);
        if (!text.empty() && text.back() == '\n') return std::stoi(text);
        ::usleep(10000);
    }
    return -1;
}

bool gone_within_seconds(pid_t pid, int seconds) {
    for (int tries = 0; tries < seconds * 100 && ::kill(pid, 0) == 0; ++tries) ::usleep(10000);
    return ::kill(pid, 0) != 0;
}

TEST_F(KorvantaSim, SignalsReachTheCommandWhichNeverOutlivesTheTool) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        fs::path pid_file = dir_ / ("command-" + std::to_string(signal));
        std::vector<std::string> argv = {kSim, (kUnits / "nothing.json").string(), "--", "sh", "-c",
                                         "echo $$ > " + pid_file.string() + "; exec sleep 60"};
        std::vector<char*> words;
        for (std::string& word : argv) words.push_back(word.data());
        words.push_back(nullptr);
        pid_t sim = -1;
        ASSERT_EQ(posix_spawn(&sim, kSim.c_str(), nullptr, nullptr, words.data(), environ), 0);
        pid_t command = started_command(pid_file);
        ASSERT_GT(command, 0) << signal;
        ::kill(sim, signal);
        int status = 0;
        ::waitpid(sim, &status, 0);
        if (signal != SIGKILL) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << signal << " " << status;
            EXPECT_NE(::kill(command, 0), 0) << signal << ": the command is still running after the tool ended";
        }
        EXPECT_TRUE(gone_within_seconds(command, 10)) << signal;
        ::kill(command, SIGKILL);
    }
}

TEST_F(KorvantaSim, RefusesToSaveWhereTheSimulationReplacesTheFiles) {
    fs::path marker = dir_ / "ran";
    for (const char* target : {"/etc/unit.json", "/proc/unit.json", "/sys/bus/unit.json"}) {
        Result refused = run({kSim, "--save", target, (kUnits / "nothing.json").string(), "--", "touch", marker.string()});
        EXPECT_EQ(refused.status, 2) << target;
        EXPECT_FALSE(fs::exists(marker)) << target;
    }
}

TEST_F(KorvantaSim, SaysWhyWhenNoNamespaceCanBeMade) {
    // An unshare that always fails stands in for a kernel without namespaces;
    // its own message is passed on, and root is not told to run as root.
    const std::string why = "unshare: cannot change root filesystem propagation: Invalid argument";
    fs::path bin = dir_ / "bin";
    fs::create_directories(bin);
    write_all(bin / "unshare", "#!/bin/sh\necho '" + why + "' >&2\nexit 1\n");
    fs::permissions(bin / "unshare", fs::perms::owner_all);
    fs::path marker = dir_ / "ran";
    Result refused = run({kSim, (kUnits / "nothing.json").string(), "--", "touch", marker.string()},
                      {"PATH=" + bin.string() + ":/usr/bin:/bin"});
    EXPECT_EQ(refused.status, 125);
    EXPECT_NE(refused.err.find("cannot create a private mount namespace: " + why), std::string::npos) << refused.err;
    if (::geteuid() == 0) {
        EXPECT_EQ(refused.err.find("run as root"), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(fs::exists(marker));
}

// Names, kinds and contents (of regular files) under each path, without following links.
std::string host_snapshot() {
    std::ostringstream snapshot;
    auto note = [&snapshot](const fs::path& path) {
        fs::file_status status = fs::symlink_status(path);
        snapshot << path.string() << " " << static_cast<int>(status.type());
        if (status.type() == fs::file_type::regular && path.string().rfind("/sys/", 0) != 0)
            snapshot << " " << std::hash<std::string>{}(read_all(path));
        if (status.type() == fs::file_type::symlink) snapshot << " -> " << fs::read_symlink(path).string();
        snapshot << "\n";
    };
    for (const char* top : {"/etc/korvanta", "/etc/machine-id", "/sys/bus/i2c"}) {
        note(top);
        std::error_code ec;
        if (!fs::is_directory(fs::symlink_status(top))) continue;
        for (auto it = fs::recursive_directory_iterator(top, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            note(it->path());
        if (ec) ADD_FAILURE() << "cannot list " << top << ": " << ec.message();
    }
    return snapshot.str();
}

TEST_F(KorvantaSim, HostIdentityIsUntouchedByWhatTheCommandWrites) {
    std::string before = host_snapshot();
    const std::string written_id = "00000000000000000000000000000001";
    std::string writer = kHwinfo + " set-uuid " + kNewUuid + "; " + kHwinfo + " set-status 8; echo " + written_id +
                         " > /etc/machine-id; mkdir -p /etc/korvanta /sys/bus/i2c/devices/5-0050;" +
                         " touch /etc/korvanta/extra /sys/bus/i2c/devices/5-0050/eeprom; cat /etc/machine-id";
    for (const char* name : {"robot-dvt2-release.json", "ai-board-files.json", "nothing.json"}) {
        Result wrote = run({kSim, (kUnits / name).string(), "--", "sh", "-c", writer});
        EXPECT_EQ(wrote.out.substr(wrote.out.size() - 33), written_id + "\n") << name << " did not write\n" << wrote.err;
    }
    EXPECT_EQ(host_snapshot(), before);
}

// A copy that every user may read and run, in directory (made so too).
fs::path open_copy(const fs::path& file, const fs::path& directory) {
    const fs::perms open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    fs::create_directories(directory);
    fs::permissions(directory, open);
    fs::path copy = directory / file.filename();
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, open);
    return copy;
}

TEST_F(KorvantaSim, RunsWithoutRootThroughAUserNamespace) {
    if (::geteuid() != 0) GTEST_SKIP() << "already unprivileged: every other test covers it";
    fs::permissions(dir_, fs::perms::all);
    // uid 65534 may not reach the build tree (a clone under /root): it runs copies
    // of the programs, through the emulator (words) when the build needs one.
    fs::path sim = open_copy(KORVANTA_SIM_FILE, dir_ / "bin");
    open_copy(fs::path(KORVANTA_SIM_FILE).parent_path() / "korvanta-sandbox", dir_ / "bin");
    fs::path hwinfo = open_copy(KORVANTA_HWINFO_FILE, dir_ / "bin");
    open_copy(KORVANTA_LIBRARY, dir_ / "lib");
    fs::path unit = open_copy(kUnits / "ai-board-files.json", dir_ / "units");
    fs::path saved = dir_ / "saved.json";
    std::vector<std::string> argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    std::istringstream emulator(::getenv("KORVANTA_EMULATOR") ? ::getenv("KORVANTA_EMULATOR") : "");
    std::vector<std::string> on_target(std::istream_iterator<std::string>(emulator), {});
    argv.insert(argv.end(), on_target.begin(), on_target.end());
    argv.insert(argv.end(), {sim.string(), "--save", saved.string(), unit.string(), "--"});
    argv.insert(argv.end(), on_target.begin(), on_target.end());
    argv.insert(argv.end(), {hwinfo.string(), "set-uuid", kNewUuid});
    Result unprivileged = run(argv, {"LD_LIBRARY_PATH=" + (dir_ / "lib").string()});
    if (unprivileged.err.find("cannot create a private mount namespace") != std::string::npos)
        GTEST_SKIP() << "this kernel allows no user namespaces";
    ASSERT_EQ(unprivileged.status, 0) << unprivileged.err;
    EXPECT_EQ(Json::parse(read_all(saved))["uuid"], kNewUuid);
}

}  // namespace
