// set-uuid, set-serial and set-status: write one item through the flat
// interface, then read it back through a new information object (the one that
// wrote keeps its cache) and report the value now stored.
#ifndef KORVANTA_HWINFO_WRITE_COMMAND_H
#define KORVANTA_HWINFO_WRITE_COMMAND_H

#include "command_line.h"

namespace hwinfo {

// Returns the exit status: kExitOk, or kExitFailed when the write failed or
// the value read back is not the one written.
int run_write(const Command& command);

}  // namespace hwinfo

#endif
