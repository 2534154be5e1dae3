// A simulated robot unit: identity files, machine-id, EEPROM image and
// /proc/cpuinfo text put in place at the paths the library has compiled in.
//
// Only ever inside the sandbox (korvanta-sandbox): there /etc is an overlay,
// /sys/bus a tmpfs and /proc/cpuinfo a private file, so nothing here can reach
// a real unit's identity. Every function that changes the unit first checks
// that it runs inside the sandbox and aborts the process loudly otherwise.
//
// Failures to build the unit are test-setup errors: they throw std::runtime_error
// naming the path and the system error.
#ifndef KORVANTA_SIM_SIMULATED_UNIT_H
#define KORVANTA_SIM_SIMULATED_UNIT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvanta_sim {

inline constexpr char kIdentityDir[] = "/etc/korvanta";
inline constexpr char kMachineIdPath[] = "/etc/machine-id";
inline constexpr char kCpuinfoPath[] = "/proc/cpuinfo";
inline constexpr char kEepromPath[] = "/sys/bus/i2c/devices/5-0050/eeprom";
inline constexpr size_t kEepromSize = 256;

// True inside the sandbox that korvanta-sandbox sets up.
bool in_sandbox();
// Prints why and exits with status 1 unless in_sandbox().
void require_sandbox();

// Back to a unit with nothing on it: fault mounts undone, no /etc/korvanta,
// no /etc/machine-id, no EEPROM file, an empty /proc/cpuinfo.
void reset_unit();

// Writes content verbatim (add the line feed yourself where one belongs).
// name is a file under /etc/korvanta, e.g. "robot_id"; the directory is created.
void write_identity_file(const std::string& name, const std::string& content);
void write_machine_id(const std::string& content);
void write_cpuinfo(const std::string& content);
// Whole content of any file, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

// The identity files of a unit without an EEPROM, put in place in one line:
//   IdentityFiles().robot_id("0123456789abcdef0123456789abcdef").board_type(1).status(5).install();
// Each item becomes its text and one line feed; items left out stay absent.
class IdentityFiles {
public:
    IdentityFiles& robot_id(const std::string& text) { return add("robot_id", text); }
    IdentityFiles& hw_uuid(const std::string& text) { return add("hw_uuid", text); }
    IdentityFiles& serial(const std::string& text) { return add("robot_sn", text); }
    IdentityFiles& board_type(long code) { return add("board_type_code", std::to_string(code)); }
    IdentityFiles& version(long code) { return add("robot_version_code", std::to_string(code)); }
    IdentityFiles& status(long code) { return add("robot_status_code", std::to_string(code)); }
    IdentityFiles& machine_id(const std::string& text);
    // Writes every item given; the directory /etc/korvanta is created.
    void install() const;

private:
    IdentityFiles& add(const std::string& name, const std::string& text);

    std::vector<std::pair<std::string, std::string>> files_;  // path, content
};

// An EEPROM image, built in memory and put in place in one line:
//   EepromImage::erased().hw_uuid("00112233445566778899aabbccddeeff").board_type(1).install();
// Field setters write the identity block at base_offset, codes little-endian.
class EepromImage {
public:
    explicit EepromImage(size_t size = kEepromSize, uint8_t fill = 0xFF, unsigned int base_offset = 0);
    static EepromImage erased() { return EepromImage(kEepromSize, 0xFF); }
    static EepromImage zeroed() { return EepromImage(kEepromSize, 0x00); }
    static EepromImage from_bytes(std::vector<uint8_t> bytes);

    // 32 hexadecimal digits each.
    EepromImage& hw_uuid(const std::string& hex);
    EepromImage& serial(const std::string& hex);
    EepromImage& robot_uuid(const std::string& hex);
    EepromImage& board_type(uint16_t code);
    EepromImage& version(uint16_t code);
    EepromImage& status(uint16_t code);
    EepromImage& bytes_at(size_t offset, const std::vector<uint8_t>& bytes);  // absolute offset
    EepromImage& truncate(size_t size);                                        // a device shorter than the block

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Writes the image to kEepromPath, creating its directories.
    void install() const;

private:
    std::vector<uint8_t> bytes_;
    unsigned int base_offset_;
};

// The EEPROM file's bytes as they are now (empty when it is missing).
std::vector<uint8_t> read_eeprom();

// Faults a unit can meet, each undone by reset_unit().
// The directory (created if missing) becomes a read-only mount: writes give EROFS.
void make_read_only(const std::string& directory);
// The directory (created if missing, its files kept) becomes a tiny tmpfs that
// is already full (a hidden ".filler" file takes the space): files can still
// be created, but writing to them gives ENOSPC. The files kept can still be
// rewritten within the blocks they have.
void make_full(const std::string& directory);
// A directory stands where the file should be.
void put_directory_at(const std::string& path);
// The file (created if missing) is bind-mounted over itself from another file
// system, as a container gets it: it can be rewritten, not renamed over.
void bind_from_elsewhere(const std::string& path);

}  // namespace korvanta_sim

#endif
