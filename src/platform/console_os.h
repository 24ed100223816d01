#pragma once

#include <cstddef>

// The raw calls that the shared console rules stand on; each platform file
// supplies them.

/// Writes all the bytes to standard output; errors are ignored.
void osWriteConsole(const char* bytes, std::size_t count);

/// Reads up to `size` bytes of standard input: the count, 0 at its end or on an
/// error.
std::size_t osReadConsole(char* buffer, std::size_t size);

/// True if standard input is the terminal or console keyboard.
bool osAnswersAreTyped();

/// Drops what was typed at the terminal and not yet handed out.
void osForgetTypedInput();

/// How the console shows the box characters.
enum class BoxStyle {
    codePage437,  ///< as their code-page-437 bytes
    utf8,         ///< as UTF-8
    ascii,        ///< neither: drawn with "+", "=" and "|"
};
/// Chooses how the box is drawn, and makes the console ready to show it: on
/// a Windows console of another code page that means switching it to code
/// page 437 for the run (it gets its own back when the program ends).
BoxStyle osPrepareBoxStyle();

/// The width of the terminal on standard output; 0 where it is not one.
std::size_t osTerminalWidth();

/// Erases the cursor's line, the first `width` columns at least, and puts the
/// cursor at its start.
void osEraseLine(std::size_t width);
