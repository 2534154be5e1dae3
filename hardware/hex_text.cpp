#include "hex_text.h"

#include <stdexcept>

namespace korvanta_hardware {
namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// The last byte goes first: its digits land at or after its own place, never
// on a byte that is still to be read.
void expand_to_hex_text(std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = text.size() / 2; i-- > 0;) {
        auto byte = static_cast<unsigned char>(text[i]);
        text[2 * i] = kDigits[byte >> 4];
        text[2 * i + 1] = kDigits[byte & 0x0F];
    }
}

std::vector<unsigned char> from_hex_text(const std::string& text, size_t count) {
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
