/* Prints what the library reads on this unit, through the flat interface.
 * Written in C on purpose: it shows the flat header serves C callers. */
#include <stdio.h>

#include "korvanta_hardware_flat.h"

int main(void) {
    KorvantaHardwareInformation* h = KorvantaHardwareInformation_create();
    const char* eeprom = KorvantaHardwareInformation_get_eeprom_path();

    /* The library's messages may end without a line feed: start on a fresh line. */
    printf("\n");
    printf("robot identifier:    %s\n", KorvantaHardwareInformation_get_uuid(h));
    printf("hardware identifier: %s\n", KorvantaHardwareInformation_get_hw_uuid(h));
    printf("serial number:       %s\n", KorvantaHardwareInformation_get_robot_sn(h));
    printf("cpu serial:          %s\n", KorvantaHardwareInformation_get_cpu_serial_number(h));
    printf("board type:          %d %s\n", KorvantaHardwareInformation_get_board_type_code(h),
           KorvantaHardwareInformation_get_board_type(h));
    printf("version:             %d %s\n", KorvantaHardwareInformation_get_robot_version_code(h),
           KorvantaHardwareInformation_get_robot_version(h));
    printf("status:              %d %s\n", KorvantaHardwareInformation_get_robot_status_code(h),
           KorvantaHardwareInformation_get_robot_status(h));
    printf("source:              %s\n", eeprom[0] != '\0' ? eeprom : "identity files under /etc/korvanta/");

    KorvantaHardwareInformation_destroy(h);
    return 0;
}
