// Interrupts on Windows: Ctrl+C, Ctrl+Break and the closing of the console,
// held by a console control handler, which Windows runs on a thread of its own.

#include <windows.h>

#include "platform/interrupts.h"

namespace {

bool holding = false;
volatile LONG heldEvent = 0;  // 1 + the first control event that came, 0 for none

BOOL WINAPI holdControlEvent(DWORD event) {
    InterlockedCompareExchange(&heldEvent, static_cast<LONG>(event) + 1, 0);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;  // the copy stops at its next piece
    // The console is closing, or the session ending: the system ends the
    // process when this returns, or a few seconds later whatever it does.
    // Until then the copy can stop between pieces and close the output, and
    // `releaseInterrupts` ends the process.
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void holdInterrupts() {
    heldEvent = 0;
    holding = SetConsoleCtrlHandler(holdControlEvent, TRUE) != 0;  // else the requests act as before
}

bool interrupted() { return heldEvent != 0; }

void releaseInterrupts() {
    if (!holding) return;
    holding = false;
    (void)SetConsoleCtrlHandler(holdControlEvent, FALSE);  // ending the hold: no better fallback
    // The status Windows gives a process that Ctrl+C ends by default.
    if (InterlockedExchange(&heldEvent, 0) != 0) ExitProcess(STATUS_CONTROL_C_EXIT);
}
