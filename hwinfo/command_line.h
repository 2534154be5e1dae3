// What the user asked for on the command line.
#ifndef KORVANTA_HWINFO_COMMAND_LINE_H
#define KORVANTA_HWINFO_COMMAND_LINE_H

#include <string>

namespace hwinfo {

enum class Action { kShow, kShowJson, kShowPrometheus, kSetUuid, kSetSerial, kSetStatus, kHelp, kVersion };

struct Command {
    Action action = Action::kShow;
    std::string value;          // the identifier or serial number to write, or the metrics file
    unsigned short status = 0;  // the status code to write
};

// Fills command, or returns false with a one-line reason in error.
bool parse_command_line(int argc, const char* const argv[], Command& command, std::string& error);

}  // namespace hwinfo

#endif
