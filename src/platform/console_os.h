#pragma once

#include <cstddef>

// The raw calls that the shared console rules stand on; each platform file
// supplies them.

/// Writes all the bytes to standard output; errors are ignored.
void osWriteConsole(const char* bytes, std::size_t count);

/// Reads up to `size` bytes of standard input: the count, 0 at its end or on an
/// error.
std::size_t osReadConsole(char* buffer, std::size_t size);

/// True if the console shows UTF-8 rather than code page 437.
bool osConsoleUsesUtf8();
