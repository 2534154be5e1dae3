#include "eeprom_config.h"

namespace korvanta_hardware {

// The EEPROM at I2C bus 5, address 0x50.
const std::vector<EepromConfig_Def> eeprom_config_table = {
    {"/sys/bus/i2c/devices/5-0050/eeprom", 256, 0, 1},
};

bool KorvantaHardwareInformation::GetValidEeprom(EepromConfig_Def& config) {
    for (const EepromConfig_Def& entry : eeprom_config_table) {
        if (HardwareEeprom::IsExist(entry.path)) {
            config = entry;
            return true;
        }
    }
    return false;
}

}  // namespace korvanta_hardware
