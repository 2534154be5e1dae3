#include "korvanta_sim_sandbox.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace korvanta_sim {
namespace {

namespace fs = std::filesystem;

constexpr char kSandboxName[] = "korvanta-sandbox";

bool executable(const fs::path& path) { return ::access(path.c_str(), X_OK) == 0; }

}  // namespace

std::string own_path() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).string();
}

std::string find_sandbox() {
    fs::path dir = fs::path(own_path()).parent_path();
    for (const fs::path& candidate : {dir / KORVANTA_SIM_SANDBOX_FROM_BINDIR, dir / kSandboxName}) {
        if (executable(candidate)) return candidate.lexically_normal().string();
    }
    return "";
}

void exec_sandbox(const std::string& sandbox, const std::vector<std::string>& argv, std::string& error) {
    std::vector<char*> words{const_cast<char*>(sandbox.c_str()), const_cast<char*>("--")};
    for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    ::execv(sandbox.c_str(), words.data());
    error = "cannot run " + sandbox + ": " + std::strerror(errno);
}

}  // namespace korvanta_sim
