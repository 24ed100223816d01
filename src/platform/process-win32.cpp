// The process on Windows: nothing to prepare. A closed pipe or a full disk
// makes WriteFile fail, which the callers report, and a file opened later
// never takes the place of a missing standard handle.

#include "platform/process.h"

void prepareProcess() {}
