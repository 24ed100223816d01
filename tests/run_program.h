#pragma once

#include <functional>
#include <string>

// Runs the built program (ZORVEN_PROGRAM, set by the build) as a user would,
// with its answers piped in.

struct RunResult {
    std::string console;  // everything written to standard output
    int status = -1;      // the exit status, or -1 if it did not exit normally
};

/// Runs the built program in `directory` with `answers` on standard input, no
/// controlling terminal and no locale (so the box is drawn in code page 437).
/// `prepare`, if given, runs in the child just before the program starts (to
/// set a limit, say).
RunResult runProgram(const std::string& directory, const std::string& answers,
                     const std::function<void()>& prepare = {});
