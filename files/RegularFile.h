#pragma once

#include <sys/types.h>

// Opens path as open(2) does with flags and mode, and keeps it only when it is
// a regular file: anything else in its place (a named pipe, a socket, a
// device, a directory) gives -1, as a file that cannot be opened does. The open
// never waits (a named pipe would hold it until the other end came) and never
// makes a terminal the program's; the descriptor then blocks unless flags ask
// for O_NONBLOCK.
int OpenRegularFile(const char* path, int flags, mode_t mode = 0);
