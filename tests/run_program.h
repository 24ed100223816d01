#pragma once

#include <functional>
#include <string>

// Runs the built program (ZORVEN_PROGRAM, set by the build) as a user would,
// with its answers piped in.

struct RunResult {
    std::string console;  // everything written to standard output
    int status = -1;      // the exit status, or -1 if it did not exit normally
    int signal = 0;       // the signal that ended it, or 0
};

/// Runs the built program in `directory` with `answers` on standard input, no
/// controlling terminal and no locale (so the box is drawn in ASCII).
/// `prepare`, if given, runs in the child just before the program starts (to
/// set a limit, say).
RunResult runProgram(const std::string& directory, const std::string& answers,
                     const std::function<void()>& prepare = {});

/// Runs a command with sh and returns what it wrote to standard output.
std::string shell(const std::string& command);
