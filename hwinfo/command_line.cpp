#include "command_line.h"

#include <optional>

#include "status_argument.h"

namespace hwinfo {
namespace {

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

}  // namespace

bool parse_command_line(int argc, const char* const argv[], Command& command, std::string& error) {
    command = Command{};
    if (argc < 2) return true;
    std::string word = argv[1];
    if (const Subcommand* subcommand = find_subcommand(word)) {
        return parse_write(*subcommand, argc, argv, command, error);
    }
    std::optional<Action> action = option_action(word);
    if (!action) {
        error = (word.rfind('-', 0) == 0 ? "unknown option '" : "unknown command '") + word + "'";
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

}  // namespace hwinfo
