// What the fuzz targets share: a scratch file in memory, a scratch directory
// removed at exit, and a check that stops the run when the library breaks a
// promise (libFuzzer then keeps the input that did it).
#ifndef KORVANTA_FUZZ_SUPPORT_H
#define KORVANTA_FUZZ_SUPPORT_H

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace korvanta_fuzz {

[[noreturn]] inline void broken(const char* promise, const std::string& detail) {
    std::fprintf(stdout, "\nbroken promise: %s\n%s\n", promise, detail.c_str());
    std::fflush(stdout);
    std::abort();
}

inline void check(bool kept, const char* promise, const std::string& detail = "") {
    if (!kept) broken(promise, detail);
}

// A file whose content is replaced for each input, reached through a path.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("korvanta-fuzz", MFD_CLOEXEC)) {
        check(fd_ >= 0, "a memory file can be made");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void replace(const std::string& content) {
        check(::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, content.data(), content.size(), 0) ==
                                                static_cast<ssize_t>(content.size()),
              "the memory file takes the input");
    }
    const std::string& path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

// A private directory on a memory file system where there is one, removed at exit.
inline const std::string& scratch_directory() {
    static const std::string path = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/korvanta-fuzz.XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr, "a scratch directory can be made");
        return pattern;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        });
        return true;
    }();
    (void)cleanup;
    return path;
}

}  // namespace korvanta_fuzz

#endif
