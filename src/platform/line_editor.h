#pragma once

#include <cstddef>

// Lines typed by a person at a terminal, with editing keys, recall of the
// earlier lines of the run and completion of file names. Used by the POSIX
// console only, where standard input and output are both terminals.

/// True when standard input and output are both terminals, TERM names one
/// that is not "dumb", and the editor could be set up; decided once.
bool lineEditorInUse();

/// Up to `size` bytes of the line typed, its LF included; a longer line is
/// handed out over several calls. 0 at Ctrl+D on an empty line or when the
/// terminal cannot be read.
std::size_t readEditedLine(char* buffer, std::size_t size);

/// Forgets what is left of the line typed last.
void dropEditedLine();

/// Notes what goes out to the console, so that the editor knows the text
/// that stands before the cursor on its line: the prompt.
void noteConsoleOutput(const char* bytes, std::size_t count);
