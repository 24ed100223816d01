#pragma once

// Completion of file names for the line editor of a POSIX terminal.

struct editline;

/// The Tab key: completes the name the cursor is at, relative to the current
/// directory, split into words as readWord splits a line. A directory gets
/// its "/", a file a space after it; a name with white space goes in double
/// quotes. Where several names fit, what they have in common is filled in,
/// and once nothing more can be, they are listed. Returns what the editor is
/// to do next (one of its CC_ codes).
unsigned char completeName(editline* editor, int key);
