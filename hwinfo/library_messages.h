// The library prints its messages straight to stderr, and several end without
// a line feed. Left alone they would run into each other and into the shell's
// prompt, so calls into the library go through here.
#ifndef KORVANTA_HWINFO_LIBRARY_MESSAGES_H
#define KORVANTA_HWINFO_LIBRARY_MESSAGES_H

#include <functional>
#include <string>
#include <vector>

namespace hwinfo {

// Runs call with stderr collected, then passes each message it printed on to
// stderr unchanged, adding a line feed to those that lack one. Returns the
// messages as printed, one entry each: what the library tells of its reading.
std::vector<std::string> with_library_messages(const std::function<void()>& call);

}  // namespace hwinfo

#endif
