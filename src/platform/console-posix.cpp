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

namespace {

// The escape sequences this program writes.
constexpr char clearSequence[] = "\x1b[H\x1b[2J";  // cursor home, erase display

constexpr unsigned char escape = 0x1b;

// Made ready before main runs, before any file is opened.
[[maybe_unused]] const bool processReady = [] {
    // A closed console or output pipe must not kill the run half way: writes
    // then fail with EPIPE, which the callers treat like any failed write.
    signal(SIGPIPE, SIG_IGN);
    // A standard stream started closed would be reused by the next open: the
    // prompts would then go into the output file, or the answers come from
    // the input file. Hold its place with /dev/null.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != fd) break;
    return true;
}();

// The terminal mode saved for one key wait, restored by RawMode or, when the
// process is ended during the wait, by the signal handler. Plain data, so the
// handler can use it.
int rawTty = -1;
termios savedMode;
volatile sig_atomic_t rawActive = 0;

const int endingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

extern "C" void restoreAndDie(int signalNumber) {
    if (rawActive) (void)tcsetattr(rawTty, TCSANOW, &savedMode);  // dying: nothing better to do
    rawActive = 0;
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Raw mode for one wait; the destructor restores the saved mode.
class RawMode {
public:
    explicit RawMode(int tty) {
        if (tcgetattr(tty, &savedMode) != 0) return;  // mode unknown: change nothing
        rawTty = tty;
        struct sigaction action {};
        action.sa_handler = restoreAndDie;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(endingSignals); ++i)
            sigaction(endingSignals[i], &action, &previous_[i]);
        rawActive = 1;

        termios mode = savedMode;
        mode.c_lflag &= ~(ICANON | ECHO);  // one key, no Enter, no echo
        mode.c_lflag &= ~(ISIG | IEXTEN);  // Ctrl+C, Ctrl+V and the like are ordinary keys
        mode.c_iflag &= ~(IXON);           // so are Ctrl+S and Ctrl+Q
        mode.c_cc[VMIN] = 1;               // block until a byte arrives
        mode.c_cc[VTIME] = 0;
        // TCSANOW, not TCSAFLUSH: a key typed ahead of the prompt still counts.
        entered_ = tcsetattr(tty, TCSANOW, &mode) == 0;
    }
    ~RawMode() {
        if (rawTty < 0) return;
        if (rawActive) (void)tcsetattr(rawTty, TCSANOW, &savedMode);  // nothing better to do on failure
        rawActive = 0;
        for (std::size_t i = 0; i < std::size(endingSignals); ++i)
            sigaction(endingSignals[i], &previous_[i], nullptr);
        rawTty = -1;
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

    bool entered() const { return entered_; }

private:
    bool entered_ = false;
    struct sigaction previous_[std::size(endingSignals)];
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
    while (count > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // console output errors are not looked at
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

std::size_t osReadConsole(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
}

bool osConsoleUsesUtf8() {
    // The locale that decides the character set: the first of these that is set.
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = std::getenv(variable);
        if (locale != nullptr && *locale != '\0') break;
    }
    if (locale == nullptr || *locale == '\0') return false;
    const char* codeset = std::strchr(locale, '.');
    if (codeset == nullptr) return false;
    // "UTF-8", "utf8" and so on, up to a modifier such as "@euro".
    std::string name;
    for (++codeset; *codeset != '\0' && *codeset != '@'; ++codeset)
        if (*codeset != '-') name += static_cast<char>(std::tolower(static_cast<unsigned char>(*codeset)));
    return name == "utf8";
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
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);  // the keyboard, even if stdin is a file
    if (tty < 0) return;                                               // no keyboard: nothing to wait for
    {
        RawMode raw(tty);
        if (raw.entered()) readOneKey(tty);
    }
    close(tty);
}
