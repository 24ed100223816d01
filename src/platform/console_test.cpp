#include "platform/console.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "expected_screen.h"
#include "temp_files.h"

using namespace std::string_literals;

namespace {

// Runs `body` in a child process with `answers` on its standard input and no
// controlling terminal; returns what the child wrote to standard output.
std::string inChild(const std::string& answers, void (*body)()) {
    TempDir dir;
    writeFile(dir / "answers", answers);
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        const int in = open((dir / "answers").c_str(), O_RDONLY | O_CLOEXEC);
        const int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(127);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return readFile(dir / "out");
}

// Reads words of at most 3 characters until the answers end and writes each
// as [word], [word]+ when it was cut, then <end>.
void readWords() {
    for (int i = 0; i < 20; ++i) {
        char buffer[4] = "###";
        const WordResult got = readWord(buffer, sizeof buffer);
        if (got == WordResult::noWord) {
            if (std::string(buffer) != "###") writeText("<touched>");
            writeText("<end>");
            return;
        }
        writeText("[");
        writeText(buffer);
        writeText(got == WordResult::wordTooLong ? "]+" : "]");
    }
}

}  // namespace

TEST(ReadWord, SplitsTheAnswersIntoWords) {
    const struct { std::string answers, words; } cases[] = {
        {"", "<end>"},
        {"\n\n  \t\n", "<end>"},
        {"  ab  \n", "[ab]<end>"},
        {"a b\nc", "[a][b][c]<end>"},
        {"ab\r\ncd\r\n", "[ab][cd]<end>"},
        {"a\rb", "[ab]<end>"},  // CR is dropped wherever it stands
        {"\v\fab\x0b", "[ab]<end>"},
        {"abcdef gh", "[abc]+[gh]<end>"},  // the rest of a long word is dropped
        {"abc", "[abc]<end>"},
        {"ab\x1a" "cd\n", "[ab]<end>"},  // Ctrl-Z ends the answers for good
        {"\x1a" "ab", "<end>"},
        {"\xff\x01", "[\xff\x01]<end>"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.answers));
        EXPECT_EQ(row.words, inChild(row.answers, readWords));
    }
}

TEST(ReadWord, TakesAQuotedWordWholeWithoutItsQuotes) {
    const struct { std::string answers, words; } cases[] = {
        {"\"a b\" c", "[a b][c]<end>"},
        {"  \"a\tb\"\n", "[a\tb]<end>"},
        {"\"a b\"c", "[a b][c]<end>"},           // the closing quote ends the word
        {"a\"b c\"", "[a\"b][c\"]<end>"},         // no leading quote: read as ever
        {"\"ab\n c", "[ab][c]<end>"},           // never closed: the rest of the line
        {"\"a \r\nb", "[a ][b]<end>"},
        {"\"ab", "[ab]<end>"},
        {"\"\" x", "[][x]<end>"},                // an empty name is still an answer
        {"\"abcdef\" g", "[abc]+[g]<end>"},      // the limit counts what is inside
        {"\"abc\" d", "[abc][d]<end>"},
        {"\"a\x1a" "b\" c", "[a]<end>"},
        {"\"\xff\x01\"", "[\xff\x01]<end>"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.answers));
        EXPECT_EQ(row.words, inChild(row.answers, readWords));
    }
}

TEST(WriteText, PutsOutLineFeedsAsCrLf) {
    EXPECT_EQ("a\r\nb\r\n\r\nc\r\n-",
              inChild("", [] {
                  writeText("a\nb");
                  endLine();
                  writeText('\n');
                  writeText(std::string(300, 'c').c_str() + 299);
                  writeText("\n");
                  writeText('-');
              }));
    const std::string longText(1000, '\n');
    std::string expected;
    for (int i = 0; i < 1000; ++i) expected += "\r\n";
    static std::string text;
    text = longText;
    EXPECT_EQ(expected, inChild("", [] { writeText(text.c_str()); }));
    // An LF arriving when the block has one byte left: the CR LF goes in the
    // next block, never one byte past this one.
    text.assign(1, 'x').append(300, '\n');
    EXPECT_EQ(std::string(1, 'x').append(expected, 0, 600), inChild("", [] { writeText(text.c_str()); }));
}

TEST(ClearScreen, WritesNothingWhereOutputIsNotATerminal) {
    EXPECT_EQ("x", inChild("", [] {
        clearScreen();
        writeText("x");
    }));
}

TEST(WaitForKey, ReturnsAtOnceWithoutATerminal) {
    EXPECT_EQ("done", inChild("", [] {
        waitForKey();
        writeText("done");
    }));
}

namespace {

// A child in a new session whose controlling terminal is a fresh
// pseudo-terminal. The parent keeps both ends, so it can type keys and read
// the terminal's mode even after the child has gone.
class TerminalChild {
public:
    explicit TerminalChild(void (*body)()) {
        if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
        initialMode_ = mode();
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            ioctl(slave_, TIOCSCTTY, 0);
            dup2(slave_, 0);
            dup2(slave_, 1);
            body();
            _exit(0);
        }
    }
    ~TerminalChild() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(master_);
        close(slave_);
    }

    bool started() const { return pid_ > 0; }

    // The mode before the child could change it.
    const termios& initialMode() const { return initialMode_; }

    termios mode() const {
        termios mode{};
        tcgetattr(slave_, &mode);
        return mode;
    }

    // Waits (at most 5 s) until the child has put the terminal in raw mode.
    bool waitForRawMode() const {
        for (int i = 0; i < 500; ++i) {
            if ((mode().c_lflag & ICANON) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void signal(int signalNumber) const { kill(pid_, signalNumber); }

    // The process group that has the terminal.
    pid_t foregroundGroup() const { return tcgetpgrp(master_); }

    // Sets the terminal's mode, as a shell does when it takes the terminal back.
    void setMode(const termios& mode) const { tcsetattr(slave_, TCSANOW, &mode); }

    void type(const std::string& keys) const { (void)!write(master_, keys.data(), keys.size()); }

    // Waits for the child to end; its exit status or the signal that ended it.
    int finish() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    // What the child wrote to the terminal.
    // Waits (at most 10 s) until the child has written `text`; what it wrote
    // up to then is read.
    bool waitForOutput(const std::string& text) const {
        std::string written;
        for (int i = 0; i < 1000; ++i) {
            written += output();
            if (written.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string output() const {
        std::string text;
        char buffer[256];
        const int flags = fcntl(master_, F_GETFL);
        fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        ssize_t got;
        while ((got = read(master_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    termios initialMode_{};
};

bool sameMode(const termios& a, const termios& b) {
    return a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_cc[VMIN] == b.c_cc[VMIN] &&
           a.c_cc[VTIME] == b.c_cc[VTIME];
}

// Waits for a key, then reads the line typed after it, in the restored mode.
void waitThenReadLine() {
    waitForKey();
    char line[64] = {};
    const ssize_t got = read(0, line, sizeof line - 1);
    std::printf("rest=[%.*s]", static_cast<int>(got > 0 ? got - 1 : 0), line);
    std::fflush(stdout);
}

}  // namespace

TEST(WaitForKey, ConsumesOneWholeKeyAndRestoresTheMode) {
    const struct { std::string key; } keys[] = {
        {"x"}, {"\x03"},         // Ctrl+C is an ordinary key
        {"\x1b[A"},              // cursor up
        {"\x1b[15~"},            // F5
        {"\x1bOP"},              // F1
        {"\x1b[1;5H"},           // Ctrl+Home
        {"\xc3\xa9"},            // UTF-8 characters of two, three and four bytes
        {"\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80"},
    };
    for (const auto& row : keys) {
        SCOPED_TRACE(testing::PrintToString(row.key));
        TerminalChild child(waitThenReadLine);
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(child.waitForRawMode());
        child.type(row.key + "after\n");
        EXPECT_EQ(0, child.finish());
        EXPECT_TRUE(sameMode(child.initialMode(), child.mode()));
        // Nothing of the key is left over for whoever reads next.
        EXPECT_NE(std::string::npos, child.output().find("rest=[after]"));
    }
}

TEST(ClearScreen, ClearsOnlyATerminalThatKnowsHow) {
    static const char* term;  // for the child, which gets no arguments
    const struct {
        const char* term;
        std::string written;
    } cases[] = {
        {"xterm", "\x1b[H\x1b[2Jx"},
        {"dumb", "x"},
        {"", "x"},
        {nullptr, "x"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.term != nullptr ? row.term : "(not set)");
        term = row.term;
        TerminalChild child([] {
            if (term != nullptr)
                setenv("TERM", term, 1);
            else
                unsetenv("TERM");
            clearScreen();
            writeText("x");
        });
        ASSERT_TRUE(child.started());
        EXPECT_EQ(0, child.finish());
        EXPECT_EQ(row.written, child.output());
    }
}

TEST(WaitForKey, RestoresTheModeWhenEndedBySignal) {
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        TerminalChild child([] { waitForKey(); });
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(child.waitForRawMode());
        child.signal(signalNumber);  // as a shell or a closing window would
        EXPECT_EQ(1000 + signalNumber, child.finish());
        EXPECT_TRUE(sameMode(child.initialMode(), child.mode()));
    }
}

TEST(WaitForKey, ReturnsAtOnceWhenOutputIsNotTheTerminal) {
    // A terminal is there to read a key from, but the prompt went into a file.
    TerminalChild child([] {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, 1);
        alarm(10);  // a wait would end here, by the signal
        waitForKey();
        _exit(7);
    });
    ASSERT_TRUE(child.started());
    EXPECT_EQ(7, child.finish());
    EXPECT_TRUE(sameMode(child.initialMode(), child.mode()));
}

namespace {

// What the job below runs: the key wait, or the whole program in a folder.
void (*job)() = nullptr;
std::string programFolder;

void runTheProgram() {
    if (chdir(programFolder.c_str()) == 0) execl(ZORVEN_PROGRAM, ZORVEN_PROGRAM, static_cast<char*>(nullptr));
    _exit(127);
}

// Runs `job` as a shell runs one: in a process group of its own that has the
// terminal, its parent (this "shell") in the same session. Only such a group
// can be stopped: the system discards stop signals sent to one with no
// parent in its session. Then the shell takes the terminal back and reads
// the line typed after the key.
void runAsAJobThenReadLine() {
    signal(SIGTTOU, SIG_IGN);  // taking the terminal back from the background
    const pid_t jobId = fork();
    if (jobId == 0) {
        setpgid(0, 0);
        tcsetpgrp(0, getpid());
        signal(SIGTTOU, SIG_DFL);
        job();
        _exit(0);
    }
    setpgid(jobId, jobId);  // both sides, as shells do, so that neither waits for the other
    tcsetpgrp(0, jobId);
    int status = 0;
    waitpid(jobId, &status, 0);  // a stop is not reported: the job goes on when continued
    tcsetpgrp(0, getpgrp());
    char line[64] = {};
    const ssize_t got = read(0, line, sizeof line - 1);
    std::printf("job=%d rest=[%.*s]", WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status),
                static_cast<int>(got > 0 ? got - 1 : 0), line);
    std::fflush(stdout);
}

// Whether the process is stopped, waiting (at most 5 s) for it to be.
bool becomesStopped(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t afterName = stat.rfind(')');
        if (afterName != std::string::npos && stat.compare(afterName, 3, ") T") == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(WaitForKey, StoppedAndContinuedItGivesBackTheTerminalAndWaitsOn) {
    TempDir folder;
    writeFile(folder / "data.txt", "a b\n");
    programFolder = folder.path();
    const struct {
        int signalNumber;
        bool restoresTheMode;  // else the shell does, as for a stop the program cannot see
    } cases[] = {{SIGTSTP, true}, {SIGTTIN, true}, {SIGTTOU, true}, {SIGSTOP, false}};
    for (const bool wholeProgram : {false, true}) {
        job = wholeProgram ? runTheProgram : [] { waitForKey(); };
        for (const auto& row : cases) {
            SCOPED_TRACE(std::string(strsignal(row.signalNumber)) + (wholeProgram ? ", whole program" : ""));
            TerminalChild shell(runAsAJobThenReadLine);
            ASSERT_TRUE(shell.started());
            if (wholeProgram) {
                unlink((folder / "out.csv").c_str());  // so that no overwrite question comes
                shell.type("data.txt 1 out\n");
                // The line editor leaves line mode too: the stop must come in the key wait.
                ASSERT_TRUE(shell.waitForOutput(consoleText("pressKey")));
            }
            ASSERT_TRUE(shell.waitForRawMode());
            const pid_t jobId = shell.foregroundGroup();
            ASSERT_GT(jobId, 0);
            kill(jobId, row.signalNumber);
            ASSERT_TRUE(becomesStopped(jobId));
            if (row.restoresTheMode)
                EXPECT_TRUE(sameMode(shell.initialMode(), shell.mode()));
            else
                shell.setMode(shell.initialMode());
            kill(jobId, SIGCONT);
            ASSERT_TRUE(shell.waitForRawMode());
            // One key ends the wait; the rest of the line is the shell's.
            shell.type("x" "after\n");
            EXPECT_EQ(0, shell.finish());
            EXPECT_TRUE(sameMode(shell.initialMode(), shell.mode()));
            EXPECT_NE(std::string::npos, shell.output().find("job=0 rest=[after]"));
        }
    }
    EXPECT_EQ("a,b\r\n", readFile(folder / "out.csv"));
}
