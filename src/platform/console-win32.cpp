// The console on Windows: standard output and input, the command processor
// for clearing, and the console keyboard (CONIN$) for the last key of a run.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/console_os.h"
#include "platform/win32_chunks.h"

namespace {

constexpr UINT boxCodePage = 437;  // the box characters are code-page-437 bytes

// The keyboard mode saved for one key wait; restored by RawMode, or by the
// control handler when the console is closed or Ctrl+Break ends the process.
// The handler runs on a thread of its own, hence the atomic flag.
HANDLE rawKeyboard = INVALID_HANDLE_VALUE;
DWORD savedMode = 0;
volatile LONG rawActive = 0;

// Puts a Ctrl+C key-down into the keyboard's queue, where the wait reads it.
bool queueCtrlC(HANDLE keyboard) {
    INPUT_RECORD event{};
    event.EventType = KEY_EVENT;
    event.Event.KeyEvent.bKeyDown = TRUE;
    event.Event.KeyEvent.wRepeatCount = 1;
    event.Event.KeyEvent.wVirtualKeyCode = 'C';
    event.Event.KeyEvent.uChar.UnicodeChar = 3;
    event.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
    DWORD written = 0;
    return WriteConsoleInputW(keyboard, &event, 1, &written) && written == 1;
}

BOOL WINAPI restoreOnControl(DWORD event) {
    // Ctrl+C is an ordinary key while we wait. Some consoles signal it even
    // so; then it is handed to the wait as the key it is.
    if (event == CTRL_C_EVENT && rawActive != 0 && queueCtrlC(rawKeyboard)) return TRUE;
    if (InterlockedExchange(&rawActive, 0) != 0) (void)SetConsoleMode(rawKeyboard, savedMode);  // ending: no fallback
    return FALSE;  // let the default handling go on
}

// Raw mode for one wait; the destructor restores the saved mode.
class RawMode {
public:
    explicit RawMode(HANDLE keyboard) {
        if (!GetConsoleMode(keyboard, &savedMode)) return;  // mode unknown: change nothing
        rawKeyboard = keyboard;
        (void)SetConsoleCtrlHandler(restoreOnControl, TRUE);  // without it the wait is still correct
        InterlockedExchange(&rawActive, 1);
        DWORD mode = savedMode;
        mode &= ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);  // one key, no Enter, no echo
        mode &= ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT);                 // Ctrl+C is an ordinary key
        entered_ = SetConsoleMode(keyboard, mode) != 0;
    }
    ~RawMode() {
        if (rawKeyboard == INVALID_HANDLE_VALUE) return;
        if (InterlockedExchange(&rawActive, 0) != 0) (void)SetConsoleMode(rawKeyboard, savedMode);  // no fallback
        (void)SetConsoleCtrlHandler(restoreOnControl, FALSE);
        rawKeyboard = INVALID_HANDLE_VALUE;
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

    bool entered() const { return entered_; }

private:
    bool entered_ = false;
};

// The key-downs that end the wait: one that gives a character, or one of the
// function, cursor and editing keys. Shift, Ctrl, Alt and the lock keys alone
// give no character and are not listed, so they do not count.
bool endsTheWait(const KEY_EVENT_RECORD& key) {
    if (!key.bKeyDown) return false;
    if (key.uChar.UnicodeChar != 0) return true;
    const WORD k = key.wVirtualKeyCode;
    return (k >= VK_F1 && k <= VK_F12) || (k >= VK_PRIOR && k <= VK_DOWN)  // Page Up/Down, End, Home, arrows
           || k == VK_INSERT || k == VK_DELETE;
}

void readOneKey(HANDLE keyboard) {
    for (;;) {
        INPUT_RECORD event;
        DWORD got = 0;
        // The wide form: a character outside the console's code page is still a character.
        if (!ReadConsoleInputW(keyboard, &event, 1, &got) || got == 0) return;  // keyboard gone: stop waiting
        if (event.EventType == KEY_EVENT && endsTheWait(event.Event.KeyEvent)) return;
    }
}

// An environment variable's value; empty if it is not set.
std::string environment(const char* name) {
    std::string value;
    for (DWORD size = 256;;) {
        value.resize(size);
        const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
        if (length < size) {  // it fitted (0: not set)
            value.resize(length);
            return value;
        }
        size = length;  // the size it needs, its terminator included
    }
}

// The program to run "cls" with: COMSPEC, else CMD.EXE in the current
// directory, then along PATH. Empty if there is none.
std::string commandProcessor() {
    const std::string comspec = environment("COMSPEC");
    if (!comspec.empty()) return comspec;

    const auto isFile = [](const std::string& name) {
        const DWORD attributes = GetFileAttributesA(name.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    };
    if (isFile("CMD.EXE")) return ".\\CMD.EXE";

    const std::string path = environment("PATH");
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(';', start);
        if (end == std::string::npos) end = path.size();
        std::string directory = path.substr(start, end - start);
        start = end + 1;
        if (directory.empty()) continue;
        if (directory.back() != '\\' && directory.back() != '/') directory += '\\';
        if (isFile(directory + "CMD.EXE")) return directory + "CMD.EXE";
    }
    return {};
}

UINT savedCodePage = 0;
void restoreCodePage() { (void)SetConsoleOutputCP(savedCodePage); }  // ending: no fallback

}  // namespace

void osWriteConsole(const char* bytes, std::size_t count) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = chunkOf(count);
        if (!WriteFile(out, bytes, chunk, &written, nullptr) || written == 0) return;  // not looked at
        bytes += written;
        count -= written;
    }
}

std::size_t osReadConsole(char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD chunk = chunkOf(size);
    // A broken pipe, the end of a file and an error all end the answers.
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, chunk, &got, nullptr)) return 0;
    return got;
}

bool osAnswersAreTyped() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void osForgetTypedInput() {
    (void)FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));  // at worst keys typed ahead stay
}

BoxStyle osPrepareBoxStyle() {
    // The box goes out as code-page-437 bytes. On a console of another code
    // page they would show as other letters, so the console is switched to
    // 437 for the run and back at its end; text already shown stays as it is.
    DWORD mode;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetConsoleMode(out, &mode)) {
        const UINT current = GetConsoleOutputCP();
        if (current != 0 && current != boxCodePage && SetConsoleOutputCP(boxCodePage)) {
            savedCodePage = current;
            std::atexit(restoreCodePage);
        }
    }
    return BoxStyle::codePage437;
}

std::size_t osTerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;  // a file or a pipe
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void osEraseLine(std::size_t) {
    // The console's own means: the whole row blanked in place, the cursor
    // put back at its start.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(out, &info)) return;
    const COORD start = {0, info.dwCursorPosition.Y};
    const DWORD width = static_cast<DWORD>(info.dwSize.X);
    DWORD done = 0;
    (void)FillConsoleOutputCharacterA(out, ' ', width, start, &done);  // the row stays as it was at worst
    (void)FillConsoleOutputAttribute(out, info.wAttributes, width, start, &done);
    (void)SetConsoleCursorPosition(out, start);
}

void clearScreen() {
    const std::string program = commandProcessor();
    if (program.empty()) return;  // nothing to clear with
    std::string commandLine = "\"" + program + "\" /c cls";

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return;  // it did not start: the console stays as it is
    (void)WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void waitForKey() {
    // With the output in a file or a pipe, nobody sees the prompt for the key.
    DWORD outputMode;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &outputMode)) return;
    // The keyboard itself, even if standard input is a file or a pipe.
    const HANDLE keyboard = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (keyboard == INVALID_HANDLE_VALUE) return;  // no keyboard: nothing to wait for
    {
        RawMode raw(keyboard);
        // Keys typed ahead stay queued: one of them may end the wait.
        if (raw.entered()) readOneKey(keyboard);
    }
    CloseHandle(keyboard);
}
