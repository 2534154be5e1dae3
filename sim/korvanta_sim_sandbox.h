// Entering the sandbox: korvanta-sim runs again as the command of the same
// launcher that our test suite uses, sim/korvanta-sandbox.
#ifndef KORVANTA_SIM_SANDBOX_H
#define KORVANTA_SIM_SANDBOX_H

#include <string>
#include <vector>

namespace korvanta_sim {

// This program's own absolute path, from /proc/self/exe.
std::string own_path();

// The launcher: installed in libexec (KORVANTA_SIM_SANDBOX_FROM_BINDIR, relative
// to this program's directory), or beside this program in the build tree.
// Empty when neither is there.
std::string find_sandbox();

// Replaces this process with the launcher running argv inside the sandbox.
// Returns only when that fails, with the reason in error.
void exec_sandbox(const std::string& sandbox, const std::vector<std::string>& argv, std::string& error);

}  // namespace korvanta_sim

#endif
