// Class interface of libkorvanta-hardware: who this robot unit is.
//
// A KorvantaHardwareInformation object reads the unit's identity once, when it
// is constructed, from the identity EEPROM if one is present and otherwise from
// the identity files under /etc/korvanta/. Its getters answer from that cache;
// its writers go straight to the store and leave the cache as it was.
//
// Failures are values: an identity text that could not be read is "null", a
// code that could not be read is -1, a write that failed returns false. A short
// message on standard error says why. (The flat interface gives the UNKNOWN
// code where this one gives -1.)
//
// Threads: the library takes no locks and keeps no mutable state outside its
// objects. After construction the getters only read, so one object may be
// shared by any number of readers. Writes to one object must not overlap.
#ifndef KORVANTA_HARDWARE_H
#define KORVANTA_HARDWARE_H

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

#include "korvanta_hardware_export.h"

namespace korvanta_hardware {

// One known identity EEPROM location. Plain record, copied by value. Defined
// here because an information object holds the one its probe found.
struct EepromConfig_Def {
    const char* path = nullptr;  // not owned: static text that lives as long as the library
    uint32_t size = 0;           // bytes in the device; no access reaches past it
    uint32_t base_offset = 0;    // where the 54-byte identity block starts
    int32_t writable = 0;        // non-zero: open for reading and writing
};

class HardwareInfo;

// Who this unit is, read once at construction. Not copyable.
class KORVANTA_HARDWARE_EXPORT KorvantaHardwareInformation {
public:
    // Probes for the EEPROM, picks the backend and reads everything. Reports
    // problems on standard error, never by throwing; only exhausted memory or
    // an exception from inside a backend escapes, and then nothing is left behind.
    KorvantaHardwareInformation();
    ~KorvantaHardwareInformation();
    KorvantaHardwareInformation(const KorvantaHardwareInformation&) = delete;
    KorvantaHardwareInformation& operator=(const KorvantaHardwareInformation&) = delete;

    // Never touch the store. The references point into this object and live
    // as long as it does; a write does not change what they hold.
    const std::string& get_uuid() const;        // robot identifier, or "null"
    const std::string& get_machine_id() const;  // the robot identifier, same string as get_uuid()
    const std::string& get_cpu_serial_number() const;  // from /proc/cpuinfo, or "null"
    const std::string& get_hw_uuid() const;     // hardware identifier, or "null"
    const std::string& get_robot_sn() const;    // robot serial number, or "null"
    // 0..65535, or -1 when the code could not be read. A station board keeps
    // its station version in the robot-version field.
    int get_robot_version() const;
    int get_board_type() const;
    int get_robot_status() const;
    // Keys "uuid", "cpu_serial_number", "serial", matched exactly; any other
    // key gives "null". Takes a temporary.
    const std::string& get_hardware_info(const std::string&& key) const;

    // Straight to the store; the cached values stay as they were read, a new
    // object reads the new ones. True when the store took the value.
    // uuid and serial must be exactly 32 characters: on an EEPROM 32
    // hexadecimal digits in either case, stored as 16 bytes and read back in
    // lowercase (any other character throws std::invalid_argument("stoi") and
    // nothing is written); in a file any 32 characters but a line feed, read
    // back unchanged. Another length, or a line feed in a file, returns false
    // with a message. A null text throws std::logic_error before the store is
    // touched.
    bool WriteUuid(const char* uuid);
    bool WriteSerial(const char* serial);
    // An EEPROM keeps the low 16 bits; a file keeps the decimal number and
    // reads back its low 16 bits.
    bool WriteRobotStatus(unsigned int status);

    // Fills config with the first configured EEPROM whose file exists; false,
    // config untouched, when there is none. Opens nothing.
    static bool GetValidEeprom(EepromConfig_Def& config);

private:
    void ReadHardwareInfo();
    void ReadCpuSerialNumberFromHost();

    bool eeprom_found_ = false;
    std::unique_ptr<HardwareInfo> hardware_info_;
    int32_t robot_status_ = -1;
    int32_t robot_version_ = -1;
    int32_t board_type_ = -1;
    EepromConfig_Def eeprom_config_;
    std::string uuid_ = "null";
    std::string cpu_serial_number_ = "null";
    std::string robot_sn_ = "null";
    const std::string robot_status_text_ = "null";
    const std::string unknown_info_ = "null";
    std::string hw_uuid_ = "null";
};

// ---------------------------------------------------------------------------
// The stores behind an information object. Most callers never need them: the
// object picks and owns one. Tests and tools use them to reach a store directly.
// ---------------------------------------------------------------------------

// Identity-file paths. Each source that includes this header holds its own copy.
const std::string ROBOT_STATUS_CODE_PATH = "/etc/korvanta/robot_status_code";
const std::string ROBOT_VERSION_CODE_PATH = "/etc/korvanta/robot_version_code";
const std::string BOARD_TYPE_CODE_PATH = "/etc/korvanta/board_type_code";
const std::string HW_UUID_PATH = "/etc/korvanta/hw_uuid";
const std::string MACHINE_ID_PATH = "/etc/machine-id";
const std::string ROBOT_ID_PATH = "/etc/korvanta/robot_id";
const std::string ROBOT_SN_PATH = "/etc/korvanta/robot_sn";

// The storage behind an information object: an EEPROM or the identity files.
// Every call goes to the store; nothing is cached. Codes read as 0..65535, or
// -1 when they cannot be read. Texts read as their value or a placeholder
// ("null"). Writers return whether the store took the value.
class KORVANTA_HARDWARE_EXPORT HardwareInfo {
public:
    virtual ~HardwareInfo();
    virtual int GetRobotEnvCode() = 0;
    virtual int GetBoardTypeCode() = 0;
    virtual int GetRobotVersionCode() = 0;
    virtual std::string GetRobotUuid() = 0;
    virtual std::string GetHwUuid() = 0;
    virtual std::string GetRobotSn() = 0;
    virtual bool WriteRobotUuid(const std::string& uuid) = 0;
    virtual bool WriteRobotSn(const std::string& serial) = 0;
    virtual bool WriteRobotEnvCode(uint32_t code) = 0;

protected:
    HardwareInfo() = default;
    HardwareInfo(const HardwareInfo&) = default;
    HardwareInfo& operator=(const HardwareInfo&) = default;
};

class DeviceStreamBuf;

// Identity block of an I2C EEPROM, through its sysfs file. Keeps one unbuffered
// stream open from construction to destruction: every field access is one
// positioning and one transfer of exactly the field's bytes. After a failed
// open or transfer the stream stays failed: texts read "null", codes -1,
// writes return false. Reading needs no write access: where the system refuses
// it, the file is opened for reading only, and each write returns false with
// a message and touches nothing. The descriptor never sits on 0, 1 or 2.
// Identifiers read as 32 lowercase hexadecimal digits. All calls share one
// stream position: one object must not be used by two threads at once.
class KORVANTA_HARDWARE_EXPORT HardwareEeprom : public HardwareInfo {
public:
    static constexpr unsigned int kBlockSize = 54;

    // Never fails: problems are reported on standard error and leave the stream failed.
    explicit HardwareEeprom(const EepromConfig_Def& config);
    ~HardwareEeprom() override;
    HardwareEeprom(const HardwareEeprom&) = delete;
    HardwareEeprom& operator=(const HardwareEeprom&) = delete;

    // True when a status query on the path succeeds; opens nothing.
    static bool IsExist(const char* path);

    int GetRobotEnvCode() override;
    int GetBoardTypeCode() override;
    int GetRobotVersionCode() override;
    std::string GetRobotUuid() override;
    std::string GetHwUuid() override;
    std::string GetRobotSn() override;
    // 32 hexadecimal digits, either case; see writeIdStr.
    bool WriteRobotUuid(const std::string& uuid) override;
    bool WriteRobotSn(const std::string& serial) override;
    // Stores the low 16 bits.
    bool WriteRobotEnvCode(uint32_t code) override;

    // Raw access relative to the identity block; the stream must be good.
    bool ReadEeprom(unsigned char* buffer, unsigned int offset, unsigned int length);
    // Writes, flushes, then reads the bytes back and compares them. Refused
    // without a transfer when the file is open for reading only.
    bool WriteEeprom(const unsigned char* buffer, unsigned int offset, unsigned int length);

    std::string readUuid(unsigned int offset, unsigned int length);
    int readCode(unsigned int offset, unsigned int length);
    // False with a message unless digits has 2 * byte_count characters.
    // Throws std::invalid_argument("stoi") for a pair that is not two hex digits; writes nothing then.
    bool writeIdStr(const std::string& digits, unsigned int offset, unsigned int byte_count);
    bool writeCode(unsigned int value, unsigned int offset, unsigned int length);

private:
    bool withinDevice(unsigned int offset, unsigned int length) const;

    std::string path_;
    uint32_t size_ = 0;
    std::unique_ptr<DeviceStreamBuf> device_;  // owned; the stream below transfers through it
    std::iostream stream_;
    uint32_t base_offset_ = 0;
};

// Identity files under /etc/korvanta/, one item per file, first line only.
// Stateless: each operation opens, reads or replaces, and closes its file, so
// any thread may call it. Reading takes only a regular file (a FIFO, a device
// or a directory reads as a file that cannot be opened) and at most the first
// 64 KiB of its first line: a longer line is cut there, so a code is taken from
// those 65536 characters and an identifier's size message gives its length as
// 65536. Identifiers are 32 characters, any but a line feed, stored and read
// back unchanged.
class KORVANTA_HARDWARE_EXPORT HardwareFile : public HardwareInfo {
public:
    HardwareFile() = default;
    ~HardwareFile() override;

    int GetRobotEnvCode() override;
    int GetBoardTypeCode() override;
    int GetRobotVersionCode() override;
    std::string GetRobotUuid() override;
    std::string GetHwUuid() override;
    std::string GetRobotSn() override;
    // Exactly 32 characters without a line feed; see writeIdStr.
    bool WriteRobotUuid(const std::string& uuid) override;
    bool WriteRobotSn(const std::string& serial) override;
    // Stores the whole number in decimal; reads give its low 16 bits.
    bool WriteRobotEnvCode(uint32_t code) override;

    // -1 when the file cannot be opened, else the low 16 bits of its leading number.
    static int readCodeFromFile(const std::string& path);
    // The first line when it is exactly 2 * byte_count characters long, else "null".
    static std::string readUuidFromFile(const std::string& path, unsigned int byte_count);
    // Replaces the file's content with content and a line feed, synced to disk
    // with its directory; false when that did not happen. The directory is
    // never created. A symbolic link is followed as the kernel would follow it
    // (fs.protected_symlinks): another user's link in a sticky world-writable
    // directory is refused, and nothing is written.
    static bool write_str_to_file(const std::string& content, const std::string& path);
    // False with a message, file untouched, unless id has 2 * byte_count
    // characters and no line feed (only the first line is ever read back).
    static bool writeIdStr(const std::string& id, const std::string& path, unsigned int byte_count);
    static bool writeCode(unsigned int code, const std::string& path);
};

}  // namespace korvanta_hardware

#endif
