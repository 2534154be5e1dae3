// The unit's identity as the library reads it, through the flat interface so
// that codes are normalised and named exactly as the library names them.
#ifndef KORVANTA_HWINFO_IDENTITY_H
#define KORVANTA_HWINFO_IDENTITY_H

#include <memory>
#include <string>

#include "korvanta_hardware_flat.h"

namespace hwinfo {

struct HandleDestroyer {
    void operator()(KorvantaHardwareInformation* h) const { KorvantaHardwareInformation_destroy(h); }
};
using Handle = std::unique_ptr<KorvantaHardwareInformation, HandleDestroyer>;

// A fresh information object: it reads the store now. The library's messages
// while it reads reach stderr with their lines ended.
Handle open_handle();

// An EEPROM that exists but cannot be opened for reading leaves every item
// "null". Says why on stderr and returns false; true when there is no EEPROM
// or this process can read it.
bool eeprom_readable();

struct NamedCode {
    int code = 0;
    std::string name;
};

struct Identity {
    std::string uuid;
    std::string hw_uuid;
    std::string serial;
    std::string cpu_serial;
    NamedCode board_type;
    NamedCode version;  // named from the station table on a station board
    NamedCode status;
    std::string source;  // the EEPROM's path, kIdentityFilesSource or kNoSource
};

inline constexpr char kIdentityFilesSource[] = "identity files";
// Neither an EEPROM nor any identity file: every value shown is a placeholder
// (the robot identifier may still be the operating system's machine-id).
inline constexpr char kNoSource[] = "none";

Identity read_identity(const KorvantaHardwareInformation* h);

}  // namespace hwinfo

#endif
