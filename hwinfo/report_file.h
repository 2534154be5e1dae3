// A report written to a file that another program may read at any moment
// (node_exporter's textfile collector): the reader sees the old report or the
// new one, never part of one.
#ifndef KORVANTA_HWINFO_REPORT_FILE_H
#define KORVANTA_HWINFO_REPORT_FILE_H

#include <string>

namespace hwinfo {

// Replaces path with text through a temporary file beside it and a rename;
// returns the exit status and says on stderr why when path was not replaced.
int write_report_file(const std::string& path, const std::string& text);

}  // namespace hwinfo

#endif
