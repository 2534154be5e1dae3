#include <cstdio>
#include <cstdlib>

#include "atomic_file.h"
#include "identity_text.h"
#include "korvanta_hardware.h"
#include "text_file.h"

namespace korvanta_hardware {
namespace {

constexpr unsigned int kIdentifierBytes = 16;

}  // namespace

HardwareFile::~HardwareFile() = default;

int HardwareFile::GetRobotEnvCode() { return readCodeFromFile(ROBOT_STATUS_CODE_PATH); }

int HardwareFile::GetBoardTypeCode() { return readCodeFromFile(BOARD_TYPE_CODE_PATH); }

int HardwareFile::GetRobotVersionCode() { return readCodeFromFile(ROBOT_VERSION_CODE_PATH); }

std::string HardwareFile::GetRobotUuid() {
    std::string robot_id = readUuidFromFile(ROBOT_ID_PATH, kIdentifierBytes);
    if (is_usable_identifier(robot_id)) return robot_id;
    std::fputs("Empty robot_uuid\n", stderr);
    std::string machine_id = readUuidFromFile(MACHINE_ID_PATH, kIdentifierBytes);
    if (is_usable_identifier(machine_id)) {
        std::fputs("uuid replaced by hw_uuid\n", stderr);
        return machine_id;
    }
    return robot_id;
}

std::string HardwareFile::GetHwUuid() { return readUuidFromFile(HW_UUID_PATH, kIdentifierBytes); }

std::string HardwareFile::GetRobotSn() { return readUuidFromFile(ROBOT_SN_PATH, kIdentifierBytes); }

bool HardwareFile::WriteRobotUuid(const std::string& uuid) { return writeIdStr(uuid, ROBOT_ID_PATH, kIdentifierBytes); }

bool HardwareFile::WriteRobotSn(const std::string& serial) {
    return writeIdStr(serial, ROBOT_SN_PATH, kIdentifierBytes);
}

bool HardwareFile::WriteRobotEnvCode(uint32_t code) { return writeCode(code, ROBOT_STATUS_CODE_PATH); }

int HardwareFile::readCodeFromFile(const std::string& path) {
    std::string line;
    if (!read_first_line(path, line)) return -1;
    // Saturates at the 64-bit limits on every architecture (long is 32 bits on
    // some); only the low 16 bits count.
    long long number = std::strtoll(line.c_str(), nullptr, 10);
    return static_cast<int>(static_cast<unsigned long long>(number) & 0xFFFFu);
}

std::string HardwareFile::readUuidFromFile(const std::string& path, unsigned int byte_count) {
    std::string line;
    if (!read_first_line(path, line)) return kNoValue;
    if (line.size() == 2u * byte_count) return line;
    std::fprintf(stderr, "file:%s ID string size err. str_size:%d size:%d", path.c_str(), static_cast<int>(line.size()),
                 static_cast<int>(byte_count));
    return kNoValue;
}

bool HardwareFile::write_str_to_file(const std::string& content, const std::string& path) {
    switch (replace_file(path, content + "\n")) {
        case ReplaceResult::kReplaced:
            return true;
        case ReplaceResult::kOpenFailed:
            std::fputs("Failed to open the file.\n", stderr);
            return false;
        case ReplaceResult::kLinkRefused:
            std::fprintf(stderr, "Failed to open the file: %s is behind %s.\n", path.c_str(), kRefusedLink);
            return false;
        case ReplaceResult::kWriteFailed:
            break;
    }
    std::fputs("Failed to write the file.\n", stderr);
    return false;
}

bool HardwareFile::writeIdStr(const std::string& id, const std::string& path, unsigned int byte_count) {
    if (id.size() != 2u * byte_count) {
        std::fprintf(stderr, "uuid string len not match. str_len: %d byte num:%d", static_cast<int>(id.size()),
                     static_cast<int>(byte_count));
        return false;
    }
    // Only the first line is ever read back, so such an identifier would be lost.
    if (id.find('\n') != std::string::npos) {
        std::fputs("uuid string contains a line feed\n", stderr);
        return false;
    }
    return write_str_to_file(id, path);
}

bool HardwareFile::writeCode(unsigned int code, const std::string& path) {
    // The second line feed comes from write_str_to_file; readers ignore the empty line.
    return write_str_to_file(std::to_string(code) + "\n", path);
}

}  // namespace korvanta_hardware
