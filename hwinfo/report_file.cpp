#include "report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "atomic_file.h"
#include "exit_status.h"

namespace hwinfo {

// The library's own replacement: the same care for the mode, owner and links of
// an existing file, and the same in-place fallback where no temporary file can
// be made (a file bind-mounted into a container). Its temporary name starts with
// a dot and does not end in ".prom", so the collector never reads it.
int write_report_file(const std::string& path, const std::string& text) {
    errno = 0;
    if (korvanta_hardware::replace_file(path, text) == korvanta_hardware::ReplaceResult::kReplaced) return kExitOk;
    const int error = errno;
    std::fprintf(stderr, "korvanta-hwinfo: cannot write %s%s%s\n", path.c_str(), error ? ": " : "",
                 error ? std::strerror(error) : "");
    return kExitFailed;
}

}  // namespace hwinfo
