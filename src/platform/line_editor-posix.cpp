// Lines typed at a terminal, edited with the BSD editline library (libedit):
// cursor keys, recall of this run's earlier lines, completion of file names.
// No history file and no start-up file are read or written.

#include "platform/line_editor.h"

#include <langinfo.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/editline_library.h"
#include "platform/name_completion.h"

namespace {

constexpr char escape = 0x1b;

const EditlineLibrary* editline = nullptr;  // loaded as the editor starts

// What the console has written since the cursor last went to the start of a
// line: the prompt, which the editor redraws whenever it redraws the line.
// Only its last stretch is kept; a row of the screen is never longer.
struct CursorLine {
    char text[1024];
    std::size_t held = 0;    // bytes of it kept in text
    std::size_t column = 0;  // bytes written since the line began, wrapped rows included
};
CursorLine cursorLine;
char promptOnRow[sizeof cursorLine.text + 1];

int terminalWidth() {
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// The part of the prompt on the cursor's row: what the editor must draw
// before the line, starting from the first column.
void takePromptOnRow() {
    const auto width = static_cast<std::size_t>(terminalWidth());
    std::size_t onRow = cursorLine.column % width;
    if (onRow == 0 && cursorLine.column > 0) onRow = width;  // a full row, the cursor just past its end
    if (onRow > cursorLine.held) onRow = 0;                  // a row wider than we keep: start afresh
    std::memcpy(promptOnRow, cursorLine.text + cursorLine.held - onRow, onRow);
    promptOnRow[onRow] = '\0';
}

char* prompt(EditLine*) { return promptOnRow; }

// Ctrl+D: on an empty line the end of the answers, as at a plain terminal
// (without the editor's echo of it); elsewhere it deletes under the cursor.
unsigned char endOrDelete(EditLine* editor, int) {
    const LineInfo* line = editline->line(editor);
    if (line->lastchar == line->buffer) return CC_EOF;
    if (line->cursor == line->lastchar) return CC_ERROR;
    editline->cursor(editor, 1);
    editline->deletestr(editor, 1);
    return CC_REFRESH;
}

EditLine* editor = nullptr;
History* recall = nullptr;  // the lines typed so far, in memory only

// What is left of the line typed last: inside the editor's own buffer, which
// stays as it is until the next line is read.
const char* rest = nullptr;
std::size_t restCount = 0;

// Frees the editor, so that a leak check at exit sees nothing left over.
void endEditor() {
    // Each line gave the terminal its mode back when it ended. Restoring the
    // mode of start-up now would also drop the keys typed ahead for the shell.
    if (editor != nullptr) editline->set(editor, EL_EDITMODE, 0);
    if (editor != nullptr) editline->end(editor);
    if (recall != nullptr) editline->historyEnd(recall);
    editor = nullptr;
    recall = nullptr;
}

bool startEditor() {
    // Multibyte characters are edited as the user's locale has them. Names
    // keep their bytes all the same: nothing else here depends on LC_CTYPE.
    std::setlocale(LC_CTYPE, "");
    // In plain ASCII every byte above 127 would be dropped as it is typed;
    // a terminal with no locale set is most often a UTF-8 one.
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    // The editor sets a cooked mode of its own making as it starts; the
    // terminal keeps the one it has until a line is edited.
    editline = editlineLibrary();
    if (editline == nullptr) return false;
    termios mode;
    const bool modeKnown = tcgetattr(STDIN_FILENO, &mode) == 0;
    editor = editline->init("zorven", stdin, stdout, stderr);
    if (modeKnown) (void)tcsetattr(STDIN_FILENO, TCSANOW, &mode);  // at worst the editor's cooked mode stays
    recall = editline->historyInit();
    if (editor == nullptr || recall == nullptr) {
        endEditor();
        return false;
    }
    HistEvent event;
    editline->history(recall, &event, H_SETSIZE, 100);
    editline->history(recall, &event, H_SETUNIQUE, 1);
    editline->set(editor, EL_HIST, editline->history, recall);
    editline->set(editor, EL_EDITOR, "emacs");
    editline->set(editor, EL_PROMPT, prompt);
    editline->set(editor, EL_SIGNAL, 0);  // its handlers send the signal on to the whole process group
    // The wide form keeps the names as given; the narrow one copies them and
    // never frees the copies.
    editline->wset(editor, EL_ADDFN, L"zorven-complete", L"Complete a file name", completeName);
    editline->wset(editor, EL_ADDFN, L"zorven-end-or-delete", L"End the answers or delete a character", endOrDelete);

    // The keys a person expects, whatever the terminal description says.
    const char* const bindings[][2] = {
        {"^I", "zorven-complete"},       {"^D", "zorven-end-or-delete"},
        {"^A", "ed-move-to-beg"},        {"^E", "ed-move-to-end"},
        {"^K", "ed-kill-line"},          {"^U", "em-kill-line"},
        {"^W", "ed-delete-prev-word"},   {"^L", "ed-clear-screen"},
        {"\\e[H", "ed-move-to-beg"},     {"\\eOH", "ed-move-to-beg"},
        {"\\e[1~", "ed-move-to-beg"},    {"\\e[7~", "ed-move-to-beg"},
        {"\\e[F", "ed-move-to-end"},     {"\\eOF", "ed-move-to-end"},
        {"\\e[4~", "ed-move-to-end"},    {"\\e[8~", "ed-move-to-end"},
        {"\\e[3~", "ed-delete-next-char"}, {"\\e[2~", "em-toggle-overwrite"},
        {"\\e[1;5D", "ed-prev-word"},   {"\\e[1;5C", "em-next-word"},  // Ctrl+Left, Ctrl+Right
    };
    for (const auto& binding : bindings) editline->set(editor, EL_BIND, binding[0], binding[1], nullptr);
    // Keys that mean nothing here must not leave the tail of their sequence
    // in the answer: Page Up and Down, F1 to F12.
    const char* const unused[] = {"\\e[5~", "\\e[6~", "\\eOP", "\\eOQ", "\\eOR", "\\eOS", "\\e[11~", "\\e[12~",
                                  "\\e[13~", "\\e[14~", "\\e[15~", "\\e[17~", "\\e[18~", "\\e[19~", "\\e[20~",
                                  "\\e[21~", "\\e[23~", "\\e[24~"};
    for (const char* key : unused) editline->set(editor, EL_BIND, key, "ed-unassigned", nullptr);
    std::atexit(endEditor);
    return true;
}

// While a line is edited the terminal is in the editor's mode. A signal that
// ends the program then gives the terminal the mode it had before; so does
// one that stops it (Ctrl+Z, or a stop sent as a signal), and the editor gets
// its mode back when the program is continued.
termios modeBefore;
volatile sig_atomic_t editing = 0;
const int editingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU};

extern "C" void restoreMode(int signalNumber) {
    const int savedErrno = errno;
    termios editorMode;
    const bool editorModeKnown = tcgetattr(STDIN_FILENO, &editorMode) == 0;
    if (editing) (void)tcsetattr(STDIN_FILENO, TCSANOW, &modeBefore);  // nothing better to do on failure
    struct sigaction handler;
    sigaction(signalNumber, nullptr, &handler);
    signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);  // ends the program, or stops it until it is continued
    // Continued after Ctrl+Z: the mode the shell handed back is the one to
    // restore next. The line is shown again with Ctrl+L.
    sigaction(signalNumber, &handler, nullptr);
    (void)tcgetattr(STDIN_FILENO, &modeBefore);  // at worst the mode from before the stop is kept
    if (editorModeKnown) (void)tcsetattr(STDIN_FILENO, TCSANOW, &editorMode);
    errno = savedErrno;
}

class EditingMode {
public:
    EditingMode() {
        if (tcgetattr(STDIN_FILENO, &modeBefore) != 0) return;  // mode unknown: nothing to restore
        struct sigaction action {};
        action.sa_handler = restoreMode;
        action.sa_flags = SA_RESTART;  // the editor takes an interrupted read for the end of its input
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(editingSignals); ++i) {
            sigaction(editingSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler != SIG_IGN) sigaction(editingSignals[i], &action, nullptr);  // ignored stays so
        }
        editing = 1;
    }
    ~EditingMode() {
        if (!editing) return;
        // The editor leaves a cooked mode of its own making; the terminal gets
        // back exactly the one it had. TCSANOW: keys typed ahead are kept.
        (void)tcsetattr(STDIN_FILENO, TCSANOW, &modeBefore);  // at worst the editor's cooked mode stays
        editing = 0;
        for (std::size_t i = 0; i < std::size(editingSignals); ++i)
            sigaction(editingSignals[i], &previous_[i], nullptr);
    }
    EditingMode(const EditingMode&) = delete;
    EditingMode& operator=(const EditingMode&) = delete;

private:
    struct sigaction previous_[std::size(editingSignals)];
};

// One line from the editor, into `rest`; false at its end.
bool editLine() {
    takePromptOnRow();
    // The editor draws the prompt itself, from the first column: over the
    // same text, so the screen does not change.
    std::fputs("\r", stdout);  // through the editor's own output, in order with it
    std::fflush(stdout);
    editline->resize(editor);  // the window may have changed since the last line
    int count = 0;
    const char* line;
    {
        EditingMode mode;
        line = editline->gets(editor, &count);
    }
    cursorLine.held = cursorLine.column = 0;  // Enter took the cursor to a new line
    if (line == nullptr || count <= 0) return false;
    rest = line;
    restCount = static_cast<std::size_t>(count);

    std::string entry(line, restCount);
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
    if (entry.find_first_not_of(" \t\v\f") != std::string::npos) {  // a blank line is not worth recalling
        HistEvent event;
        editline->history(recall, &event, H_ENTER, entry.c_str());
    }
    return true;
}

}  // namespace

bool lineEditorInUse() {
    // A terminal that cannot move its cursor up ("dumb", or none named)
    // would show a line edited across its last column as several.
    static const bool inUse = [] {
        const char* term = std::getenv("TERM");
        return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && term != nullptr && *term != '\0' &&
               std::strcmp(term, "dumb") != 0 && startEditor();
    }();
    return inUse;
}

std::size_t readEditedLine(char* buffer, std::size_t size) {
    if (restCount == 0 && !editLine()) return 0;
    const std::size_t count = std::min(size, restCount);
    std::memcpy(buffer, rest, count);
    rest += count;
    restCount -= count;
    return count;
}

void dropEditedLine() { restCount = 0; }

void noteConsoleOutput(const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n' || c == escape) {
            cursorLine.held = cursorLine.column = 0;
            if (c == escape) return;  // the one sequence written clears the screen: the cursor is home
            continue;
        }
        if (cursorLine.held == sizeof cursorLine.text) {  // keep the later half
            const std::size_t half = sizeof cursorLine.text / 2;
            std::memmove(cursorLine.text, cursorLine.text + half, half);
            cursorLine.held = half;
        }
        cursorLine.text[cursorLine.held++] = c;
        ++cursorLine.column;
    }
}
