// What makes a file the file it is, apart from its content: owner, group,
// extended attributes (ACL and security labels among them), inode flags and mode.
#ifndef KORVANTA_HARDWARE_FILE_IDENTITY_H
#define KORVANTA_HARDWARE_FILE_IDENTITY_H

#include <sys/stat.h>

namespace korvanta_hardware {

// Gives the file open at to everything of the file open at from (whose status
// is old) but its content. False when any part cannot be given or would come
// out different: the caller must then keep the old file and rewrite it.
bool take_over_identity(int from, const struct stat& old, int to);

// Gives fd the mode of old again: a write by a process without CAP_FSETID
// clears the set-user-id and set-group-id bits. False when it cannot.
bool keep_mode(int fd, const struct stat& old);

}  // namespace korvanta_hardware

#endif
