// Running the user's command on the simulated unit.
#ifndef KORVANTA_SIM_RUN_H
#define KORVANTA_SIM_RUN_H

#include <string>
#include <vector>

namespace korvanta_sim {

// Runs command (looked up in PATH) and waits for it. Returns its exit status,
// 128+N when signal N ended it, 126 when it cannot be executed, 127 when it
// does not exist, 125 when no process could be made.
//
// Signals that the user sends korvanta-sim come through lifeline (see
// sandbox.h) and go on to the command; end of file there kills
// the command. Sent to this process, SIGINT, SIGQUIT, SIGTERM and SIGHUP are
// ignored while the command runs: a terminal's keys and hangup reach the
// command itself, which decides what they mean, and we wait for it either way.
// Should this process die anyway, the kernel kills the command.
int run_command(const std::vector<std::string>& command, int lifeline);

}  // namespace korvanta_sim

#endif
