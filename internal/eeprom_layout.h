// The identity block of the EEPROM, as the library reads it and
// korvanta-hwinfo programs it: where each field sits, how a code is stored,
// what an erased field holds and how an identifier reads as text. The tests'
// unit builder keeps its own copy on purpose, as an independent reference.
#ifndef KORVANTA_HARDWARE_EEPROM_LAYOUT_H
#define KORVANTA_HARDWARE_EEPROM_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

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

// Identity fields as text: two lowercase hexadecimal digits per byte.

// The value of a hexadecimal digit in either case; -1 for any other character.
inline int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Turns the raw bytes in the first half of text into two digits each, filling
// the whole text in place: a field is read straight into its own text. The
// last byte goes first: its digits land at or after its own place, never on a
// byte that is still to be read.
inline void expand_to_hex_text(std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = text.size() / 2; i-- > 0;) {
        auto byte = static_cast<unsigned char>(text[i]);
        text[2 * i] = kDigits[byte >> 4];
        text[2 * i + 1] = kDigits[byte & 0x0F];
    }
}

// Converts 2 * count characters into count bytes. Each pair must be exactly two
// hexadecimal digits, in either case; anything else throws
// std::invalid_argument("stoi"), so a malformed identifier is never stored.
inline std::vector<unsigned char> from_hex_text(const std::string& text, size_t count) {
    std::vector<unsigned char> bytes(count);
    for (size_t i = 0; i < count; ++i) {
        int high = digit_value(text.at(2 * i));
        int low = digit_value(text.at(2 * i + 1));
        // Same exception as the standard conversion gives for a pair without digits.
        if (high < 0 || low < 0) throw std::invalid_argument("stoi");
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return bytes;
}

}  // namespace korvanta_hardware

#endif
