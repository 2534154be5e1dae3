#include "simulated_unit.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "identity_limits.h"
#include "text_file.h"

namespace korvanta_sim {
namespace {

namespace fs = std::filesystem;
using korvanta_hardware::kIdentifierLength;
using korvanta_hardware::starts_with;

constexpr char kMarkerPath[] = "/etc/.korvanta-sandbox";
constexpr char kEepromDir[] = "/sys/bus/i2c/devices/5-0050";
constexpr unsigned int kHwUuidOffset = 0;
constexpr unsigned int kBoardTypeOffset = 16;
constexpr unsigned int kVersionOffset = 18;
constexpr unsigned int kSerialOffset = 20;
constexpr unsigned int kRobotUuidOffset = 36;
constexpr unsigned int kStatusOffset = 52;

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

struct Mount {
    std::string point;
    std::string type;
};

// Mounts of this namespace in the order they were made.
std::vector<Mount> mounts() {
    std::vector<Mount> result;
    std::ifstream mountinfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountinfo, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, word;
        fields >> id >> parent >> device >> root >> point;
        while (fields >> word && word != "-") {
        }
        std::string type;
        fields >> type;
        result.push_back({point, type});
    }
    return result;
}

// Mounts made after the sandbox's own three: the faults a test put in place.
void undo_fault_mounts() {
    std::vector<Mount> all = mounts();
    size_t first = all.size();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].point == kCpuinfoPath) first = i + 1;
    for (size_t i = all.size(); i-- > first;) {
        const std::string& point = all[i].point;
        if (starts_with(point, "/etc/") || starts_with(point, "/sys/bus/")) ::umount2(point.c_str(), MNT_DETACH);
    }
}

void write_whole_file(const std::string& path, const void* data, size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot open", path);
    if (!korvanta_hardware::write_all(fd, std::string_view(static_cast<const char*>(data), size))) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        fail("cannot write", path);
    }
    if (::close(fd) != 0) fail("cannot close", path);
}

// Files of the host's /etc may belong to someone else inside a user
// namespace; removing them first lets the overlay hold our own copy.
void replace_file(const std::string& path, const std::string& content) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
    write_whole_file(path, content.data(), content.size());
}

std::vector<uint8_t> hex_bytes(const std::string& hex) {
    if (hex.size() != kIdentifierLength) throw std::invalid_argument("EepromImage: an identifier needs 32 hex digits: " + hex);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> little_endian(uint16_t code) {
    return {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
}

}  // namespace

bool in_sandbox() {
    const char* scratch = std::getenv("KORVANTA_SANDBOX");
    if (scratch == nullptr || *scratch == '\0') return false;
    std::optional<std::string> marker = read_file(kMarkerPath);
    if (!marker || *marker != std::string(scratch) + "\n") return false;
    bool etc_overlay = false, sys_bus_tmpfs = false, private_cpuinfo = false;
    for (const Mount& mount : mounts()) {
        if (mount.point == "/etc") etc_overlay = mount.type == "overlay";
        if (mount.point == "/sys/bus") sys_bus_tmpfs = mount.type == "tmpfs";
        if (mount.point == kCpuinfoPath) private_cpuinfo = true;
    }
    return etc_overlay && sys_bus_tmpfs && private_cpuinfo;
}

void require_sandbox() {
    if (in_sandbox()) return;
    std::fputs(
        "\n*** REFUSING TO RUN ***\n"
        "This program writes a robot unit's identity at the real paths (/etc/korvanta, /etc/machine-id,\n"
        "/sys/bus/i2c/devices/5-0050/eeprom, /proc/cpuinfo) and may only run inside the simulated-unit\n"
        "sandbox. Run it as: sim/korvanta-sandbox PROGRAM [ARGS...]  (or through ctest).\n\n",
        stderr);
    std::exit(1);
}

void reset_unit() {
    require_sandbox();
    undo_fault_mounts();
    std::error_code ignored;
    fs::remove_all(kIdentityDir, ignored);
    fs::remove_all(kMachineIdPath, ignored);
    for (const fs::directory_entry& entry : fs::directory_iterator("/sys/bus")) fs::remove_all(entry.path(), ignored);
    write_cpuinfo("");
}

void write_identity_file(const std::string& name, const std::string& content) {
    require_sandbox();
    fs::create_directories(kIdentityDir);
    replace_file(std::string(kIdentityDir) + "/" + name, content);
}

void write_machine_id(const std::string& content) {
    require_sandbox();
    replace_file(kMachineIdPath, content);
}

void write_cpuinfo(const std::string& content) {
    require_sandbox();
    // Bound over /proc/cpuinfo, so it is rewritten in place, never replaced.
    write_whole_file(kCpuinfoPath, content.data(), content.size());
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

IdentityFiles& IdentityFiles::add(const std::string& name, const std::string& text) {
    files_.emplace_back(std::string(kIdentityDir) + "/" + name, text + "\n");
    return *this;
}

IdentityFiles& IdentityFiles::machine_id(const std::string& text) {
    files_.emplace_back(kMachineIdPath, text + "\n");
    return *this;
}

void IdentityFiles::install() const {
    require_sandbox();
    fs::create_directories(kIdentityDir);
    for (const auto& [path, content] : files_) replace_file(path, content);
}

EepromImage::EepromImage(size_t size, uint8_t fill, unsigned int base_offset)
    : bytes_(size, fill), base_offset_(base_offset) {}

EepromImage EepromImage::from_bytes(std::vector<uint8_t> bytes) {
    EepromImage image(0);
    image.bytes_ = std::move(bytes);
    return image;
}

EepromImage& EepromImage::hw_uuid(const std::string& hex) { return bytes_at(base_offset_ + kHwUuidOffset, hex_bytes(hex)); }

EepromImage& EepromImage::serial(const std::string& hex) { return bytes_at(base_offset_ + kSerialOffset, hex_bytes(hex)); }

EepromImage& EepromImage::robot_uuid(const std::string& hex) {
    return bytes_at(base_offset_ + kRobotUuidOffset, hex_bytes(hex));
}

EepromImage& EepromImage::board_type(uint16_t code) { return bytes_at(base_offset_ + kBoardTypeOffset, little_endian(code)); }

EepromImage& EepromImage::version(uint16_t code) { return bytes_at(base_offset_ + kVersionOffset, little_endian(code)); }

EepromImage& EepromImage::status(uint16_t code) { return bytes_at(base_offset_ + kStatusOffset, little_endian(code)); }

EepromImage& EepromImage::bytes_at(size_t offset, const std::vector<uint8_t>& bytes) {
    if (offset + bytes.size() > bytes_.size()) bytes_.resize(offset + bytes.size(), 0xFF);
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return *this;
}

EepromImage& EepromImage::truncate(size_t size) {
    bytes_.resize(std::min(size, bytes_.size()));
    return *this;
}

void EepromImage::install() const {
    require_sandbox();
    fs::create_directories(kEepromDir);
    std::error_code ignored;
    fs::remove_all(kEepromPath, ignored);
    write_whole_file(kEepromPath, bytes_.data(), bytes_.size());
}

std::vector<uint8_t> read_eeprom() {
    std::optional<std::string> content = read_file(kEepromPath);
    if (!content) return {};
    return std::vector<uint8_t>(content->begin(), content->end());
}

void make_read_only(const std::string& directory) {
    require_sandbox();
    fs::create_directories(directory);
    if (::mount(directory.c_str(), directory.c_str(), nullptr, MS_BIND, nullptr) != 0) fail("cannot bind", directory);
    if (::mount(nullptr, directory.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        fail("cannot remount read-only", directory);
}

void make_full(const std::string& directory) {
    require_sandbox();
    fs::create_directories(directory);
    std::vector<std::pair<std::string, std::string>> kept;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        if (entry.is_regular_file()) kept.emplace_back(entry.path().filename(), read_file(entry.path()).value_or(""));
    if (::mount("korvanta-full", directory.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
        fail("cannot mount a tmpfs on", directory);
    for (const auto& [name, content] : kept) write_whole_file(directory + "/" + name, content.data(), content.size());
    // Fill every remaining block; new files can still be made, but not written.
    std::string filler_path = directory + "/.filler";
    int fd = ::open(filler_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail("cannot open", filler_path);
    char block[4096] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    while (::write(fd, block, 1) > 0) {
    }
    ::close(fd);
}

void put_directory_at(const std::string& path) {
    require_sandbox();
    std::error_code ignored;
    fs::remove_all(path, ignored);
    fs::create_directories(path);
}

void bind_from_elsewhere(const std::string& path) {
    require_sandbox();
    const std::string elsewhere = "/etc/.korvanta-elsewhere";
    fs::create_directories(elsewhere);
    if (::mount("korvanta-elsewhere", elsewhere.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
        fail("cannot mount a tmpfs on", elsewhere);
    const std::string source = elsewhere + "/" + fs::path(path).filename().string();
    const std::string content = read_file(path).value_or("");
    write_whole_file(source, content.data(), content.size());
    write_whole_file(path, content.data(), content.size());
    if (::mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) fail("cannot bind a file over", path);
}

}  // namespace korvanta_sim
