// Identity fields as text: two lowercase hexadecimal digits per byte.
#ifndef KORVANTA_HARDWARE_HEX_TEXT_H
#define KORVANTA_HARDWARE_HEX_TEXT_H

#include <string>
#include <vector>

namespace korvanta_hardware {

// Turns the raw bytes in the first half of text into two digits each, filling
// the whole text in place: a field is read straight into its own text.
void expand_to_hex_text(std::string& text);

// Converts 2 * count characters into count bytes. Each pair must be exactly two
// hexadecimal digits, in either case; anything else throws
// std::invalid_argument("stoi"), so a malformed identifier is never stored.
std::vector<unsigned char> from_hex_text(const std::string& text, size_t count);

}  // namespace korvanta_hardware

#endif
