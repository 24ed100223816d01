// The whole program at a terminal (tmux, 80 columns): keys typed as a person
// types them, the screen read back, the files and the terminal mode checked.

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

bool haveTmux() { return !shell("command -v tmux").empty(); }

const std::string pressKey = consoleText("pressKey");

// The Copying line as the screen shows it: without its last blank.
std::string copying(const std::string& from, const std::string& to) {
    std::string line = consoleText("copying", {from, to});
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

// One run of the program in a terminal of its own, in `directory`, between
// two records of the terminal's mode; its exit status and standard error
// are kept apart from the directory, so that completion does not see them.
class TerminalRun {
public:
    // `environment` is given to the program; `command`, if given, runs in its
    // place with the program's name in $ZORVEN; `setup` runs first.
    explicit TerminalRun(const std::string& directory, const std::string& environment = "LANG=C.UTF-8",
                         const std::string& command = "", const std::string& setup = "")
        : tmux_("tmux -L zorven-edit-" + std::to_string(getpid()) + "-" + std::to_string(++runs) + " -f /dev/null ") {
        const std::string program = command.empty() ? std::string(ZORVEN_PROGRAM) : command;
        const std::string script = setup + "\nstty -g >" + io_ / "before" + "; trap true INT; ZORVEN=" +
                                   ZORVEN_PROGRAM + " env -u LC_ALL -u LC_CTYPE -u LANG TERM=xterm " +
                                   environment + " " + program + " 2>" + io_ / "stderr" +
                                   "; echo $? >" + io_ / "status" + "; stty -g >" + io_ / "after" +
                                   "; : >" + io_ / "done" + "; sleep 60";
        writeFile(io_ / "script", script);
        shell("LC_ALL=C.UTF-8 " + tmux_ + "new-session -d -x 80 -y 30 -c " + directory + " 'sh " + io_ / "script" +
              "'");
        paneTty_ = trimmed(shell(tmux_ + "display -p '#{pane_tty}'"));
    }
    ~TerminalRun() { shell(tmux_ + "kill-server 2>/dev/null"); }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Keys as tmux names them ("Left", "C-d"), or literal text with "-l".
    void keys(const std::string& keys) { shell(tmux_ + "send-keys " + keys); }
    void text(const std::string& text) { shell(tmux_ + "send-keys -l '" + text + "'"); }

    std::vector<std::string> screen() const {
        std::vector<std::string> lines;
        std::istringstream in(shell(tmux_ + "capture-pane -p"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        while (!lines.empty() && lines.back().empty()) lines.pop_back();
        return lines;
    }

    // The screen's lines from the first prompt on (the title screen is
    // checked elsewhere).
    std::vector<std::string> dialogue() const {
        std::vector<std::string> lines = screen();
        return lines.size() > 13 ? std::vector<std::string>(lines.begin() + 13, lines.end()) : lines;
    }

    // Waits (at most 10 s) until the screen shows `text` and the program is
    // reading keys one at a time: the editor is ready, or the last key awaited.
    // With `oneAtATime` false, waits for the text only.
    bool waitForKeys(const std::string& text, bool oneAtATime = true) const {
        const std::string shown = trimmed(text);  // the screen has no trailing blanks
        for (int i = 0; i < 200; ++i) {
            if (shell(tmux_ + "capture-pane -p").find(shown) != std::string::npos && (!oneAtATime || readsKeys()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "never showed, or never read keys: " << text;
        return false;
    }

    // Answers the first two questions, data.txt and `option`, and waits for
    // the output name's question; false (a failure added) if it never comes.
    bool answerUpToOutputName(const std::string& option) {
        if (!waitForKeys(askInput)) return false;
        keys("data.txt Enter");
        if (!waitForKeys(askOption)) return false;
        keys(option + " Enter");
        return waitForKeys(askOutput);
    }

    // Waits (at most 10 s) for the program to end; its exit status as the shell saw it.
    int finish() const {
        for (int i = 0; i < 200 && !exists(io_ / "done"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string status = trimmed(readFile(io_ / "status"));
        return status.empty() ? -1 : std::stoi(status);
    }

    bool modeRestored() const {
        return !readFile(io_ / "before").empty() && readFile(io_ / "before") == readFile(io_ / "after");
    }
    // The mode the run began with is `mode` (as stty -g gives it).
    bool modeWas(const std::string& mode) const {
        return !readFile(io_ / "before").empty() && mode == readFile(io_ / "before");
    }
    std::string errors() const { return readFile(io_ / "stderr"); }

    // The program's process: down from the shell in the window, the first
    // child each time, to the one that runs the program.
    pid_t program() const {
        std::string pid = trimmed(shell(tmux_ + "display -p '#{pane_pid}'"));
        for (int depth = 0; depth < 6 && !pid.empty(); ++depth) {
            if (trimmed(shell("readlink /proc/" + pid + "/exe")) == ZORVEN_PROGRAM) return std::stoi(pid);
            const std::string children = readFile("/proc/" + pid + "/task/" + pid + "/children");
            pid = children.substr(0, children.find(' '));
        }
        return -1;
    }

    // The terminal is out of its line mode: keys reach the program one at a time.
    bool readsKeys() const {
        const int tty = open(paneTty_.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        termios mode{};
        const bool got = tty >= 0 && tcgetattr(tty, &mode) == 0;
        if (tty >= 0) close(tty);
        return got && (mode.c_lflag & ICANON) == 0;
    }

private:
    static std::string trimmed(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }

    static inline int runs = 0;  // a server of its own each: one going away must not meet the next
    TempDir io_;
    std::string tmux_;
    std::string paneTty_;
};

#define SKIP_WITHOUT_TMUX() \
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed"

}  // namespace

TEST(LineEditor, EditsWithCursorAndEditingKeys) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    TerminalRun run(dir.path());
    ASSERT_TRUE(run.waitForKeys(askInput));
    run.keys("dat.txt Left Left Left Left a Enter");  // into the middle of the name
    ASSERT_TRUE(run.waitForKeys(askOption));
    run.keys("x1 C-a DC Enter");  // Ctrl+A, Delete
    ASSERT_TRUE(run.waitForKeys(askOutput));
    // Ctrl+U empties the line, Ctrl+W takes a word back, Home and End, Ctrl+E
    // and Ctrl+K cut the rest.
    run.text("junk");
    run.keys("C-u");
    run.text("ut more");
    run.keys("C-w BSpace Home O End");
    run.text("xyz");
    run.keys("Left Left Left C-a C-e Left Left Left C-k Enter");
    ASSERT_TRUE(run.waitForKeys(pressKey));
    EXPECT_EQ((std::vector<std::string>{askInput + "data.txt", askOption + "1", askOutput + "Out",
                                        copying("data.txt", "out.csv"), "", pressKey}),
              run.dialogue());
    EXPECT_EQ("a,b\r\n", readFile(dir / "out.csv"));
    run.keys("x");
    EXPECT_EQ(0, run.finish());
    EXPECT_TRUE(run.modeRestored());
    EXPECT_EQ("", run.errors());
}

TEST(LineEditor, EditsAnAnswerThatWrapsPastTheLastColumn) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    TerminalRun run(dir.path());
    ASSERT_TRUE(run.answerUpToOutputName("1"));
    const std::string name = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGH";  // 58 + 44 columns
    run.text("bcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHI");
    run.keys("Home a End BSpace Left Left Left Left Left Left Left Left Left Left Left Left Left Left Left");
    run.keys("C-l");  // a redraw on a cleared screen
    ASSERT_TRUE(run.waitForKeys("abcdefghij"));
    EXPECT_EQ((std::vector<std::string>{askOutput + name.substr(0, 80 - askOutput.size()),
                                        name.substr(80 - askOutput.size())}),
              run.screen());
    run.keys("Enter");
    ASSERT_TRUE(run.waitForKeys(pressKey));
    EXPECT_EQ("a,b\r\n", readFile(dir / "abcdefghijklmnopqrstuvwxyz0123456789abcdefgh.csv"));
}

TEST(LineEditor, RecallsEarlierAnswersWithUpAndDown) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    TerminalRun run(dir.path());
    ASSERT_TRUE(run.answerUpToOutputName("2"));
    // Up past the oldest line stays there; Down comes back to "2".
    run.keys("Up Up Up Down");
    run.text("0");
    run.keys("Up Home x Enter");  // "data.txt" again, the "20" set aside
    ASSERT_TRUE(run.waitForKeys(pressKey));
    EXPECT_EQ(askOutput + "xdata.txt", run.dialogue().at(2));
    EXPECT_EQ("a b\r\n", readFile(dir / "xdata.txt.txt"));
    run.keys("x");
    EXPECT_EQ(0, run.finish());
    EXPECT_EQ("", run.errors());
}

TEST(LineEditor, CompletesNamesWithTab) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "My Data.txt", "a b\n");
    writeFile(dir / "a1.txt", "");
    writeFile(dir / "a2.txt", "");
    mkdir((dir / "folder").c_str(), 0700);
    TerminalRun run(dir.path());
    ASSERT_TRUE(run.waitForKeys(askInput));
    run.keys("M Tab Enter");  // a unique file, quoted for its space
    ASSERT_TRUE(run.waitForKeys(askOption));
    run.keys("a Tab");  // a1.txt and a2.txt: "a" is all they share, so they are listed
    ASSERT_TRUE(run.waitForKeys("a1.txt  a2.txt"));
    run.keys("BSpace 1 Enter");
    ASSERT_TRUE(run.waitForKeys(askOutput));
    run.keys("f Tab");  // a unique directory
    run.text("new");
    run.keys("Enter");
    ASSERT_TRUE(run.waitForKeys(pressKey));
    EXPECT_EQ((std::vector<std::string>{askInput + "\"My Data.txt\"", askOption + "a",
                                        "a1.txt  a2.txt", askOption + "1",
                                        askOutput + "folder/new", copying("my data.txt", "folder/new.csv"), "",
                                        pressKey}),
              run.dialogue());
    EXPECT_EQ("a,b\r\n", readFile(dir / "folder/new.csv"));
    run.keys("x");
    EXPECT_EQ(0, run.finish());
    EXPECT_EQ("", run.errors());
}

TEST(LineEditor, TakesAQuotedNameWithASpace) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "My Data.txt", "a b\n");
    TerminalRun run(dir.path());
    ASSERT_TRUE(run.waitForKeys(askInput));
    run.text("\"My Data.txt\" 1 \"My Out");  // the last quote never closed: the rest of the line
    run.keys("Enter");
    ASSERT_TRUE(run.waitForKeys(pressKey));
    // The next prompts are answered by the words left on the line: they and
    // the Copying line run on, wrapped at 80 columns, as at a plain terminal.
    const std::string wrapped = askOption + askOutput + copying("my data.txt", "my out.csv");
    EXPECT_EQ((std::vector<std::string>{askInput + "\"My Data.txt\" 1 \"My Out", wrapped.substr(0, 80),
                                        wrapped.substr(80, 80), wrapped.substr(160), "", pressKey}),
              run.dialogue());
    EXPECT_EQ("a,b\r\n", readFile(dir / "my out.csv"));
}

TEST(LineEditor, OnlyALineTypedAfterTheOverwriteQuestionAnswersIt) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    writeFile(dir / "report.csv", "old\n");
    TerminalRun run(dir.path());
    ASSERT_TRUE(run.answerUpToOutputName("1"));
    run.keys("'Report yearly' Enter");  // "yearly" must not answer the question
    ASSERT_TRUE(run.waitForKeys(askOverwrite));
    EXPECT_EQ("old\n", readFile(dir / "report.csv"));
    EXPECT_FALSE(exists(dir / "yearly.csv"));
    run.keys("Y Enter");
    ASSERT_TRUE(run.waitForKeys(pressKey));
    EXPECT_EQ((std::vector<std::string>{askInput + "data.txt", askOption + "1", askOutput + "Report yearly",
                                        askOverwrite + "Y", copying("data.txt", "report.csv"), "", pressKey}),
              run.dialogue());
    EXPECT_EQ("a,b\r\n", readFile(dir / "report.csv"));
}

TEST(LineEditor, CtrlDOnAnEmptyLineEndsTheAnswersAtEachQuestion) {
    SKIP_WITHOUT_TMUX();
    struct Typed {
        std::string question, answer;
    };
    const struct {
        std::vector<Typed> typed;  // a line typed at each question before the last
        std::string lastQuestion;
    } cases[] = {
        {{}, askInput},
        {{{askInput, "data.txt"}}, askOption},
        {{{askInput, "data.txt"}, {askOption, "3"}}, askTabs},
        {{{askInput, "data.txt"}, {askOption, "6"}}, askLineSpaces},
        {{{askInput, "data.txt"}, {askOption, "1"}}, askOutput},
        {{{askInput, "data.txt"}, {askOption, "1"}, {askOutput, "out"}}, askOverwrite},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.lastQuestion);
        TempDir dir;
        writeFile(dir / "data.txt", "a b\n");
        writeFile(dir / "out.csv", "old\n");
        TerminalRun run(dir.path());
        std::vector<std::string> expected;
        for (const Typed& line : row.typed) {
            ASSERT_TRUE(run.waitForKeys(line.question));
            run.text(line.answer);
            run.keys("Enter");
            expected.push_back(line.question + line.answer);
        }
        ASSERT_TRUE(run.waitForKeys(row.lastQuestion));
        run.keys("x BSpace C-d");  // a line emptied again is empty
        EXPECT_EQ(0, run.finish());
        // The screen has no trailing blank.
        expected.push_back(row.lastQuestion.substr(0, row.lastQuestion.size() - 1));
        EXPECT_EQ(expected, run.dialogue());
        EXPECT_EQ("old\n", readFile(dir / "out.csv"));
        EXPECT_EQ("a b\n", readFile(dir / "data.txt"));
        EXPECT_TRUE(run.modeRestored());
        EXPECT_EQ("", run.errors());
    }
}

TEST(LineEditor, TheTerminalGetsItsModeBackAlsoWhenTheProgramIsEnded) {
    SKIP_WITHOUT_TMUX();
    const struct {
        const char* how;
        int signal;  // sent to the program while it edits; 0: Ctrl+C typed
        int status;  // as the shell sees the ending
    } cases[] = {
        {"Ctrl+C", 0, 128 + SIGINT},
        {"SIGTERM", SIGTERM, 128 + SIGTERM},
        {"SIGHUP", SIGHUP, 128 + SIGHUP},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.how);
        TempDir dir;
        writeFile(dir / "data.txt", "a b\n");
        // A mode of the user's own, which the editor's cooked mode would not keep.
        TerminalRun run(dir.path(), "LANG=C.UTF-8", "", "stty -echoctl -echoe");
        ASSERT_TRUE(run.waitForKeys(askInput));
        run.keys("data.txt Enter");
        ASSERT_TRUE(run.waitForKeys(askOption));
        run.text("12");
        run.keys("Left");
        if (row.signal == 0)
            run.keys("C-c");
        else
            kill(run.program(), row.signal);
        EXPECT_EQ(row.status, run.finish());
        EXPECT_TRUE(run.modeRestored());
    }
    // And after a whole run that ends as it should.
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    TerminalRun run(dir.path(), "LANG=C.UTF-8", "", "stty -echoctl -echoe");
    ASSERT_TRUE(run.answerUpToOutputName("1"));
    run.keys("o Enter");
    ASSERT_TRUE(run.waitForKeys(pressKey));
    run.keys("x");
    EXPECT_EQ(0, run.finish());
    EXPECT_TRUE(run.modeRestored());
}

TEST(LineEditor, APipedRunWritingToAFileDoesNotWaitForAKey) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    // The terminal is there, but the prompt for the key goes into the log.
    TerminalRun run(dir.path(), "LANG=C.UTF-8", "sh -c 'printf \"data.txt\\n1\\nOut\\n\" | $ZORVEN >log'");
    EXPECT_EQ(0, run.finish());
    EXPECT_EQ("a,b\r\n", readFile(dir / "out.csv"));
    const std::string log = readFile(dir / "log");
    EXPECT_EQ(log.size() - pressKey.size(), log.rfind(pressKey));
}

// The editor's library is loaded only when a terminal asks for it: a run
// whose answers come from a pipe never loads it, nor what it needs in turn.
TEST(LineEditor, APipedRunNeverLoadsTheEditorLibrary) {
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    const std::string loaded = shell("cd " + dir.path() + " && printf 'data.txt\\n1\\nOut\\n' | LD_DEBUG=libs " +
                                     ZORVEN_PROGRAM + " 2>&1 >/dev/null");
    EXPECT_NE(std::string::npos, loaded.find("libc.so")) << "the loader's record is missing:\n" << loaded;
    EXPECT_EQ(std::string::npos, loaded.find("libedit")) << loaded;
    EXPECT_EQ("a,b\r\n", readFile(dir / "out.csv"));
}

// The editor works in the user's locale, but a name keeps its bytes: only A
// to Z are lower-cased, whatever the locale says of the bytes above 127.
TEST(LineEditor, NamesKeepTheirBytesInEveryLocale) {
    SKIP_WITHOUT_TMUX();
    TempDir locales;
    // A Latin-1 locale of the test's own, made from the sources the locales
    // package installs: no system-wide change is needed.
    const bool haveLatin1 =
        !shell("command -v localedef").empty() &&
        (shell("localedef -i en_US -f ISO-8859-1 " + locales / "en_US.ISO-8859-1" + " >/dev/null 2>&1; echo $?"),
         exists(locales / "en_US.ISO-8859-1/LC_CTYPE"));
    const std::string latin1Keys = "-H c9 54 c0 \\; send-keys Left \\; send-keys -H c9";
    const std::string utf8Keys = "-H c3 89 54 c3 80 \\; send-keys Left \\; send-keys -H c3 89";
    const struct {
        std::string environment;
        std::string input, inputKeys;  // the input file, and its name as tmux types it
        std::string outputKeys;        // the output name: bytes in hex, and a cursor key
        std::string output;            // the file it makes
    } cases[] = {
        // "DÉ.txt"; and É, T, À, Left, É: "ÉTÉÀ", in Latin-1 bytes.
        {"LOCPATH=" + locales.path() + " LANG=en_US.ISO-8859-1", "D\xc9.txt", "-H 44 c9 2e 74 78 74", latin1Keys,
         "\xc9t\xc9\xc0.csv"},
        // The same in UTF-8; with no locale at all the editor takes UTF-8 too.
        {"LANG=C.UTF-8", "D\xc3\x89.txt", "-H 44 c3 89 2e 74 78 74", utf8Keys, "\xc3\x89t\xc3\x89\xc3\x80.csv"},
        {"", "D\xc3\x89.txt", "-H 44 c3 89 2e 74 78 74", utf8Keys, "\xc3\x89t\xc3\x89\xc3\x80.csv"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.environment);
        if (row.environment.find("ISO-8859-1") != std::string::npos && !haveLatin1) {
            std::printf("skipped the Latin-1 locale: localedef could not make it (install the locales package)\n");
            continue;
        }
        TempDir dir;
        writeFile(dir / row.input, "a b\n");
        TerminalRun run(dir.path(), row.environment);
        ASSERT_TRUE(run.waitForKeys(askInput));
        run.keys(row.inputKeys);
        run.keys("Enter");
        ASSERT_TRUE(run.waitForKeys(askOption));
        run.keys("1 Enter");
        ASSERT_TRUE(run.waitForKeys(askOutput));
        run.keys(row.outputKeys);
        run.keys("Enter");
        ASSERT_TRUE(run.waitForKeys(pressKey));
        EXPECT_EQ("a,b\r\n", readFile(dir / row.output));
        run.keys("x");
        EXPECT_EQ(0, run.finish());
        EXPECT_EQ("", run.errors());
    }
}

TEST(LineEditor, CtrlZGivesTheShellItsModeAndTheEditorGetsItsOwnBack) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    TempDir side;
    writeFile(dir / "data.txt", "a b\n");
    // A shell with job control, as a person's is: the stop hands it the
    // terminal, it notes the mode, and fg continues the program.
    TerminalRun run(dir.path(), "LANG=C.UTF-8",
                    "sh -c 'set -m; $ZORVEN; stty -g >" + side / "stopped" + "; fg >/dev/null'",
                    "stty -echoctl -echoe");
    ASSERT_TRUE(run.waitForKeys(askInput));
    run.text("dat");
    const pid_t program = run.program();
    ASSERT_GT(program, 0);
    kill(program, SIGTSTP);  // as Ctrl+Z does
    for (int i = 0; i < 200 && !exists(side / "stopped"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(run.waitForKeys(askInput));  // continued, and editing again
    run.text("a.txt");
    run.keys("Enter");
    ASSERT_TRUE(run.waitForKeys(askOption));
    run.keys("C-d");
    EXPECT_EQ(0, run.finish());
    EXPECT_TRUE(run.modeRestored());
    EXPECT_TRUE(run.modeWas(readFile(side / "stopped")));
}

TEST(LineEditor, ATerminalThatCannotMoveItsCursorUpGetsPlainLines) {
    SKIP_WITHOUT_TMUX();
    TempDir dir;
    writeFile(dir / "data.txt", "a b\n");
    TerminalRun run(dir.path(), "TERM=dumb LANG=C.UTF-8");
    ASSERT_TRUE(run.waitForKeys(askInput, false));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(run.readsKeys());  // the terminal's own line editing, as ever
    run.keys("data.txt Enter");
    ASSERT_TRUE(run.waitForKeys(askOption, false));
    run.keys("C-d");
    EXPECT_EQ(0, run.finish());
    EXPECT_TRUE(run.modeRestored());
}
