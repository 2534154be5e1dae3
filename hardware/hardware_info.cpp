#include "korvanta_hardware.h"

namespace korvanta_hardware {

// Defined here so that the interface's type information lives in the library.
HardwareInfo::~HardwareInfo() = default;

}  // namespace korvanta_hardware
