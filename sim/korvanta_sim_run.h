// Running the user's command on the simulated unit.
#ifndef KORVANTA_SIM_RUN_H
#define KORVANTA_SIM_RUN_H

#include <string>
#include <vector>

namespace korvanta_sim {

// Runs command (looked up in PATH) and waits for it. Returns its exit status,
// 128+N when signal N ended it, 126 when it cannot be executed, 127 when it
// does not exist, 125 when no process could be made. While it runs, the
// terminal's interrupt and quit keys are the command's to act on; we wait for
// it either way.
int run_command(const std::vector<std::string>& command);

}  // namespace korvanta_sim

#endif
