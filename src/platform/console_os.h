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

/// The width of the terminal on standard output; 0 where it is not one.
std::size_t osTerminalWidth();

/// Erases the cursor's line, the first `width` columns at least, and puts the
/// cursor at its start.
void osEraseLine(std::size_t width);
