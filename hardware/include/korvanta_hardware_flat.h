/*
 * Flat interface of libkorvanta-hardware, for C and any caller that cannot use
 * the classes: plain functions over a handle, and the four code enumerations.
 *
 * A handle comes from KorvantaHardwareInformation_create() and belongs to the
 * caller until it is passed to KorvantaHardwareInformation_destroy(). Identity
 * texts returned for a handle point into it: valid until it is destroyed, never
 * to be freed. Code names and the EEPROM path are static text that lives as
 * long as the library. A handle must be live: only destroy checks for null.
 *
 * A code that could not be read comes back as its UNKNOWN value (the class
 * interface gives -1 instead). A failure is a value plus a short message on
 * standard error; only exhausted memory raises a C++ exception, and the three
 * writers catch even that.
 *
 * Threads: no locks, no state outside the handles. The getters only read what
 * create cached, so one handle may be shared by any number of readers. Writes
 * on one handle must not overlap each other, and destroy must overlap no call.
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

/* Reads the unit's whole identity now; the caller owns the returned handle,
 * which is never null. It fails only as the class's constructor does, by a
 * C++ exception (exhausted memory). */
KORVANTA_HARDWARE_EXPORT KorvantaHardwareInformation* KorvantaHardwareInformation_create(void);
/* Releases a handle; a null handle is ignored. */
KORVANTA_HARDWARE_EXPORT void KorvantaHardwareInformation_destroy(KorvantaHardwareInformation* h);

/* Cached identity texts, "null" when unread; they live as long as h.
 * machine_id is the robot identifier, the same text as uuid. */
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_uuid(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_hw_uuid(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_robot_sn(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_cpu_serial_number(const KorvantaHardwareInformation* h);
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_machine_id(const KorvantaHardwareInformation* h);
/* Keys "uuid", "cpu_serial_number", "serial"; any other key gives "null".
 * key must not be null. */
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_hardware_info(const KorvantaHardwareInformation* h,
                                                                                 const char* key);

/* Cached codes; an unreadable version is 65535, an unreadable board type or status 0.
 * Name texts are static. The version is named from the station table on a station board.
 * enum2str_* need no handle; a code outside their table gives "UNKNOWN". */
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

/* Write to the store without refreshing h's cache; true when the store took
 * the value. Texts must not be null and must be exactly 32 characters: shorter
 * ones are refused here, longer ones by the store, each with a message.
 * On an EEPROM they must be hexadecimal digits, either case, read back in
 * lowercase (otherwise "Error: stoi" and nothing is written); in a file any
 * characters but a line feed, read back unchanged. The status is stored as
 * given. No exception leaves these functions. */
KORVANTA_HARDWARE_EXPORT bool KorvantaHardwareInformation_writeUuid(KorvantaHardwareInformation* h, const char* uuid);
KORVANTA_HARDWARE_EXPORT bool KorvantaHardwareInformation_writeSerial(KorvantaHardwareInformation* h, const char* serial);
KORVANTA_HARDWARE_EXPORT bool KorvantaHardwareInformation_writeRobotStatus(KorvantaHardwareInformation* h,
                                                                        unsigned short status);

/* Path of the first configured EEPROM that exists, or "" (static text, never
 * null). Needs no handle; opens nothing. */
KORVANTA_HARDWARE_EXPORT const char* KorvantaHardwareInformation_get_eeprom_path(void);

#ifdef __cplusplus
}
#endif

#undef KORVANTA_ENUM_BASE

#endif
