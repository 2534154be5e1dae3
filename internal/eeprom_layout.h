// The identity block of the EEPROM, as the library reads it and
// korvanta-hwinfo programs it: where each field sits, how a code is stored
// and what an erased field holds. The tests' unit builder keeps its own copy
// on purpose, as an independent reference.
#ifndef KORVANTA_HARDWARE_EEPROM_LAYOUT_H
#define KORVANTA_HARDWARE_EEPROM_LAYOUT_H

#include <cstddef>
#include <cstdint>

namespace korvanta_hardware {

struct EepromField {
    unsigned int offset;  // from the block's start, the configured base offset
    unsigned int size;
};

// Identifiers are raw bytes, shown as two lowercase hexadecimal digits each;
// codes are 16-bit little-endian numbers.
inline constexpr unsigned int kEepromIdentifierBytes = 16;
inline constexpr unsigned int kEepromCodeBytes = 2;

inline constexpr EepromField kEepromHwUuid = {0, kEepromIdentifierBytes};
inline constexpr EepromField kEepromBoardType = {16, kEepromCodeBytes};
inline constexpr EepromField kEepromRobotVersion = {18, kEepromCodeBytes};
inline constexpr EepromField kEepromRobotSn = {20, kEepromIdentifierBytes};
inline constexpr EepromField kEepromRobotUuid = {36, kEepromIdentifierBytes};
inline constexpr EepromField kEepromRobotStatus = {52, kEepromCodeBytes};
inline constexpr unsigned int kEepromBlockSize = 54;

// A byte of a field that was never programmed.
inline constexpr uint8_t kEepromErasedByte = 0xFF;

inline bool is_erased(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != kEepromErasedByte) return false;
    return true;
}

// Little-endian, of any length up to four bytes.
inline uint32_t little_endian_value(const uint8_t* bytes, unsigned int count) {
    uint32_t value = 0;
    for (unsigned int i = count; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

inline void put_little_endian(uint32_t value, uint8_t* bytes, unsigned int count) {
    for (unsigned int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace korvanta_hardware

#endif
