#pragma once

#include <cstddef>
#include <cstdint>

// The raw file calls that the shared text-file rules stand on; each platform
// file supplies them. A handle is -1 where an open failed. The opens are
// never given a name holding "*" or "?".

std::intptr_t osOpenInput(const char* name);
std::intptr_t osOpenOutput(const char* name);

/// Reads up to `size` bytes: the count, 0 at the end of the file, -1 on an error.
long osRead(std::intptr_t handle, unsigned char* buffer, std::size_t size);

/// Writes all the bytes; false if the system refused some of them.
bool osWrite(std::intptr_t handle, const unsigned char* bytes, std::size_t count);

/// Closes; false if the system reports an error (for output: data may be lost).
bool osClose(std::intptr_t handle);

/// The size of the file when it is a regular file (a disk file); -1 otherwise.
std::int64_t osFileSize(std::intptr_t handle);

bool osFileExists(const char* name);
bool osIsSameFile(std::intptr_t handle, const char* name);
