// Puts a checked unit in place at the library's compiled-in paths.
#ifndef KORVANTA_SIM_PUT_IN_PLACE_H
#define KORVANTA_SIM_PUT_IN_PLACE_H

#include <string>

#include "unit_file.h"

namespace korvanta_sim {

// Only inside the sandbox, on the empty unit it starts with. An EEPROM unit
// gets a 256-byte image, erased (0xFF) but for the fields given, or the image
// file as it is; a files unit gets /etc/korvanta with one file per item given.
// Returns false with the reason in error.
bool put_in_place(const Unit& unit, std::string& error);

}  // namespace korvanta_sim

#endif
