#include "identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "korvanta_hardware.h"
#include "library_messages.h"

namespace hwinfo {
namespace {

// A file that is there but cannot be read still counts: the unit has an identity
// this process may not see, which is not the same as having none.
bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool any_identity_file() {
    using namespace korvanta_hardware;
    for (const std::string* path : {&ROBOT_ID_PATH, &HW_UUID_PATH, &ROBOT_SN_PATH, &BOARD_TYPE_CODE_PATH,
                                    &ROBOT_VERSION_CODE_PATH, &ROBOT_STATUS_CODE_PATH}) {
        if (exists(*path)) return true;
    }
    return false;
}

std::string source_of_identity() {
    std::string eeprom = KorvantaHardwareInformation_get_eeprom_path();
    if (!eeprom.empty()) return eeprom;
    return any_identity_file() ? kIdentityFilesSource : kNoSource;
}

}  // namespace

Handle open_handle() {
    Handle handle;
    with_library_messages([&handle] { handle.reset(KorvantaHardwareInformation_create()); });
    return handle;
}

bool eeprom_readable() {
    std::string path = KorvantaHardwareInformation_get_eeprom_path();
    if (path.empty()) return true;
    // Non-blocking: a special file in its place must not hang the tool here.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    int error = errno;
    if (fd >= 0) {
        struct stat status;
        error = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) ? EISDIR : 0;
        ::close(fd);
    }
    if (error == 0) return true;
    std::fprintf(stderr,
                 "korvanta-hwinfo: cannot open the EEPROM %s: %s (reading the identity needs read access to it)\n",
                 path.c_str(), std::strerror(error));
    return false;
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
    identity.source = source_of_identity();
    return identity;
}

}  // namespace hwinfo
