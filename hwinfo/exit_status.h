// The tool's exit statuses; scripts rely on them.
#ifndef KORVANTA_HWINFO_EXIT_STATUS_H
#define KORVANTA_HWINFO_EXIT_STATUS_H

namespace hwinfo {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a write failed or reads back differently, the EEPROM
                                // cannot be read, or the output was lost
constexpr int kExitUsage = 2;

}  // namespace hwinfo

#endif
