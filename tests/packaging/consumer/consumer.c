/* Built against an installed tree with pkg-config: the flat interface from C. */
#include <stdio.h>

#include <korvanta_hardware_flat.h>

int main(void) {
    printf("%s %s %s %s eeprom:%s\n", KorvantaHardwareInformation_enum2str_robot_status(STATUS_RELEASE),
           KorvantaHardwareInformation_enum2str_board_type(4),
           KorvantaHardwareInformation_enum2str_station_version(STATION_VERSION_2024_930),
           KorvantaHardwareInformation_enum2str_robot_version(ROBOT_VERSION_KORVANTA_PRO_EVT),
           KorvantaHardwareInformation_get_eeprom_path() ? "text" : "null");
    return 0;
}
