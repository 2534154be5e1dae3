// korvanta-hwinfo: shows or writes the identity of this robot unit.
#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool reads_identity(hwinfo::Action action) {
    return action != hwinfo::Action::kHelp && action != hwinfo::Action::kVersion;
}

int run(const hwinfo::Command& command) {
    if (reads_identity(command.action) && !hwinfo::eeprom_readable()) return hwinfo::kExitFailed;
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

// Whatever the action, output that did not reach its file (a full disk, a
// closed pipe) is a failure: a lost report must not look like success.
int finish_output(int status) {
    bool failed_before = std::ferror(stdout) != 0;
    int reason = std::fclose(stdout) == 0 ? 0 : errno;
    if (reason == 0 && !failed_before) return status;
    // The reason is known only when closing failed; an earlier write's errno is gone.
    std::fprintf(stderr, "korvanta-hwinfo: cannot write the output%s%s\n", reason != 0 ? ": " : "",
                 reason != 0 ? std::strerror(reason) : "");
    return hwinfo::kExitFailed;
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
    int status = hwinfo::kExitFailed;
    try {
        status = run(command);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvanta-hwinfo: %s\n", e.what());
    }
    return finish_output(status);
}
