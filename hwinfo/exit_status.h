// The tool's exit statuses; scripts rely on them.
#ifndef KORVANTA_HWINFO_EXIT_STATUS_H
#define KORVANTA_HWINFO_EXIT_STATUS_H

namespace hwinfo {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a write failed, or the value read back differs
constexpr int kExitUsage = 2;

}  // namespace hwinfo

#endif
