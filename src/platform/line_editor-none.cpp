// No line editor: for a build without the library (the ARM64 test build).
// A line typed at a terminal is then read as the terminal's own line mode
// gives it, like answers from a pipe.

#include "platform/line_editor.h"

bool lineEditorInUse() { return false; }

std::size_t readEditedLine(char*, std::size_t) { return 0; }

void dropEditedLine() {}

void noteConsoleOutput(const char*, std::size_t) {}
