#pragma once

// What the process needs before the run begins.

/// Makes the process safe for a run; called first, before any file is opened.
/// A write to a closed pipe or past a file-size limit then fails like any
/// other write, which the callers report, instead of ending the program half
/// way; and a standard stream that the program was started without is held
/// by a null device, so that no file opened later takes its place.
void prepareProcess();
