#include <cstdio>
#include <cstring>
#include <exception>

#include "code_names.h"
#include "identity_limits.h"
#include "korvanta_hardware.h"
#include "korvanta_hardware_flat.h"

using Information = korvanta_hardware::KorvantaHardwareInformation;
using Handle = ::KorvantaHardwareInformation;
using korvanta_hardware::CodeTable;
using korvanta_hardware::kIdentifierLength;
using korvanta_hardware::name_of;

namespace {

constexpr int kStationBoard = 3;

// A handle is the information object itself, seen through an opaque type.
const Information& object(const Handle* h) {
    return *reinterpret_cast<const Information*>(h);
}

Information& object(Handle* h) { return *reinterpret_cast<Information*>(h); }

// No exception may cross into a caller that cannot catch it.
template <typename Write>
bool guarded(Write write) {
    try {
        return write();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Error: %s", error.what());
        return false;
    }
}

}  // namespace

extern "C" {

Handle* KorvantaHardwareInformation_create(void) {
    return reinterpret_cast<Handle*>(new Information());
}

void KorvantaHardwareInformation_destroy(Handle* h) { delete reinterpret_cast<Information*>(h); }

const char* KorvantaHardwareInformation_get_uuid(const Handle* h) { return object(h).get_uuid().c_str(); }

const char* KorvantaHardwareInformation_get_hw_uuid(const Handle* h) { return object(h).get_hw_uuid().c_str(); }

const char* KorvantaHardwareInformation_get_robot_sn(const Handle* h) { return object(h).get_robot_sn().c_str(); }

const char* KorvantaHardwareInformation_get_cpu_serial_number(const Handle* h) {
    return object(h).get_cpu_serial_number().c_str();
}

const char* KorvantaHardwareInformation_get_machine_id(const Handle* h) {
    return object(h).get_machine_id().c_str();
}

const char* KorvantaHardwareInformation_get_hardware_info(const Handle* h, const char* key) {
    return object(h).get_hardware_info(std::string(key)).c_str();
}

int KorvantaHardwareInformation_get_robot_version_code(const Handle* h) {
    int code = object(h).get_robot_version();
    return code < 0 ? static_cast<int>(ROBOT_VERSION_UNKNOWN) : code;
}

const char* KorvantaHardwareInformation_get_robot_version(const Handle* h) {
    int code = KorvantaHardwareInformation_get_robot_version_code(h);
    if (object(h).get_board_type() == kStationBoard) return name_of(CodeTable::kStationVersion, code);
    return name_of(CodeTable::kRobotVersion, code);
}

const char* KorvantaHardwareInformation_enum2str_robot_version(unsigned int code) {
    return name_of(CodeTable::kRobotVersion, code);
}

const char* KorvantaHardwareInformation_enum2str_station_version(int code) {
    return name_of(CodeTable::kStationVersion, code);
}

int KorvantaHardwareInformation_get_board_type_code(const Handle* h) {
    int code = object(h).get_board_type();
    return code < 0 ? static_cast<int>(BOARD_TYPE_UNKNOWN) : code;
}

const char* KorvantaHardwareInformation_get_board_type(const Handle* h) {
    return name_of(CodeTable::kBoardType, KorvantaHardwareInformation_get_board_type_code(h));
}

const char* KorvantaHardwareInformation_enum2str_board_type(int code) {
    return name_of(CodeTable::kBoardType, code);
}

int KorvantaHardwareInformation_get_robot_status_code(const Handle* h) {
    int code = object(h).get_robot_status();
    return code < 0 ? static_cast<int>(STATUS_UNKNOWN) : code;
}

const char* KorvantaHardwareInformation_get_robot_status(const Handle* h) {
    return name_of(CodeTable::kRobotStatus, KorvantaHardwareInformation_get_robot_status_code(h));
}

const char* KorvantaHardwareInformation_enum2str_robot_status(unsigned int code) {
    return name_of(CodeTable::kRobotStatus, code);
}

bool KorvantaHardwareInformation_writeUuid(Handle* h, const char* uuid) {
    if (std::strlen(uuid) < kIdentifierLength) {
        std::fputs("uuid length is too short \n", stderr);
        return false;
    }
    return guarded([&] { return object(h).WriteUuid(uuid); });
}

bool KorvantaHardwareInformation_writeSerial(Handle* h, const char* serial) {
    if (std::strlen(serial) < kIdentifierLength) {
        std::fputs("serial length is too short \n", stderr);
        return false;
    }
    return guarded([&] { return object(h).WriteSerial(serial); });
}

bool KorvantaHardwareInformation_writeRobotStatus(Handle* h, unsigned short status) {
    return guarded([&] { return object(h).WriteRobotStatus(status); });
}

const char* KorvantaHardwareInformation_get_eeprom_path(void) {
    korvanta_hardware::EepromConfig_Def config;
    if (Information::GetValidEeprom(config)) return config.path;
    return "";
}

}  // extern "C"
