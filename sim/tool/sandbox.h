// Entering the sandbox: korvanta-sim runs again as the command of the same
// launcher that our test suite uses, sim/fixture/korvanta-sandbox.
//
// The first run, as the user started it, checks the unit and stays until the
// second run, inside the sandbox, has ended. It hands the second run two
// descriptors:
// - the checked unit (encode_unit) in a memory file, so that no file of the
//   user's is read twice: a unit given as <(...) can be read only once;
// - the lifeline, a pipe. For each SIGTERM, SIGINT or SIGHUP that a process
//   sends the first run, it writes the signal's number as one byte, and the
//   second run sends that signal on to the command. When the first run ends,
//   however it ends (SIGKILL included), the second run reads end of file and
//   kills the command: the command never outlives the tool.
#ifndef KORVANTA_SIM_SANDBOX_H
#define KORVANTA_SIM_SANDBOX_H

#include <string>
#include <vector>

#include "unit_file.h"

namespace korvanta_sim {

// This program's own absolute path, from /proc/self/exe.
std::string own_path();

// The launcher: installed in libexec (KORVANTA_SIM_SANDBOX_FROM_BINDIR, relative
// to this program's directory), or beside this program in the build tree.
// Empty when neither is there.
std::string find_sandbox();

// First run: runs "OWN_PATH --in-sandbox LIFELINE [--save FILE] UNIT -- COMMAND..."
// through the launcher, passes signals on and waits. Returns the launcher's
// exit status (128+N when signal N ended it), or kExitSimFailed with the
// reason in error when it could not be started.
int run_second(const std::string& sandbox, const Unit& unit, const std::string& save,
               const std::vector<std::string>& command, std::string& error);

// Second run: the unit from the descriptor named UNIT above, which is closed
// then, and the lifeline from LIFELINE (-1 when it names none).
bool take_unit(const std::string& word, Unit& unit, std::string& error);
int take_lifeline(const std::string& word);

}  // namespace korvanta_sim

#endif
