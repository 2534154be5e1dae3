#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ios>
#include <memory>
#include <stdexcept>
#include <vector>

#include "device_stream.h"
#include "eeprom_layout.h"
#include "identity_text.h"
#include "korvanta_hardware.h"

namespace korvanta_hardware {
namespace {

// The public header states the block's size for its users; the layout is the one source.
static_assert(HardwareEeprom::kBlockSize == kEepromBlockSize);

constexpr unsigned int kHwUuidOffset = kEepromHwUuid.offset;
constexpr unsigned int kBoardTypeOffset = kEepromBoardType.offset;
constexpr unsigned int kRobotVersionOffset = kEepromRobotVersion.offset;
constexpr unsigned int kRobotSnOffset = kEepromRobotSn.offset;
constexpr unsigned int kRobotUuidOffset = kEepromRobotUuid.offset;
constexpr unsigned int kRobotStatusOffset = kEepromRobotStatus.offset;
constexpr unsigned int kIdentifierBytes = kEepromIdentifierBytes;
constexpr unsigned int kCodeBytes = kEepromCodeBytes;
constexpr unsigned int kMaxCodeBytes = 4;

}  // namespace

HardwareEeprom::HardwareEeprom(const EepromConfig_Def& config)
    : path_(config.path ? config.path : ""),
      size_(config.size),
      device_(std::make_unique<DeviceStreamBuf>()),
      stream_(device_.get()),
      base_offset_(config.base_offset) {
    // Widened, so that a huge base offset cannot wrap around and pass the check.
    if (uint64_t{size_} < uint64_t{base_offset_} + kBlockSize) std::fputs("the size of eeprom is too small\n", stderr);
    if (!device_->open(path_.c_str(), config.writable != 0)) {
        stream_.setstate(std::ios_base::failbit);
        std::fprintf(stderr, "open eeprom failed! writable =  %d", config.writable);
        return;
    }
    stream_.exceptions(std::ios_base::failbit | std::ios_base::badbit);
}

HardwareEeprom::~HardwareEeprom() = default;

bool HardwareEeprom::IsExist(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0;
}

int HardwareEeprom::GetRobotEnvCode() { return readCode(kRobotStatusOffset, kCodeBytes); }

int HardwareEeprom::GetBoardTypeCode() { return readCode(kBoardTypeOffset, kCodeBytes); }

int HardwareEeprom::GetRobotVersionCode() { return readCode(kRobotVersionOffset, kCodeBytes); }

std::string HardwareEeprom::GetRobotUuid() {
    std::string robot_uuid = readUuid(kRobotUuidOffset, kIdentifierBytes);
    std::string hw_uuid = GetHwUuid();
    if (is_usable_identifier(robot_uuid)) return robot_uuid;
    if (is_usable_identifier(hw_uuid)) {
        std::fputs("uuid replaced by hw_uuid\n", stderr);
        return hw_uuid;
    }
    return robot_uuid;
}

std::string HardwareEeprom::GetHwUuid() { return readUuid(kHwUuidOffset, kIdentifierBytes); }

std::string HardwareEeprom::GetRobotSn() { return readUuid(kRobotSnOffset, kIdentifierBytes); }

bool HardwareEeprom::WriteRobotUuid(const std::string& uuid) {
    return writeIdStr(uuid, kRobotUuidOffset, kIdentifierBytes);
}

bool HardwareEeprom::WriteRobotSn(const std::string& serial) {
    return writeIdStr(serial, kRobotSnOffset, kIdentifierBytes);
}

bool HardwareEeprom::WriteRobotEnvCode(uint32_t code) { return writeCode(code, kRobotStatusOffset, kCodeBytes); }

bool HardwareEeprom::withinDevice(unsigned int offset, unsigned int length) const {
    return uint64_t{base_offset_} + offset + length <= size_;
}

bool HardwareEeprom::ReadEeprom(unsigned char* buffer, unsigned int offset, unsigned int length) {
    if (!withinDevice(offset, length)) {
        std::fputs("reading range out of bounds\n", stderr);
        return false;
    }
    try {
        stream_.seekg(std::streamoff{base_offset_} + offset, std::ios_base::beg);
        stream_.read(reinterpret_cast<char*>(buffer), length);
    } catch (const std::ios_base::failure& error) {
        std::fprintf(stderr, "read operation failed: %s", error.what());
        return false;
    }
    return true;
}

bool HardwareEeprom::WriteEeprom(const unsigned char* buffer, unsigned int offset, unsigned int length) {
    if (!withinDevice(offset, length)) {
        std::fputs("writing range out of bounds\n", stderr);
        return false;
    }
    // Write access was refused at the open: say so, and keep the stream good for reading.
    if (device_->read_only()) {
        std::fputs("the eeprom is open for reading only\n", stderr);
        return false;
    }
    try {
        stream_.seekp(std::streamoff{base_offset_} + offset, std::ios_base::beg);
        stream_.write(reinterpret_cast<const char*>(buffer), length);
        stream_.flush();
    } catch (const std::ios_base::failure& error) {
        std::fprintf(stderr, "write operation failed: %s", error.what());
        return false;
    }
    // A write-protected EEPROM acknowledges the transfer and keeps its old bytes.
    std::vector<unsigned char> stored(length);
    if (!ReadEeprom(stored.data(), offset, length)) return false;
    if (length != 0 && std::memcmp(stored.data(), buffer, length) != 0) {
        std::fputs("write verification failed\n", stderr);
        return false;
    }
    return true;
}

std::string HardwareEeprom::readUuid(unsigned int offset, unsigned int length) {
    if (size_ < length || stream_.fail()) return kNoValue;
    std::string text(2 * size_t{length}, '\0');
    if (!ReadEeprom(reinterpret_cast<unsigned char*>(text.data()), offset, length)) return kNoValue;
    expand_to_hex_text(text);
    return text;
}

int HardwareEeprom::readCode(unsigned int offset, unsigned int length) {
    if (stream_.fail() || length > kCodeBytes) return -1;
    unsigned char bytes[kCodeBytes] = {};
    if (!ReadEeprom(bytes, offset, length)) return -1;
    return static_cast<int>(little_endian_value(bytes, length));
}

bool HardwareEeprom::writeIdStr(const std::string& digits, unsigned int offset, unsigned int byte_count) {
    if (digits.size() != 2u * byte_count) {
        std::fprintf(stderr, "uuid string len not match. str_len: %d byte num:%d", static_cast<int>(digits.size()),
                     static_cast<int>(byte_count));
        return false;
    }
    if (stream_.fail()) return false;
    std::vector<unsigned char> bytes = from_hex_text(digits, byte_count);
    return WriteEeprom(bytes.data(), offset, byte_count);
}

bool HardwareEeprom::writeCode(unsigned int value, unsigned int offset, unsigned int length) {
    if (stream_.fail() || length > kMaxCodeBytes) return false;
    unsigned char bytes[kMaxCodeBytes];
    put_little_endian(value, bytes, length);
    return WriteEeprom(bytes, offset, length);
}

}  // namespace korvanta_hardware
