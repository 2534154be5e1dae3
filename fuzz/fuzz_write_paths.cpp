// Arbitrary texts and codes through the writers of both backends, on scratch
// files. A write either stores exactly the value and reports true, or stores
// nothing at all: the file, or every byte of the EEPROM image, stays as it was.
// The input is a 4-byte code followed by the text.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "korvanta_hardware.h"

using korvanta_fuzz::check;
using korvanta_hardware::EepromConfig_Def;
using korvanta_hardware::HardwareEeprom;
using korvanta_hardware::HardwareFile;

namespace {

const std::string kOldId = "0123456789abcdef0123456789abcdef";
constexpr size_t kEepromSize = 256;

std::string path_in_scratch(const char* name) { return korvanta_fuzz::scratch_directory() + "/" + name; }

std::string content_of(const std::string& path) {
    std::string content;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "(missing)";
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) content.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return content;
}

void put(const std::string& path, const std::string& content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0 && ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()),
          "the scratch file can be written");
    ::close(fd);
}

std::set<std::string> scratch_entries() {
    std::set<std::string> names;
    DIR* dir = ::opendir(korvanta_fuzz::scratch_directory().c_str());
    check(dir != nullptr, "the scratch directory can be opened");
    errno = 0;
    while (struct dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.insert(entry->d_name);
    check(errno == 0, "the scratch directory can be read to its end");
    ::closedir(dir);
    return names;
}

bool is_hex(const std::string& text) { return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos; }

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void check_file_backend(const std::string& text, uint32_t code) {
    const std::string id_path = path_in_scratch("robot_id");
    put(id_path, kOldId + "\n");
    const bool storable = text.size() == 32 && text.find('\n') == std::string::npos;
    bool written = HardwareFile::writeIdStr(text, id_path, 16);
    check(written == storable, "an identifier is stored when it has 32 characters and no line feed", text);
    check(content_of(id_path) == (storable ? text : kOldId) + "\n", "the file holds the new identifier or the old one");
    if (storable) check(HardwareFile::readUuidFromFile(id_path, 16) == text, "a stored identifier reads back unchanged");

    const std::string text_path = path_in_scratch("text");
    check(HardwareFile::write_str_to_file(text, text_path), "any text is written");
    check(content_of(text_path) == text + "\n", "the file holds the text and one line feed");

    const std::string code_path = path_in_scratch("robot_status_code");
    check(HardwareFile::writeCode(code, code_path), "a code is written");
    check(content_of(code_path) == std::to_string(code) + "\n\n", "the file holds the digits and two line feeds");
    check(HardwareFile::readCodeFromFile(code_path) == static_cast<int>(code & 0xFFFF), "the code reads back");

    check(scratch_entries() == std::set<std::string>{"eeprom", "robot_id", "robot_status_code", "text"},
          "no temporary file is left behind");
}

std::vector<uint8_t> eeprom_bytes(const std::string& path) {
    std::string content = content_of(path);
    return std::vector<uint8_t>(content.begin(), content.end());
}

// One identifier write into a fresh erased image; returns what the image must hold afterwards.
void check_eeprom_identifier(const std::string& path, const std::string& text, bool serial) {
    put(path, std::string(kEepromSize, '\xFF'));
    std::vector<uint8_t> expected = eeprom_bytes(path);
    const size_t offset = serial ? 20 : 36;
    HardwareEeprom eeprom(EepromConfig_Def{path.c_str(), kEepromSize, 0, 1});
    bool written = false, threw = false;
    try {
        written = serial ? eeprom.WriteRobotSn(text) : eeprom.WriteRobotUuid(text);
    } catch (const std::invalid_argument& error) {
        threw = true;
        check(std::strcmp(error.what(), "stoi") == 0, "a malformed pair throws \"stoi\"");
    }
    if (text.size() != 32) {
        check(!written && !threw, "a text of the wrong length is refused", text);
    } else if (!is_hex(text)) {
        check(threw, "a 32-character text that is not hexadecimal throws", text);
    } else {
        check(written, "32 hexadecimal digits are stored", text);
        for (size_t i = 0; i < 16; ++i)
            expected[offset + i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
        std::string back = serial ? eeprom.GetRobotSn() : eeprom.readUuid(36, 16);
        check(back == lower(text), "the identifier reads back in lower case", text);
    }
    check(eeprom_bytes(path) == expected, "exactly the field's bytes change, and only on success", text);
}

void check_eeprom_code(const std::string& path, uint32_t code) {
    put(path, std::string(kEepromSize, '\xFF'));
    std::vector<uint8_t> expected = eeprom_bytes(path);
    HardwareEeprom eeprom(EepromConfig_Def{path.c_str(), kEepromSize, 0, 1});
    check(eeprom.WriteRobotEnvCode(code), "a status code is stored");
    expected[52] = static_cast<uint8_t>(code);
    expected[53] = static_cast<uint8_t>(code >> 8);
    check(eeprom_bytes(path) == expected, "the code's low 16 bits are stored little-endian, nothing else");
    check(eeprom.GetRobotEnvCode() == static_cast<int>(code & 0xFFFF), "the code reads back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t code = 0;
    std::memcpy(&code, data, size < sizeof code ? size : sizeof code);
    const std::string text = size > sizeof code ? std::string(reinterpret_cast<const char*>(data) + sizeof code, size - sizeof code)
                                                : std::string();
    const std::string eeprom_path = path_in_scratch("eeprom");
    check_eeprom_identifier(eeprom_path, text, false);
    check_eeprom_identifier(eeprom_path, text, true);
    check_eeprom_code(eeprom_path, code);
    check_file_backend(text, code);
    return 0;
}
