// korvanta-hwinfo: shows or writes the identity of this robot unit.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include "code_names.h"
#include "hwinfo.h"
#include "identity_limits.h"

namespace hwinfo {
namespace {

// --- The command line

struct Subcommand {
    const char* name;
    Action action;
    const char* operand;
};

constexpr Subcommand kSubcommands[] = {
    {"set-uuid", Action::kSetUuid, "ID"},
    {"set-serial", Action::kSetSerial, "SN"},
    {"set-status", Action::kSetStatus, "CODE|NAME"},
};

std::optional<Action> option_action(const std::string& word) {
    if (word == "--json") return Action::kShowJson;
    if (word == "--prometheus") return Action::kShowPrometheus;
    if (word == "--unit-file") return Action::kShowUnitFile;
    if (word == "--help" || word == "-h") return Action::kHelp;
    if (word == "--version") return Action::kVersion;
    return std::nullopt;
}

const Subcommand* find_subcommand(const std::string& word) {
    for (const Subcommand& subcommand : kSubcommands) {
        if (word == subcommand.name) return &subcommand;
    }
    return nullptr;
}

bool parse_write(const Subcommand& subcommand, int argc, const char* const argv[], Command& command,
                 std::string& error) {
    if (argc != 3) {
        error = std::string(subcommand.name) + " takes exactly one argument: " + subcommand.operand;
        return false;
    }
    command.action = subcommand.action;
    command.value = argv[2];
    if (subcommand.action != Action::kSetStatus) return true;
    std::optional<unsigned short> status = parse_status(command.value);
    if (!status) {
        error = "not a status code (0..65535) or name: '" + command.value + "'";
        return false;
    }
    command.status = *status;
    return true;
}

// program [--dry-run] [--force] [--identity-only] UNIT.json, options in any order.
bool parse_program(int argc, const char* const argv[], Command& command, std::string& error) {
    command.action = Action::kProgram;
    bool have_unit = false;
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--dry-run") {
            command.dry_run = true;
        } else if (word == "--force") {
            command.force = true;
        } else if (word == "--identity-only") {
            command.identity_only = true;
        } else if (korvanta_hardware::starts_with(word, "-") && word != "-") {
            error = "program: unknown option '" + word + "'";
            return false;
        } else if (have_unit) {
            error = "program takes one unit file, not also '" + word + "'";
            return false;
        } else {
            command.value = word;
            have_unit = true;
        }
    }
    if (!have_unit) error = "program takes a unit file: program [--dry-run] [--force] [--identity-only] UNIT.json";
    return have_unit;
}

// Fills command, or returns false with a one-line reason in error.
bool parse_command_line(int argc, const char* const argv[], Command& command, std::string& error) {
    command = Command{};
    if (argc < 2) return true;
    std::string word = argv[1];
    if (word == "program") return parse_program(argc, argv, command, error);
    if (const Subcommand* subcommand = find_subcommand(word)) {
        return parse_write(*subcommand, argc, argv, command, error);
    }
    std::optional<Action> action = option_action(word);
    if (!action) {
        error = (korvanta_hardware::starts_with(word, "-") ? "unknown option '" : "unknown command '") + word + "'";
        return false;
    }
    command.action = *action;
    // --prometheus FILE: the one option with an operand, and it is optional.
    if (*action == Action::kShowPrometheus && argc == 3) {
        command.value = argv[2];
        if (!command.value.empty() && command.value[0] != '-') return true;
        error = "--prometheus takes a file name, not '" + command.value + "'";
        return false;
    }
    if (argc > 2) {
        error = "unexpected argument '" + std::string(argv[2]) + "'";
        return false;
    }
    return true;
}

// --- --help and --version

constexpr size_t kIndent = 25;
constexpr size_t kWidth = 80;

// The status names that set-status accepts, wrapped under the option's description.
std::string status_name_lines() {
    std::string text;
    size_t column = kWidth;
    for (const std::string& name : korvanta_hardware::names_of(korvanta_hardware::CodeTable::kRobotStatus)) {
        if (column + 1 + name.size() >= kWidth) {
            text += "\n" + std::string(kIndent, ' ') + name;
            column = kIndent + name.size();
        } else {
            text += " " + name;
            column += 1 + name.size();
        }
    }
    return text + "\n";
}

std::string help_text() {
    return "Usage: korvanta-hwinfo [--json | --prometheus [FILE] | --unit-file]\n"
           "  or:  korvanta-hwinfo set-uuid ID\n"
           "  or:  korvanta-hwinfo set-serial SN\n"
           "  or:  korvanta-hwinfo set-status CODE|NAME\n"
           "  or:  korvanta-hwinfo program [--dry-run] [--force] [--identity-only] UNIT.json\n"
           "  or:  korvanta-hwinfo --help | --version\n"
           "\n"
           "Shows who this robot unit is, as libkorvanta-hardware reads it from the\n"
           "identity EEPROM or the identity files under /etc/korvanta/, or writes it.\n"
           "\n"
           "  --json                 print the identity as one JSON object\n"
           "  --prometheus [FILE]    print it in Prometheus' text format, or replace FILE\n"
           "                         (a .prom file for node_exporter's textfile collector)\n"
           "  --unit-file            print this unit as a korvanta-sim unit file, the\n"
           "                         input of program; a robot identifier the library\n"
           "                         took from a stand-in is left out\n"
           "  set-uuid ID            write the robot identifier (32 characters;\n"
           "                         hexadecimal digits on an EEPROM unit)\n"
           "  set-serial SN          write the robot serial number (likewise)\n"
           "  set-status CODE|NAME   write the robot status: a code from 0 to 65535 or one of" +
           status_name_lines() +
           "  program UNIT.json      write every item of a unit file (uuid, hw_uuid, serial,\n"
           "                         board_type, robot_version, robot_status) into this\n"
           "                         unit's store, which must be the file's \"store\"\n"
           "    --dry-run            show each item now and what would be written; write\n"
           "                         nothing\n"
           "    --force              change a hardware identifier, board type or version\n"
           "                         that is already programmed\n"
           "    --identity-only      write only uuid, serial and robot_status: a board swap\n"
           "                         from the --unit-file output of the old board\n"
           "\n"
           "program clears the robot identifier first and writes it last: a programming\n"
           "cut short leaves it erased, and the next run says so. machine_id and\n"
           "cpu_serial_number are never written.\n"
           "\n"
           "A write is checked by reading the unit again; the value now stored is printed.\n"
           "Exit status: 0 success; 1 the write failed or reads back differently, the\n"
           "EEPROM cannot be opened for reading, or the output cannot be written;\n"
           "program: 1 also when it refused to write (nothing is written then); 2 usage\n"
           "error, a unit file program cannot use included.\n";
}

std::string version_text() { return std::string("korvanta-hwinfo ") + KORVANTA_HWINFO_VERSION + "\n"; }

// --- Running the command

int print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return kExitOk;
}

bool reads_identity(Action action) { return action != Action::kHelp && action != Action::kVersion; }

int run(const Command& command) {
    if (reads_identity(command.action) && !eeprom_readable()) return kExitFailed;
    switch (command.action) {
        case Action::kHelp:
            return print(help_text());
        case Action::kVersion:
            return print(version_text());
        case Action::kShow:
            return print(format_text(read_identity()));
        case Action::kShowJson:
            return print(format_json(read_identity()));
        case Action::kShowUnitFile:
            return print(format_unit_file(read_identity()));
        case Action::kProgram:
            return run_program(command);
        case Action::kShowPrometheus: {
            std::string metrics = format_prometheus(read_identity());
            return command.value.empty() ? print(metrics) : write_report_file(command.value, metrics);
        }
        default:
            return run_write(command);
    }
}

// Whatever the action, output that did not reach its file (a full disk, a
// closed pipe) is a failure: a lost report must not look like success.
int finish_output(int status) {
    bool failed_before = std::ferror(stdout) != 0;
    // Flushed before it is closed: a stdout closed from the start (a daemon's
    // writing its report to a file) fails only when there was output for it.
    int reason = std::fflush(stdout) == 0 ? 0 : errno;
    if (reason == 0 && std::fclose(stdout) != 0 && errno != EBADF) reason = errno;
    if (reason == 0 && !failed_before) return status;
    // The reason is known only when the last write failed; an earlier write's errno is gone.
    std::fprintf(stderr, "korvanta-hwinfo: cannot write the output%s%s\n", reason != 0 ? ": " : "",
                 reason != 0 ? std::strerror(reason) : "");
    return kExitFailed;
}

}  // namespace
}  // namespace hwinfo

int main(int argc, char* argv[]) {
    hwinfo::Command command;
    std::string error;
    if (!hwinfo::parse_command_line(argc, argv, command, error)) {
        std::fprintf(stderr, "korvanta-hwinfo: %s\nTry 'korvanta-hwinfo --help'.\n", error.c_str());
        return hwinfo::kExitUsage;
    }
    // Only the standard library throws here (exhausted memory, a failing stream
    // inside the library's constructor); say so instead of aborting.
    int status = hwinfo::kExitFailed;
    try {
        status = hwinfo::run(command);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvanta-hwinfo: %s\n", e.what());
    }
    return hwinfo::finish_output(status);
}
