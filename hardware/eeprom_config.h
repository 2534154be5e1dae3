// The identity EEPROM locations this library knows, in probing order.
#ifndef KORVANTA_HARDWARE_EEPROM_CONFIG_H
#define KORVANTA_HARDWARE_EEPROM_CONFIG_H

#include <vector>

#include "korvanta_hardware.h"

namespace korvanta_hardware {

// Built when the library is loaded, never changed afterwards.
extern const std::vector<EepromConfig_Def> eeprom_config_table;

}  // namespace korvanta_hardware

#endif
