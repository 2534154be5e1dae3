// korvanta-hwinfo: shows or writes the identity of this robot unit.
#include <cstdio>
#include <exception>
#include <string>

#include "command_line.h"
#include "exit_status.h"
#include "identity.h"
#include "json_report.h"
#include "prometheus_report.h"
#include "report_file.h"
#include "text_report.h"
#include "usage.h"
#include "write_command.h"

namespace {

int print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return hwinfo::kExitOk;
}

int run(const hwinfo::Command& command) {
    switch (command.action) {
        case hwinfo::Action::kHelp:
            return print(hwinfo::help_text());
        case hwinfo::Action::kVersion:
            return print(hwinfo::version_text());
        case hwinfo::Action::kShow:
            return print(hwinfo::format_text(hwinfo::read_identity(hwinfo::open_handle().get())));
        case hwinfo::Action::kShowJson:
            return print(hwinfo::format_json(hwinfo::read_identity(hwinfo::open_handle().get())));
        case hwinfo::Action::kShowPrometheus: {
            std::string metrics = hwinfo::format_prometheus(hwinfo::read_identity(hwinfo::open_handle().get()));
            return command.value.empty() ? print(metrics) : hwinfo::write_report_file(command.value, metrics);
        }
        default:
            return hwinfo::run_write(command);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    hwinfo::Command command;
    std::string error;
    if (!hwinfo::parse_command_line(argc, argv, command, error)) {
        std::fprintf(stderr, "korvanta-hwinfo: %s\nTry 'korvanta-hwinfo --help'.\n", error.c_str());
        return hwinfo::kExitUsage;
    }
    // Only the standard library throws here (exhausted memory, a failing stream
    // inside the library's constructor); say so instead of aborting.
    try {
        return run(command);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvanta-hwinfo: %s\n", e.what());
        return hwinfo::kExitFailed;
    }
}
