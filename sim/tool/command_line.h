// What the user asked korvanta-sim for.
#ifndef KORVANTA_SIM_COMMAND_LINE_H
#define KORVANTA_SIM_COMMAND_LINE_H

#include <string>
#include <vector>

namespace korvanta_sim {

// Exit statuses of our own; otherwise korvanta-sim exits with the command's.
inline constexpr int kExitUsage = 2;        // a bad command line or unit file; nothing ran
inline constexpr int kExitSimFailed = 125;  // the unit could not be set up or saved
inline constexpr int kExitCannotRun = 126;  // the command exists but cannot be executed
inline constexpr int kExitNotFound = 127;   // no such command

// Given first, this says korvanta-sim runs again as the sandbox's command:
// "--in-sandbox LIFELINE [--save FILE] UNIT -- COMMAND...", where LIFELINE and
// UNIT are descriptors that the first run passes on (sandbox.h).
inline constexpr char kInSandboxOption[] = "--in-sandbox";

struct Invocation {
    bool help = false;
    bool version = false;
    bool in_sandbox = false;
    std::string lifeline;  // in the sandbox: the lifeline's descriptor
    std::string save;  // --save FILE, empty when not asked (an empty FILE is refused)
    std::string unit;
    std::vector<std::string> command;
};

// Reads [--save FILE] UNIT -- COMMAND [ARGS...], --help or --version.
// Returns false with a one-line reason in error.
bool parse_command_line(int argc, const char* const argv[], Invocation& invocation, std::string& error);

std::string help_text();
std::string version_text();

}  // namespace korvanta_sim

#endif
