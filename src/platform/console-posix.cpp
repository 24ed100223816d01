// The console on a POSIX terminal: standard output and input, and the
// controlling terminal (/dev/tty) for the last key of a run.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/console.h"
#include "platform/console_os.h"
#include "platform/line_editor.h"

namespace {

// The escape sequences this program writes.
constexpr char clearSequence[] = "\x1b[H\x1b[2J";  // cursor home, erase display

constexpr unsigned char escape = 0x1b;

// The terminal mode saved for one key wait and the raw mode of the wait. The
// signal handlers restore the saved mode when the process is ended or
// stopped during the wait, and put the raw mode back when it is continued.
// Plain data, so the handlers can use it.
int rawTty = -1;
termios savedMode;
termios rawMode;
volatile sig_atomic_t rawActive = 0;  // the terminal is in raw mode now

const int endingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
const int stoppingSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
// Every signal that the wait handles, for saving and restoring their actions.
const int waitSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT};

void leaveRawMode() {
    if (rawActive) (void)tcsetattr(rawTty, TCSANOW, &savedMode);  // nothing better to do on failure
    rawActive = 0;
}

// Only from the foreground: a job in the background must not change the
// terminal under the shell's feet. Set again even if it seems set: a shell
// may have changed the mode while the program was stopped.
void enterRawMode() {
    if (tcgetpgrp(rawTty) == getpgrp() && tcsetattr(rawTty, TCSANOW, &rawMode) == 0) rawActive = 1;
}

extern "C" void restoreAndDie(int signalNumber) {
    leaveRawMode();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

extern "C" void restoreAndStop(int signalNumber);

void catchStops() {
    struct sigaction action {};
    action.sa_handler = restoreAndStop;
    sigemptyset(&action.sa_mask);
    for (const int each : stoppingSignals) sigaddset(&action.sa_mask, each);
    // The read of the key, and the tcsetattr that stopped the process, go on
    // once it is continued.
    action.sa_flags = SA_RESTART;
    for (const int each : stoppingSignals) {
        struct sigaction current;
        // One the program was started to ignore stays ignored.
        if (sigaction(each, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaction(each, &action, nullptr);
    }
}

// Stopped during the wait (Ctrl+Z sent by kill, or reading or setting the
// terminal from the background): the shell gets the terminal in the mode it
// gave it; continued in the foreground, the wait goes on in raw mode.
extern "C" void restoreAndStop(int signalNumber) {
    const int savedErrno = errno;
    leaveRawMode();
    signal(signalNumber, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signalNumber);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(signalNumber);  // stopped here until continued (not at all with no shell to continue it)
    catchStops();
    enterRawMode();
    errno = savedErrno;
}

// Continued after a stop this program did not see (SIGSTOP).
extern "C" void reenterRawMode(int) {
    const int savedErrno = errno;
    enterRawMode();
    errno = savedErrno;
}

// Raw mode for one wait; the destructor restores the saved mode.
class RawMode {
public:
    explicit RawMode(int tty) {
        if (tcgetattr(tty, &savedMode) != 0) return;  // mode unknown: change nothing
        rawTty = tty;
        rawMode = savedMode;
        rawMode.c_lflag &= ~(ICANON | ECHO);  // one key, no Enter, no echo
        rawMode.c_lflag &= ~(ISIG | IEXTEN);  // Ctrl+C, Ctrl+Z, Ctrl+V and the like are ordinary keys
        rawMode.c_iflag &= ~(IXON);           // so are Ctrl+S and Ctrl+Q
        rawMode.c_cc[VMIN] = 1;               // block until a byte arrives
        rawMode.c_cc[VTIME] = 0;

        for (std::size_t i = 0; i < std::size(waitSignals); ++i) sigaction(waitSignals[i], nullptr, &previous_[i]);
        struct sigaction action {};
        action.sa_handler = restoreAndDie;
        sigemptyset(&action.sa_mask);
        for (const int each : endingSignals) sigaction(each, &action, nullptr);
        catchStops();
        action.sa_handler = reenterRawMode;
        action.sa_flags = SA_RESTART;
        sigaction(SIGCONT, &action, nullptr);
        rawActive = 1;
        // TCSANOW, not TCSAFLUSH: a key typed ahead of the prompt still counts.
        entered_ = tcsetattr(tty, TCSANOW, &rawMode) == 0;
    }
    ~RawMode() {
        if (rawTty < 0) return;
        // Held until the actions are back, so that no handler puts raw mode back.
        sigset_t held;
        sigset_t before;
        sigemptyset(&held);
        for (const int each : waitSignals) sigaddset(&held, each);
        sigprocmask(SIG_BLOCK, &held, &before);
        leaveRawMode();
        for (std::size_t i = 0; i < std::size(waitSignals); ++i) sigaction(waitSignals[i], &previous_[i], nullptr);
        sigprocmask(SIG_SETMASK, &before, nullptr);
        rawTty = -1;
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

    bool entered() const { return entered_; }

private:
    bool entered_ = false;
    struct sigaction previous_[std::size(waitSignals)];
};

// One byte from the terminal: waits for it, or for a tenth of a second when
// `briefly`, which is how the tail of a key's sequence is told from a new key.
int readTtyByte(int tty, bool briefly) {
    termios mode;
    if (briefly && tcgetattr(tty, &mode) == 0) {
        mode.c_cc[VMIN] = 0;
        mode.c_cc[VTIME] = 1;
        (void)tcsetattr(tty, TCSANOW, &mode);  // at worst the read blocks for the next byte
    }
    unsigned char byte;
    ssize_t got;
    do got = read(tty, &byte, 1);
    while (got < 0 && errno == EINTR);
    if (briefly && tcgetattr(tty, &mode) == 0) {
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        (void)tcsetattr(tty, TCSANOW, &mode);
    }
    return got == 1 ? byte : -1;
}

// Reads one key whole: a plain byte, a UTF-8 character, or an escape sequence
// (cursor keys, F1 to F12, Home, End and so on send several bytes), so that no
// part of it is left for the shell after the program ends.
void readOneKey(int tty) {
    const int first = readTtyByte(tty, false);
    if (first < 0) return;
    if (first == escape) {
        const int second = readTtyByte(tty, true);
        if (second == '[') {  // CSI: parameters, then one final byte from @ to ~
            for (int i = 0; i < 16; ++i) {
                const int c = readTtyByte(tty, true);
                if (c < 0 || (c >= 0x40 && c <= 0x7e)) break;
            }
        } else if (second == 'O') {  // SS3: one more byte (F1 to F4, keypad)
            (void)readTtyByte(tty, true);
        }
        return;
    }
    // A UTF-8 lead byte announces 1 to 3 continuation bytes.
    const int more = first >= 0xf0 ? 3 : first >= 0xe0 ? 2 : first >= 0xc0 ? 1 : 0;
    for (int i = 0; i < more; ++i)
        if (readTtyByte(tty, true) < 0) break;
}

}  // namespace

void osWriteConsole(const char* bytes, std::size_t count) {
    noteConsoleOutput(bytes, count);
    while (count > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // console output errors are not looked at
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

std::size_t osReadConsole(char* buffer, std::size_t size) {
    if (lineEditorInUse()) return readEditedLine(buffer, size);  // a person types the answers
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
}

bool osAnswersAreTyped() { return isatty(STDIN_FILENO) == 1; }

void osForgetTypedInput() {
    dropEditedLine();
    (void)tcflush(STDIN_FILENO, TCIFLUSH);  // at worst keys typed ahead stay: nothing better to do
}

BoxStyle osPrepareBoxStyle() {
    // No terminal here shows the code-page-437 box bytes as a box: where the
    // locale does not name UTF-8, the box is drawn in ASCII.
    // The locale that decides the character set: the first of these that is set.
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = std::getenv(variable);
        if (locale != nullptr && *locale != '\0') break;
    }
    if (locale == nullptr || *locale == '\0') return BoxStyle::ascii;
    const char* codeset = std::strchr(locale, '.');
    if (codeset == nullptr) return BoxStyle::ascii;
    // "UTF-8", "utf8" and so on, up to a modifier such as "@euro".
    std::string name;
    for (++codeset; *codeset != '\0' && *codeset != '@'; ++codeset)
        if (*codeset != '-') name += static_cast<char>(std::tolower(static_cast<unsigned char>(*codeset)));
    return name == "utf8" ? BoxStyle::utf8 : BoxStyle::ascii;
}

std::size_t osTerminalWidth() {
    if (!isatty(STDOUT_FILENO)) return 0;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;  // a terminal, width unknown
    return size.ws_col;
}

void osEraseLine(std::size_t width) {
    // Spaces rather than an escape sequence: every terminal knows them.
    char line[1 + 128 + 1];
    width = std::min(width, sizeof line - 2);
    line[0] = '\r';
    std::memset(line + 1, ' ', width);
    line[1 + width] = '\r';
    osWriteConsole(line, width + 2);
}

void clearScreen() {
    // Only a real terminal that knows the sequence gets it: a file or a pipe
    // keeps a clean transcript.
    const char* term = std::getenv("TERM");
    if (!isatty(STDOUT_FILENO) || term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0)
        return;
    osWriteConsole(clearSequence, sizeof clearSequence - 1);
}

void waitForKey() {
    // With the output in a file or a pipe, nobody sees the prompt for the key.
    if (!isatty(STDOUT_FILENO)) return;
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);  // the keyboard, even if stdin is a file
    if (tty < 0) return;                                               // no keyboard: nothing to wait for
    {
        RawMode raw(tty);
        if (raw.entered()) readOneKey(tty);
    }
    close(tty);
}
