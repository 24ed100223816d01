#pragma once

// All the tests' helpers at once; a test may include only the part it uses.
#include "expected_screen.h"  // what the console shows
#include "run_program.h"      // the built program run with piped answers
#include "temp_files.h"       // temporary directories, whole files
