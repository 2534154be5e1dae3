// Writes unit files: the simulated unit as a command left it, for
// korvanta-sim --save, and any checked unit, for korvanta-hwinfo --unit-file.
#ifndef KORVANTA_SIM_SAVE_H
#define KORVANTA_SIM_SAVE_H

#include <string>

#include "unit_file.h"

namespace korvanta_sim {

// How a unit file gives codes: as numbers, as the library reads them, or by
// name where the name reads back as the same code.
enum class CodeStyle { kNumbers, kNames };

// The text of a unit file that load_unit reads back as unit, keys in the
// order of the file's documentation, ending with a line feed. An EEPROM
// image is not part of it: it has a file of its own.
std::string unit_file_text(const Unit& unit, CodeStyle codes);

// Inside the sandbox, after the command. An EEPROM unit saves its raw image;
// any other a unit file in the form load_unit reads, holding the items as the
// library would read them (codes as numbers). An identity file whose first
// line the library would refuse is left out, with a warning on stderr.
// Returns false with the reason in error.
bool save_unit(Store store, const std::string& path, std::string& error);

}  // namespace korvanta_sim

#endif
