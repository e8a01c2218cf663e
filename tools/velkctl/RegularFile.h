#ifndef VELK_VELKCTL_REGULARFILE_H
#define VELK_VELKCTL_REGULARFILE_H

#include <cstdint>
#include <cstdio>
#include <string>

// Opens a file for reading only if it is a regular file, so that a folder,
// a FIFO or a device named where a file belongs is refused at once instead
// of blocking or being read for ever. On success the file (close it with
// fclose) and its size; else null, with the reason ("is a directory", "not a
// regular file"), or none when the system could not open it (see errno).
std::FILE* openRegularFile(const std::string& path, std::uint64_t& size, std::string& reason);

#endif
