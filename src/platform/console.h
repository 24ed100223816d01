#pragma once

#include <cstddef>

// The console: text out on standard output, answers in from standard input,
// and the keyboard itself for the last key of a run.

/// Clears the console and puts the cursor at its top-left corner; does
/// nothing where there is nothing to clear.
void clearScreen();

/// Writes the text (up to its terminator) or the one character at once, every
/// LF as CR LF. Output errors are not looked at.
void writeText(const char* text);
void writeText(char c);

/// Writes a line end (CR LF) at once.
void endLine();

/// The width in columns of the terminal that standard output shows on; 0
/// where standard output is not a terminal (a file, a pipe).
std::size_t terminalWidth();

/// Draws a line of progress from the start of the cursor's line, over the
/// one drawn before; the cursor stays on that line. For a terminal only.
void drawProgressLine(const char* text);

/// Erases the progress line and leaves the cursor at the start of that line,
/// now empty; nothing where none is drawn.
void eraseProgressLine();

/// The six double-line box characters, named by their code-page-437 bytes.
enum class BoxChar : unsigned char {
    topLeft = 201,
    horizontal = 205,
    topRight = 187,
    vertical = 186,
    bottomLeft = 200,
    bottomRight = 188,
};

/// Writes the box character `count` times at once, as the console shows it:
/// code-page-437 bytes on the Windows console; elsewhere UTF-8 where the
/// locale names it, else ASCII ("+" corners, "=" edges, "|" sides).
void writeBoxChar(BoxChar c, std::size_t count = 1);

/// What `readWord` got.
enum class WordResult {
    noWord,    ///< the input has ended; the buffer is as it was
    gotWord,   ///< the whole word is in the buffer
    wordTooLong,  ///< its first size - 1 bytes are in the buffer, the rest was dropped
};

/// Skips white space (bytes 9 to 13 and 32) across any number of lines, then
/// reads one word and stores it with a zero byte after it. The byte that ended
/// the word stays unread. A word that begins with a double quote runs to the
/// next double quote, or to the end of its line if there is none, and is
/// stored without its quotes: "My Data.txt" names a file with a space. CR
/// bytes are dropped; a byte 26 or the end of standard input ends the input
/// for the rest of the run. `size` is at least 1.
WordResult readWord(char* buffer, std::size_t size);

/// When the answers are typed at a terminal, forgets the rest of the line
/// typed last and whatever was typed ahead, so that only a line typed after
/// this answers the next question. Answers from a pipe or a file are kept.
void forgetTypedAnswers();

/// Forgets the answers buffered so far and that they ended, so the next
/// `readWord` reads standard input afresh. A run never needs it: it lets a
/// fuzzer run the whole dialogue many times in one process.
void restartAnswers();

/// Waits for one key press at the keyboard, also when standard input is
/// redirected, without echo; returns at once where there is no keyboard or
/// where standard output is not the console, which would not show its prompt.
void waitForKey();
