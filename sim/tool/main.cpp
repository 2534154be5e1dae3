// korvanta-sim: runs a command on a simulated robot unit.
//
// It runs twice. Outside, it checks the command line and the unit file, so that
// mistakes show before anything starts, then runs itself as the sandbox's
// command and stays, passing signals on, until that has ended. Inside, it puts
// the unit in place, runs the user's command, and saves the unit when asked.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "command_line.h"
#include "put_in_place.h"
#include "run.h"
#include "sandbox.h"
#include "save.h"
#include "unit_file.h"
#include "simulated_unit.h"

namespace {

namespace fs = std::filesystem;
using namespace korvanta_sim;

int complain(int status, const std::string& what) {
    std::fprintf(stderr, "korvanta-sim: %s\n", what.c_str());
    return status;
}

bool under(const fs::path& path, const char* top) {
    std::string text = path.string();
    return text == top || text.compare(0, std::string(top).size() + 1, std::string(top) + "/") == 0;
}

// Where --save will write, as seen from inside the sandbox too: absolute, and
// not on the paths the sandbox replaces (the file would vanish with it). The
// name stays as given: its links are followed at the write, where the kernel
// would follow them, never here.
bool resolve_save_path(std::string& path, std::string& error) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (ec) {
        error = "--save " + path + ": " + ec.message();
        return false;
    }
    for (const char* top : {"/etc", "/sys", "/proc"}) {
        if (under(resolved, top)) {
            error = "--save " + path + ": refusing to save under " + top + ", which the simulation replaces";
            return false;
        }
    }
    if (!fs::is_directory(resolved.parent_path(), ec) || fs::is_directory(resolved, ec)) {
        error = "--save " + path + ": not a file in an existing directory";
        return false;
    }
    // Refused before the command runs: a FIFO would hold the save for ever.
    const fs::file_status status = fs::status(resolved, ec);
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_character_file(status)) {
        error = "--save " + path + ": not a regular file";
        return false;
    }
    path = absolute.string();
    return true;
}

int enter_sandbox(Invocation invocation) {
    Unit unit;
    std::string error;
    if (!load_unit(invocation.unit, unit, error)) return complain(kExitUsage, invocation.unit + ": " + error);
    if (!invocation.save.empty() && !resolve_save_path(invocation.save, error)) return complain(kExitUsage, error);
    std::string sandbox = find_sandbox();
    if (sandbox.empty()) return complain(kExitSimFailed, "cannot find korvanta-sandbox next to " + own_path());
    int status = run_second(sandbox, unit, invocation.save, invocation.command, error);
    return error.empty() ? status : complain(status, error);
}

int run_in_sandbox(const Invocation& invocation) {
    require_sandbox();
    Unit unit;
    std::string error;
    int lifeline = take_lifeline(invocation.lifeline);
    if (!take_unit(invocation.unit, unit, error)) return complain(kExitSimFailed, error);
    if (lifeline < 0) return complain(kExitSimFailed, "no lifeline passed on in descriptor " + invocation.lifeline);
    if (!put_in_place(unit, error)) return complain(kExitSimFailed, "cannot set up the unit: " + error);
    int status = run_command(invocation.command, lifeline);
    // The save's failure wins: the unit asked for is not there. The command's own status is said too.
    if (!invocation.save.empty() && !save_unit(unit.store, invocation.save, error))
        return complain(kExitSimFailed, "--save: " + error +
                                            (status != 0 ? "; COMMAND's own status: " + std::to_string(status) : ""));
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    Invocation invocation;
    std::string error;
    if (!parse_command_line(argc, argv, invocation, error)) {
        std::fprintf(stderr, "korvanta-sim: %s\nTry 'korvanta-sim --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (invocation.help || invocation.version) {
        std::fputs((invocation.help ? help_text() : version_text()).c_str(), stdout);
        return 0;
    }
    return invocation.in_sandbox ? run_in_sandbox(invocation) : enter_sandbox(invocation);
}
