#include "command_line.h"

#include "identity_limits.h"

namespace korvanta_sim {
namespace {

using korvanta_hardware::starts_with;

constexpr char kSaveOption[] = "--save";
constexpr char kSaveOptionEquals[] = "--save=";

bool take_save(const std::string& file, Invocation& invocation, std::string& error) {
    if (file.empty()) error = "--save needs a file";
    invocation.save = file;
    return !file.empty();
}

// Options before UNIT; returns the index of the first word that is not one, or -1.
int parse_options(int argc, const char* const argv[], Invocation& invocation, std::string& error) {
    int i = 1;
    if (i < argc && argv[i] == std::string(kInSandboxOption)) {
        invocation.in_sandbox = true;
        if (++i < argc) invocation.lifeline = argv[i++];
    }
    for (; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            invocation.help = true;
        } else if (word == "--version") {
            invocation.version = true;
        } else if (word == kSaveOption) {
            if (!take_save(++i < argc ? argv[i] : "", invocation, error)) return -1;
        } else if (starts_with(word, kSaveOptionEquals)) {
            if (!take_save(word.substr(sizeof kSaveOptionEquals - 1), invocation, error)) return -1;
        } else if (word == "--" || (starts_with(word, "-") && word != "-")) {
            error = "unknown option '" + word + "'";
            return -1;
        } else {
            return i;
        }
    }
    return i;
}

}  // namespace

bool parse_command_line(int argc, const char* const argv[], Invocation& invocation, std::string& error) {
    invocation = Invocation{};
    int i = parse_options(argc, argv, invocation, error);
    if (i < 0) return false;
    if (invocation.help || invocation.version) return true;
    if (i == argc) {
        error = "no unit file given";
        return false;
    }
    if (argc - i < 2 || argv[i + 1] != std::string("--")) {
        error = "expected '--' and a command after the unit file";
        return false;
    }
    if (argc - i < 3) {
        error = "no command given after '--'";
        return false;
    }
    invocation.unit = argv[i];
    invocation.command.assign(argv + i + 2, argv + argc);
    return true;
}

std::string help_text() {
    return "Usage: korvanta-sim [--save FILE] UNIT -- COMMAND [ARGS...]\n"
           "  or:  korvanta-sim --help | --version\n"
           "\n"
           "Runs COMMAND on a simulated robot unit: in a private mount namespace where the\n"
           "unit that the JSON file UNIT describes is in place at the paths the library\n"
           "reads (/etc/korvanta/, /etc/machine-id, /sys/bus/i2c/devices/5-0050/eeprom,\n"
           "/proc/cpuinfo). What COMMAND writes there stays in the simulation; this\n"
           "machine's own identity is never touched. Needs root or user namespaces.\n"
           "SIGTERM, SIGINT and SIGHUP sent to korvanta-sim go on to COMMAND, and COMMAND\n"
           "never outlives korvanta-sim.\n"
           "\n"
           "  --save FILE   afterwards write the unit as COMMAND left it to FILE: the raw\n"
           "                EEPROM image for an EEPROM unit, else a unit file\n"
           "\n"
           "UNIT keys (left out: absent on the unit):\n"
           "  store              \"eeprom\", \"files\" or \"none\" (required)\n"
           "  uuid               32 hexadecimal digits (eeprom), 32 characters (files)\n"
           "  hw_uuid, serial    likewise\n"
           "  board_type         a code 0..65535 or a name: ROBOT_BOARD, AI_BOARD, ...\n"
           "  robot_version      a code or a name: KORVANTA_DVT2, or on a STATION_BOARD\n"
           "                     STATION_VERSION_2024_930, ...\n"
           "  robot_status       a code or a name: RELEASE, QA_TEST, ...\n"
           "  eeprom_image       raw image file, relative to UNIT, instead of those six\n"
           "  machine_id         32 characters\n"
           "  cpu_serial_number  the CPU serial number\n"
           "  cpuinfo            the whole /proc/cpuinfo text, instead of cpu_serial_number\n"
           "  description        free text\n"
           "\n"
           "Exit status: COMMAND's (128+N when killed by signal N); 2 bad command line or\n"
           "unit file (COMMAND did not run); 125 the simulation failed; 126 COMMAND cannot\n"
           "be executed; 127 COMMAND not found. When --save fails, 125 wins over\n"
           "COMMAND's status, which the message gives.\n";
}

std::string version_text() { return std::string("korvanta-sim ") + KORVANTA_SIM_VERSION + "\n"; }

}  // namespace korvanta_sim
