#include "identity_text.h"

namespace korvanta_hardware {

bool is_usable_identifier(const std::string& text) {
    if (text.empty() || text == kNoValue) return false;
    return text.find_first_not_of(text.front()) != std::string::npos;
}

}  // namespace korvanta_hardware
