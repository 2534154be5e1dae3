// --help and --version texts.
#ifndef KORVANTA_HWINFO_USAGE_H
#define KORVANTA_HWINFO_USAGE_H

#include <string>

namespace hwinfo {

std::string help_text();
std::string version_text();

}  // namespace hwinfo

#endif
