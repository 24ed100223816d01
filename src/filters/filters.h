#pragma once

#include "platform/text_file.h"

// The six conversions. Each reads the open input to its end and writes the
// converted text to the open output; errors are left in the files' flags.

/// Option 1: each run of SP and TAB that follows a field becomes one comma.
void filterSpcTabToComma(TextFile& input, TextFile& output);

/// Option 2: each comma becomes one SP.
void filterCommaToSpace(TextFile& input, TextFile& output);

/// Option 3: each comma becomes `tabSeparator` (one to three TABs).
void filterCommaToTab(TextFile& input, TextFile& output, const char* tabSeparator);

/// Option 4: each SP becomes `tabSeparator` (one to three TABs).
void filterSpaceToTab(TextFile& input, TextFile& output, const char* tabSeparator);

/// Option 5: each run of SP and TAB that follows a field becomes one LF.
void filterSpcTabToNewline(TextFile& input, TextFile& output);

/// Option 6: drops empty lines and writes `lineSpaces` (0 to 4) blank lines
/// after every other line. Every byte of a line is kept, NUL included, and a
/// line of any length is written whole.
void filterLineSpacing(TextFile& input, TextFile& output, int lineSpaces);
