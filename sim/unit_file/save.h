// Saves the simulated unit as a command left it, for --save.
#ifndef KORVANTA_SIM_SAVE_H
#define KORVANTA_SIM_SAVE_H

#include <string>

#include "unit_file.h"

namespace korvanta_sim {

// Inside the sandbox, after the command. An EEPROM unit saves its raw image;
// any other a unit file in the form load_unit reads, holding the items as the
// library would read them (codes as numbers). An identity file whose first
// line the library would refuse is left out, with a warning on stderr.
// Returns false with the reason in error.
bool save_unit(Store store, const std::string& path, std::string& error);

}  // namespace korvanta_sim

#endif
