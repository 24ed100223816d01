// Interrupts on POSIX: SIGINT, SIGTERM and SIGHUP, caught while held.

#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <iterator>

#include "platform/interrupts.h"

namespace {

const int heldSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(heldSignals)];
bool holding = false;
volatile sig_atomic_t heldSignal = 0;  // the first that came, 0 for none

extern "C" void holdSignal(int signalNumber) {
    // A second request (a closing terminal sends SIGHUP twice: the system and
    // the shell) changes nothing: the copy is already stopping.
    if (heldSignal == 0) heldSignal = signalNumber;
}

}  // namespace

void holdInterrupts() {
    heldSignal = 0;
    struct sigaction action {};
    action.sa_handler = holdSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read or a write that waits (on a FIFO, say) returns,
    // so that a copy that would never go on stops all the same.
    action.sa_flags = 0;
    for (std::size_t i = 0; i < std::size(heldSignals); ++i) {
        sigaction(heldSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN) sigaction(heldSignals[i], &action, nullptr);
    }
    holding = true;
}

bool interrupted() { return heldSignal != 0; }

void releaseInterrupts() {
    if (!holding) return;
    holding = false;
    for (std::size_t i = 0; i < std::size(heldSignals); ++i) sigaction(heldSignals[i], &previous[i], nullptr);
    const int signalNumber = heldSignal;
    heldSignal = 0;
    if (signalNumber == 0) return;
    signal(signalNumber, SIG_DFL);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signalNumber);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);  // not reached: the default action of all three ends the program
}
