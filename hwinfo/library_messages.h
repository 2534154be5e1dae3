// The library prints its messages straight to stderr, and several end without
// a line feed. Left alone they would run into the next message or the shell's
// prompt, so calls into the library go through here.
#ifndef KORVANTA_HWINFO_LIBRARY_MESSAGES_H
#define KORVANTA_HWINFO_LIBRARY_MESSAGES_H

#include <functional>

namespace hwinfo {

// Runs call with stderr collected, then passes what it printed on to stderr
// unchanged, adding a line feed when the last message lacks one.
void with_library_messages(const std::function<void()>& call);

}  // namespace hwinfo

#endif
