// A unit file: the JSON that tells korvanta-sim which unit to simulate.
//
//   {"store": "eeprom", "hw_uuid": "00112233445566778899aabbccddeeff",
//    "board_type": "ROBOT_BOARD", "robot_version": "KORVANTA_DVT2", "robot_status": "RELEASE"}
//
// Keys (any left out is absent on the unit):
//   store              "eeprom", "files" or "none" (required)
//   uuid, hw_uuid, serial
//                      eeprom: 32 hexadecimal digits; files: 32 characters, no line feed
//   board_type, robot_version, robot_status
//                      a code 0..65535 or its name; robot_version names come from the
//                      station table when board_type is STATION_BOARD
//   eeprom_image       a raw EEPROM image file (a regular file of at most 65536 bytes),
//                      relative to the unit file; instead of the six fields above
//   machine_id         32 characters, no line feed: /etc/machine-id
//   cpu_serial_number  becomes the line "Serial\t\t: VALUE" of /proc/cpuinfo
//   cpuinfo            the whole /proc/cpuinfo text, instead of cpu_serial_number
//   description        free text for people; ignored
#ifndef KORVANTA_SIM_UNIT_FILE_H
#define KORVANTA_SIM_UNIT_FILE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvanta_sim {

enum class Store { kEeprom, kFiles, kNone };

// A checked unit, ready to be put in place.
struct Unit {
    Store store = Store::kNone;
    std::optional<std::string> uuid;
    std::optional<std::string> hw_uuid;
    std::optional<std::string> serial;
    std::optional<uint16_t> board_type;
    std::optional<uint16_t> robot_version;
    std::optional<uint16_t> robot_status;
    std::optional<std::vector<uint8_t>> eeprom_image;
    std::optional<std::string> machine_id;
    std::optional<std::string> cpuinfo;  // the whole text, cpu_serial_number already expanded
};

// Keys of the unit file, shared with the saved unit.
inline constexpr char kStoreKey[] = "store";
inline constexpr char kUuidKey[] = "uuid";
inline constexpr char kHwUuidKey[] = "hw_uuid";
inline constexpr char kSerialKey[] = "serial";
inline constexpr char kBoardTypeKey[] = "board_type";
inline constexpr char kRobotVersionKey[] = "robot_version";
inline constexpr char kRobotStatusKey[] = "robot_status";
inline constexpr char kEepromImageKey[] = "eeprom_image";
inline constexpr char kMachineIdKey[] = "machine_id";
inline constexpr char kCpuSerialKey[] = "cpu_serial_number";
inline constexpr char kCpuinfoKey[] = "cpuinfo";
inline constexpr char kDescriptionKey[] = "description";

inline constexpr char kStoreEeprom[] = "eeprom";
inline constexpr char kStoreFiles[] = "files";
inline constexpr char kStoreNone[] = "none";

// The store's name in a unit file: "eeprom", "files" or "none".
const char* store_name(Store store);

// The largest image an at24 EEPROM exposes (a 24c512).
inline constexpr size_t kMaxEepromImage = 65536;

// The /proc/cpuinfo text that carries a CPU serial, and back: the serial when
// the text is exactly such a line, else nothing.
std::string cpuinfo_for_serial(const std::string& serial);
std::optional<std::string> serial_of_cpuinfo(const std::string& cpuinfo);

// Reads and checks the unit file at path, and the image it names; each is
// read once, so the unit file may be a pipe (<(...)). The image must be a
// regular file. Returns false with a one-line reason that names the key at
// fault ("board_type: ...") in error.
bool load_unit(const std::string& path, Unit& unit, std::string& error);

// How a unit file gives codes: as numbers, as the library reads them, or by
// name where the name reads back as the same code.
enum class CodeStyle { kNumbers, kNames };

// The unit file that load_unit reads back as unit: keys in the order above,
// indented, ending with a line feed. An EEPROM image is not part of it.
std::string unit_file_text(const Unit& unit, CodeStyle codes);

// A checked unit as bytes, and back: how korvanta-sim hands the unit to its
// second run inside the sandbox without reading the user's files again.
std::string encode_unit(const Unit& unit);
bool decode_unit(const std::string& bytes, Unit& unit, std::string& error);

}  // namespace korvanta_sim

#endif
