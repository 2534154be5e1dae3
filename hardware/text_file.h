// Reading small text files through plain descriptors (O_CLOEXEC, no stdio).
#ifndef KORVANTA_HARDWARE_TEXT_FILE_H
#define KORVANTA_HARDWARE_TEXT_FILE_H

#include <sys/types.h>

#include <functional>
#include <string>

namespace korvanta_hardware {

// Reads the characters before the first line feed, or the whole file when it
// has none. False when the file cannot be opened or read (a directory, an I/O
// error); line is then untouched.
bool read_first_line(const std::string& path, std::string& line);

// Calls on_line for each line, without its line feed; a last line without one
// counts too. A read error ends the scan quietly. False when the file cannot be opened.
bool for_each_line(const std::string& path, const std::function<void(const std::string&)>& on_line);

// Writes all of data, retrying short writes and interrupted calls.
bool write_all(int fd, const std::string& data);
// The same at offset, leaving the file position alone.
bool write_all_at(int fd, const std::string& data, off_t offset);

}  // namespace korvanta_hardware

#endif
