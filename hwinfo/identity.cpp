#include "identity.h"

#include "library_messages.h"

namespace hwinfo {

Handle open_handle() {
    Handle handle;
    with_library_messages([&handle] { handle.reset(KorvantaHardwareInformation_create()); });
    return handle;
}

Identity read_identity(const KorvantaHardwareInformation* h) {
    Identity identity;
    identity.uuid = KorvantaHardwareInformation_get_uuid(h);
    identity.hw_uuid = KorvantaHardwareInformation_get_hw_uuid(h);
    identity.serial = KorvantaHardwareInformation_get_robot_sn(h);
    identity.cpu_serial = KorvantaHardwareInformation_get_cpu_serial_number(h);
    identity.board_type = {KorvantaHardwareInformation_get_board_type_code(h),
                           KorvantaHardwareInformation_get_board_type(h)};
    identity.version = {KorvantaHardwareInformation_get_robot_version_code(h),
                        KorvantaHardwareInformation_get_robot_version(h)};
    identity.status = {KorvantaHardwareInformation_get_robot_status_code(h),
                       KorvantaHardwareInformation_get_robot_status(h)};
    std::string eeprom = KorvantaHardwareInformation_get_eeprom_path();
    identity.source = eeprom.empty() ? kIdentityFilesSource : eeprom;
    return identity;
}

}  // namespace hwinfo
