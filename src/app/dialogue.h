#pragma once

/// The whole run: asks for the input file, the option, its parameter and the
/// output name at the console and converts; stops early where the input is
/// missing, an overwrite is refused, the output cannot be opened or the
/// answers end. Returns the exit status, always 0; an interrupt during the
/// copy ends the program instead, once the output is closed and said to be
/// cut short.
int runDialogue();

/// Rewrites a name in place, up to its terminator: "A" to "Z" become "a" to
/// "z"; every other byte stays as it is.
void lowerCaseName(char* name);
