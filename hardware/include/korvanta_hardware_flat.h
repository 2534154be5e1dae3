/*
 * Flat interface of libkorvanta-hardware, for C and any caller that cannot use
 * the classes: plain functions over a handle, and the four code enumerations.
 *
 * A handle comes from KorvantaHardwareInformation_create() and belongs to the
 * caller until it is passed to KorvantaHardwareInformation_destroy(). Identity
 * texts returned for a handle point into it: valid until it is destroyed, never
 * to be freed. Code names and the EEPROM path are static text.
 */
#ifndef KORVANTA_HARDWARE_FLAT_H
#define KORVANTA_HARDWARE_FLAT_H

#include "korvanta_hardware_export.h"

#ifdef __cplusplus
#include <cstdint>
#define KORVANTA_ENUM_BASE : std::uint32_t
extern "C" {
#else
#include <stdbool.h>
#define KORVANTA_ENUM_BASE
#endif

/* Opaque: callers hold handles only as pointers. */
typedef struct KorvantaHardwareInformation KorvantaHardwareInformation;

typedef enum ROBOT_STATUS_ENUM KORVANTA_ENUM_BASE {
    STATUS_UNKNOWN = 0,
    STATUS_MACHINE_TEST = 1,
    STATUS_TESTING = 2,
    STATUS_QA_TEST = 3,
    STATUS_PRE_RELEASE = 4,
    STATUS_RELEASE = 5,
    STATUS_PROD_0 = 6,
    STATUS_PROD_1 = 7,
    STATUS_PROD_2 = 8
} ROBOT_STATUS_ENUM;

/* Code 4 is named "SIMULATION_BOARD" but has no enumerator. */
typedef enum BOARD_TYPE_ENUM KORVANTA_ENUM_BASE {
    BOARD_TYPE_UNKNOWN = 0,
    BOARD_ROBOT = 1,
    BOARD_AI = 2,
    BOARD_STATION = 3
} BOARD_TYPE_ENUM;

typedef enum ROBOT_VERSION_ENUM KORVANTA_ENUM_BASE {
    ROBOT_VERSION_UNKNOWN = 0xFFFF,
    ROBOT_VERSION_KORVANTA_DVT1 = 1,
    ROBOT_VERSION_KORVANTA_DVT2 = 2,
    ROBOT_VERSION_KORVANTA_PRO_EVT = 10,
    ROBOT_VERSION_TALVORN_EVT = 20,
    ROBOT_VERSION_TALVORN_DVT = 21,
    ROBOT_VERSION_TALVORN_PVT = 22
} ROBOT_VERSION_ENUM;

/* A station keeps its revision in the robot-version field. */
typedef enum STATION_VERSION_ENUM KORVANTA_ENUM_BASE {
    STATION_VERSION_UNKNOWN = 0xFFFF,
    STATION_VERSION_OLD = 0,
    STATION_VERSION_2024_930 = 1
} STATION_VERSION_ENUM;

/* Reads the unit's identity; the caller owns the returned handle. */
KORVANTA_HARDWARE_EXPORT KorvantaHardwareInformation* KorvantaHardwareInformation_create(void);
/* Releases a handle; a null handle is ignored. */
KORVANTA_HARDWARE_EXPORT void KorvantaHardwareInformation_destroy(KorvantaHardwareInformation* h);

/* Cached identity texts; they live as long as h. */
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_uuid(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_hw_uuid(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_robot_sn(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_cpu_serial_number(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_machine_id(const KorvantaHardwareInformation* h);
/* key must not be null; unknown keys give "null". */
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_hardware_info(const KorvantaHardwareInformation* h,
                                                                                 const char* key);

/* Cached codes; an unreadable version is 65535, an unreadable board type or status 0.
 * Name texts are static. The version is named from the station table on a station board. */
KORVANTA_HARDWARE_EXPORT int KorvantaHardwareInformation_get_robot_version_code(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_robot_version(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_enum2str_robot_version(unsigned int code);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_enum2str_station_version(int code);
KORVANTA_HARDWARE_EXPORT int KorvantaHardwareInformation_get_board_type_code(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_board_type(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_enum2str_board_type(int code);
KORVANTA_HARDWARE_EXPORT int KorvantaHardwareInformation_get_robot_status_code(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_robot_status(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_enum2str_robot_status(unsigned int code);

/* Write to the store without refreshing h's cache. Texts must hold at least 32
 * characters; they must not be null. No exception leaves these functions. */
KORVANTA_HARDWARE_EXPORT bool KorvantaHardwareInformation_writeUuid(KorvantaHardwareInformation* h, const char* uuid);
KORVANTA_HARDWARE_EXPORT bool KorvantaHardwareInformation_writeSerial(KorvantaHardwareInformation* h, const char* serial);
KORVANTA_HARDWARE_EXPORT bool KorvantaHardwareInformation_writeRobotStatus(KorvantaHardwareInformation* h,
                                                                        unsigned short status);

/* Path of the first configured EEPROM that exists, or "" (static text). */
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_eeprom_path(void);

#ifdef __cplusplus
}
#endif

#undef KORVANTA_ENUM_BASE

#endif
