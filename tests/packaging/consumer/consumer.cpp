// Built against an installed tree with find_package: both headers, a symbol of
// the class interface and the flat interface, from C++.
#include <korvanta_hardware.h>
#include <korvanta_hardware_flat.h>

#include <cstdio>

int main() {
    // Probes a path that always exists; touches no identity.
    bool root_exists = korvanta_hardware::HardwareEeprom::IsExist("/");
    std::printf("%s %s %s\n", KorvantaHardwareInformation_enum2str_robot_status(STATUS_RELEASE),
                root_exists ? "class-interface" : "no-class-interface", korvanta_hardware::ROBOT_ID_PATH.c_str());
    return 0;
}
