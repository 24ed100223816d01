// The whole program, run with its answers on standard input and no terminal:
// every byte it writes to the console and to the output file is checked.

#include "app/dialogue.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "test_support.h"

using namespace std::string_literals;

namespace {

// What the console shows before the first question.
const std::string title = titleScreen();

const std::string clash = "\r\n" + consoleText("clash") + "\r\n";
const std::string tooLong = consoleText("tooLong") + "\r\n";
const std::string startAgain = consoleText("startAgain") + "\r\n";
const std::string pressKey = "\r\n" + consoleText("pressKey");

// The text with each byte `from` replaced by `to`.
std::string replaced(const std::string& text, char from, const std::string& to) {
    std::string result;
    for (const char c : text) {
        if (c == from)
            result += to;
        else
            result += c;
    }
    return result;
}

std::string copying(const std::string& from, const std::string& to) {
    return consoleText("copying", {from, to}) + "\r\n";
}
std::string cantFind(const std::string& name) { return "\r\n" + consoleText("cantFind", {name}); }
std::string cantOpen(const std::string& name) { return consoleText("cantOpen", {name}) + "\r\n"; }
std::string cantWrite(const std::string& name) { return consoleText("cantWrite", {name}) + "\r\n"; }
std::string cantRead(const std::string& name) { return consoleText("cantRead", {name}) + "\r\n"; }
std::string interrupted(const std::string& name) { return consoleText("interrupted", {name}) + "\r\n"; }

class DialogueTest : public testing::Test {
protected:
    // Runs the program in the test's directory; expects exit status 0.
    std::string run(const std::string& answers) {
        const RunResult result = runProgram(dir.path(), answers);
        EXPECT_EQ(0, result.status);
        return result.console;
    }

    TempDir dir;
};

}  // namespace

TEST(LowerCaseName, ChangesOnlyAsciiCapitals) {
    char name[] = "AZaz@[`{09.\xc0\xde\xff";
    lowerCaseName(name);
    EXPECT_EQ("azaz@[`{09.\xc0\xde\xff"s, name);
}

TEST_F(DialogueTest, ConvertsAndEndsWithTheKeyPrompt) {
    writeFile(dir / "data.txt", "a b\tc\r\n  d  e\n");
    EXPECT_EQ(title + askInput + askOption + askOutput + copying("data.txt", "out.csv") + pressKey,
              run("data.txt\n1\nOut\n"));
    EXPECT_EQ("a,b,c\r\nd,e\r\n", readFile(dir / "out.csv"));
    EXPECT_EQ("a b\tc\r\n  d  e\n", readFile(dir / "data.txt"));
}

TEST_F(DialogueTest, EachOptionNamesItsOutputAndTakesItsParameter) {
    const struct {
        std::string answers, console, outputName, output;
    } cases[] = {
        {"Data.TXT 2 Report", askOption + askOutput + copying("data.txt", "report.txt"), "report.txt", "a b c\r\n"},
        {"Data.TXT 3 2x r", askOption + askTabs + askOutput + copying("data.txt", "r.tsv"), "r.tsv", "a\t\tb\t\tc\r\n"},
        {"Data.TXT 3 3 r", askOption + askTabs + askOutput + copying("data.txt", "r.tsv"), "r.tsv",
         "a\t\t\tb\t\t\tc\r\n"},
        {"Data.TXT 3 5 r", askOption + askTabs + askOutput + copying("data.txt", "r.tsv"), "r.tsv", "a\tb\tc\r\n"},
        {"Data.TXT 3 0 r", askOption + askTabs + askOutput + copying("data.txt", "r.tsv"), "r.tsv", "a\tb\tc\r\n"},
        {"Data.TXT 3 x r", askOption + askTabs + askOutput + copying("data.txt", "r.tsv"), "r.tsv", "a\tb\tc\r\n"},
        {"Data.TXT 4 3 Report", askOption + askTabs + askOutput + copying("data.txt", "report.tsv"), "report.tsv",
         "a,b,c\r\n"},
        {"Data.TXT 5 r", askOption + askOutput + copying("data.txt", "r.txt"), "r.txt", "a,b,c\r\n"},
        {"Data.TXT 1 out.txt", askOption + askOutput + copying("data.txt", "out.txt.csv"), "out.txt.csv", "a,b,c\r\n"},
        {"Data.TXT 1 data", askOption + askOutput + copying("data.txt", "data.csv"), "data.csv", "a,b,c\r\n"},
        {"Data.TXT 6 2", askOption + askLineSpaces + copying("Data.TXT", "2sp_Data.TXT"), "2sp_Data.TXT",
         "a,b,c\r\n\r\n\r\n"},
        {"Data.TXT 6 5", askOption + askLineSpaces + copying("Data.TXT", "0sp_Data.TXT"), "0sp_Data.TXT", "a,b,c\r\n"},
        {"Data.TXT 6 7", askOption + askLineSpaces + copying("Data.TXT", "0sp_Data.TXT"), "0sp_Data.TXT", "a,b,c\r\n"},
        {"Data.TXT 6 x", askOption + askLineSpaces + copying("Data.TXT", "0sp_Data.TXT"), "0sp_Data.TXT", "a,b,c\r\n"},
        {"Data.TXT 6 3b", askOption + askLineSpaces + copying("Data.TXT", "3bsp_Data.TXT"), "3bsp_Data.TXT",
         "a,b,c\r\n\r\n\r\n\r\n"},
        {"Data.TXT 6 9z", askOption + askLineSpaces + copying("Data.TXT", "0zsp_Data.TXT"), "0zsp_Data.TXT",
         "a,b,c\r\n"},
        // An empty answer, in quotes, is out of range too.
        {"Data.TXT 6 \"\"", askOption + askLineSpaces + copying("Data.TXT", "0sp_Data.TXT"), "0sp_Data.TXT",
         "a,b,c\r\n"},
        // Rejected options bring the prompt back; only the first character counts.
        {"Data.TXT 7 0 a 12 r",
         askOption + askOption + askOption + askOption + askOutput + copying("data.txt", "r.csv"), "r.csv",
         "a,b,c\r\n"},
        {"Data.TXT 61 1", askOption + askLineSpaces + copying("Data.TXT", "1sp_Data.TXT"), "1sp_Data.TXT",
         "a,b,c\r\n\r\n"},
        {"\n\n  Data.TXT\n\n 2 \n\n r\n", askOption + askOutput + copying("data.txt", "r.txt"), "r.txt", "a b c\r\n"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.answers);
        TempDir each;
        writeFile(each / "Data.TXT", "a,b,c\n");
        const RunResult result = runProgram(each.path(), row.answers);
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(title + askInput + row.console + pressKey, result.console);
        EXPECT_EQ(row.output, readFile(each / row.outputName));
        EXPECT_EQ("a,b,c\n", readFile(each / "Data.TXT"));
    }
}

TEST_F(DialogueTest, NamesWithSpacesAreGivenInQuotes) {
    writeFile(dir / "My Data.txt", "a b\n");
    EXPECT_EQ(title + askInput + askOption + askOutput + copying("my data.txt", "my out.csv") + pressKey,
              run("\"My Data.txt\" 1 \"My Out\"\n"));
    EXPECT_EQ("a,b\r\n", readFile(dir / "my out.csv"));
    // Unquoted, the name stops at the space, as it always has.
    EXPECT_EQ(title + askInput + cantFind("My"), run("My Data.txt\n"));
    // 63 characters inside the quotes fit; the quotes do not count.
    const std::string longest = "x " + std::string(61, 'y');
    writeFile(dir / longest, "c\n");
    EXPECT_EQ(title + askInput + askOption + askOutput + copying(longest, "o.csv") + pressKey,
              run("\"" + longest + "\" 1 o"));
}

TEST(Dialogue, NamesWithFoldersKeepTheirFolders) {
    // Option 6 puts its prefix before the last part of the input name; options
    // 1 to 5 lower-case only the last part of each name. Run in "Run", beside
    // "Sub" and "Proj"; the temporary folder's own name has capitals too.
    TempDir top;
    const std::string absolute = top / "Sub/Mixed.TXT";
    const std::string absoluteLower = top / "Sub/mixed.txt";
    const struct {
        std::string answers, console, outputPath, output;
    } cases[] = {
        {"Data.TXT 6 1", askLineSpaces + copying("Data.TXT", "1sp_Data.TXT"), "Run/1sp_Data.TXT", "a b\r\n\r\n"},
        {"Data.TXT 1 Out", askOutput + copying("data.txt", "out.csv"), "Run/out.csv", "a,b\r\n"},
        {"./Data.TXT 6 0", askLineSpaces + copying("./Data.TXT", "./0sp_Data.TXT"), "Run/0sp_Data.TXT", "a b\r\n"},
        {"../Sub/Mixed.TXT 6 1", askLineSpaces + copying("../Sub/Mixed.TXT", "../Sub/1sp_Mixed.TXT"),
         "Sub/1sp_Mixed.TXT", "m n\r\n\r\n"},
        {absolute + " 6 2", askLineSpaces + copying(absolute, top / "Sub/2sp_Mixed.TXT"), "Sub/2sp_Mixed.TXT",
         "m n\r\n\r\n\r\n"},
        {"../Sub/Mixed.TXT 1 ../Proj/Result", askOutput + copying("../Sub/mixed.txt", "../Proj/result.csv"),
         "Proj/result.csv", "m,n\r\n"},
        {absolute + " 2 " + top / "Proj/OUT", askOutput + copying(absoluteLower, top / "Proj/out.txt"),
         "Proj/out.txt", "m n\r\n"},
        {"./Data.TXT 1 ../Proj/Data", askOutput + copying("./data.txt", "../Proj/data.csv"), "Proj/data.csv",
         "a,b\r\n"},
        // The same text once the last parts are lower-cased: a clash.
        {"../Sub/Mixed.TXT 2 ../Sub/MIXED ../Sub/Other",
         askOutput + clash + askOutput + copying("../Sub/mixed.txt", "../Sub/other.txt"), "Sub/other.txt",
         "m n\r\n"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.answers);
        for (const char* folder : {"Run", "Sub", "Proj"}) mkdir((top / folder).c_str(), 0777);
        writeFile(top / "Run/Data.TXT", "a b\n");
        writeFile(top / "Sub/Mixed.TXT", "m n\n");
        const RunResult result = runProgram(top / "Run", row.answers);
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(title + askInput + askOption + row.console + pressKey, result.console);
        EXPECT_EQ(row.output, readFile(top / row.outputPath));
        std::filesystem::remove_all(top / "Run");
        std::filesystem::remove_all(top / "Sub");
        std::filesystem::remove_all(top / "Proj");
    }
}

TEST_F(DialogueTest, MissingInputEndsWithTheNameAsTyped) {
    EXPECT_EQ(title + askInput + cantFind("Missing.TXT"), run("Missing.TXT\n"));
    mkdir((dir / "folder").c_str(), 0777);
    EXPECT_EQ(title + askInput + cantFind("folder"), run("folder\n"));
}

TEST_F(DialogueTest, OutputNameEqualToTheInputIsAskedAgain) {
    // Letter case tells file names apart here, but not output names from input names.
    writeFile(dir / "DATA.TXT", "x y\n");
    EXPECT_EQ(title + askInput + askOption + askOutput + clash + askOutput + clash + askOutput +
                  copying("data.txt", "other.txt") + pressKey,
              run("DATA.TXT\n2\nData\ndata\nother\n"));
    EXPECT_EQ("x y\r\n", readFile(dir / "other.txt"));
}

TEST_F(DialogueTest, TheInputUnderAnotherNameIsAClashToo) {
    writeFile(dir / "data.csv", "keep me\n");
    symlink("data.csv", (dir / "link.csv").c_str());
    link((dir / "data.csv").c_str(), (dir / "hard.csv").c_str());
    mkdir((dir / "sub").c_str(), 0777);
    symlink("../data.csv", (dir / "sub/up.csv").c_str());
    EXPECT_EQ(title + askInput + askOption + askOutput + clash + askOutput + clash + askOutput + clash + askOutput +
                  copying("data.csv", "new.csv") + pressKey,
              run("data.csv 1 link hard sub/up new"));
    EXPECT_EQ("keep me\n", readFile(dir / "data.csv"));
    EXPECT_EQ("keep,me\r\n", readFile(dir / "new.csv"));
}

TEST_F(DialogueTest, OptionSixNeverEmptiesItsOwnInput) {
    writeFile(dir / "data.txt", "keep me\n");
    symlink("data.txt", (dir / "0sp_data.txt").c_str());
    EXPECT_EQ(title + askInput + askOption + askLineSpaces + cantOpen("0sp_data.txt"), run("data.txt 6 0"));
    EXPECT_EQ("keep me\n", readFile(dir / "data.txt"));
}

TEST_F(DialogueTest, ExistingOutputIsOverwrittenOnlyWhenTheAnswerBeginsWithY) {
    const struct {
        std::string answer;
        bool overwrite;
    } cases[] = {{"y", true}, {"Y", true}, {"ye", true}, {"yes", true}, {"n", false},
                 {"N", false}, {"no", false}, {"x", false}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.answer);
        TempDir each;
        writeFile(each / "data.txt", "a b\n");
        writeFile(each / "out.csv", "old\n");
        const RunResult result = runProgram(each.path(), "data.txt 1 out " + row.answer + "\n");
        EXPECT_EQ(0, result.status);
        if (row.overwrite) {
            EXPECT_EQ(
                title + askInput + askOption + askOutput + askOverwrite + copying("data.txt", "out.csv") + pressKey,
                result.console);
            EXPECT_EQ("a,b\r\n", readFile(each / "out.csv"));
        } else {
            EXPECT_EQ(title + askInput + askOption + askOutput + askOverwrite + startAgain, result.console);
            EXPECT_EQ("old\n", readFile(each / "out.csv"));
        }
    }
}

TEST_F(DialogueTest, AFileMatchingTheSameNameWithOtherPathIsAskedAbout) {
    writeFile(dir / "data.txt", "a\n");
    writeFile(dir / "data.csv", "old\n");
    // ./data.txt and data.txt differ as texts, but they are one file.
    EXPECT_EQ(title + askInput + askOption + askOutput + askOverwrite + startAgain, run("./data.txt 1 data n"));
}

TEST_F(DialogueTest, OutputThatCannotBeOpenedEndsTheRun) {
    writeFile(dir / "data.txt", "a\n");
    writeFile(dir / "locked.csv", "old\n");
    chmod((dir / "locked.csv").c_str(), 0444);
    mkdir((dir / "folder.csv").c_str(), 0777);
    EXPECT_EQ(title + askInput + askOption + askOutput + askOverwrite + cantOpen("locked.csv"),
              run("data.txt 1 Locked y"));
    EXPECT_EQ("old\n", readFile(dir / "locked.csv"));
    EXPECT_EQ(title + askInput + askOption + askOutput + cantOpen("folder.csv"), run("data.txt 1 folder"));
    mkdir((dir / "sub").c_str(), 0777);
    writeFile(dir / "sub/a.txt", "a\n");
    mkdir((dir / "sub/0sp_a.txt").c_str(), 0777);
    EXPECT_EQ(title + askInput + askOption + askLineSpaces + cantOpen("sub/0sp_a.txt"), run("sub/a.txt 6 0"));
}

TEST_F(DialogueTest, OptionSixRewritesAnExistingFileWithoutAsking) {
    writeFile(dir / "Notes.TXT", "n\n");
    writeFile(dir / "2sp_Notes.TXT", "old contents\n");
    EXPECT_EQ(title + askInput + askOption + askLineSpaces + copying("Notes.TXT", "2sp_Notes.TXT") + pressKey,
              run("Notes.TXT 6 2"));
    EXPECT_EQ("n\r\n\r\n\r\n", readFile(dir / "2sp_Notes.TXT"));
}

TEST_F(DialogueTest, EndOfAnswersEndsTheRunHavingMadeNothing) {
    writeFile(dir / "data.txt", "a\n");
    writeFile(dir / "out.csv", "old\n");
    const struct {
        std::string answers, console;
    } cases[] = {
        {"", askInput},
        {"   \n\n", askInput},
        {"data.txt", askInput + askOption},
        {"data.txt 9 x", askInput + askOption + askOption + askOption},
        {"data.txt 3", askInput + askOption + askTabs},
        {"data.txt 6", askInput + askOption + askLineSpaces},
        {"data.txt 1", askInput + askOption + askOutput},
        {"data.txt 2 data", askInput + askOption + askOutput + clash + askOutput},
        {"data.txt 1 out", askInput + askOption + askOutput + askOverwrite},
        {"data.txt\x1a 1 new", askInput + askOption},  // Ctrl-Z ends the answers
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.answers));
        EXPECT_EQ(title + row.console + "\r\n", run(row.answers));
        EXPECT_EQ("old\n", readFile(dir / "out.csv"));
        EXPECT_FALSE(exists(dir / "new.csv"));
        EXPECT_FALSE(exists(dir / "data.csv"));
    }
}

TEST_F(DialogueTest, NamesLongerThanTheBufferAreAskedAgainNeverCut) {
    const std::string longest(63, 'm');
    const std::string over(64, 'n');
    writeFile(dir / longest, "a b\n");
    writeFile(dir / over.substr(0, 63), "trap\n");  // what a cut name would open
    EXPECT_EQ(title + askInput + tooLong + askInput + askOption + askOutput + tooLong + askOutput +
                  copying(longest, "o.csv") + pressKey,
              run(over + "\n" + longest + "\n1\n" + over + "\no\n"));
    EXPECT_EQ("a,b\r\n", readFile(dir / "o.csv"));
    // The longest names fit whole: with the option-6 prefix that is 68 characters.
    EXPECT_EQ(title + askInput + askOption + askLineSpaces + copying(longest, "4xsp_" + longest) + pressKey,
              run(longest + " 6 4x"));
    EXPECT_EQ("a b\r\n\r\n\r\n\r\n\r\n", readFile(dir / ("4xsp_" + longest)));
}

TEST_F(DialogueTest, ClosedStandardStreamsNeverMixWithTheFiles) {
    writeFile(dir / "data.txt", "a b\n");
    // With no console output, the output file must not take its place.
    const RunResult result = runProgram(dir.path(), "data.txt 1 out", [] { close(1); });
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("", result.console);
    EXPECT_EQ("a,b\r\n", readFile(dir / "out.csv"));
    // With no answers, the input file must not supply them.
    writeFile(dir / "trap", "data.txt 1 trapped");
    const RunResult noAnswers = runProgram(dir.path(), "", [] { close(0); });
    EXPECT_EQ(title + askInput + "\r\n", noAnswers.console);
    EXPECT_FALSE(exists(dir / "trapped.csv"));
}

TEST_F(DialogueTest, AWriteThatFailsIsReported) {
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "word word\n";
    // A write past the limit fails with EFBIG, whether the caller ignores
    // SIGXFSZ or leaves it at its default action, which would end the program.
    for (const auto action : {SIG_IGN, SIG_DFL}) {
        SCOPED_TRACE(action == SIG_IGN ? "SIGXFSZ ignored" : "SIGXFSZ at its default action");
        TempDir each;
        writeFile(each / "data.txt", big);
        const RunResult result = runProgram(each.path(), "data.txt 1 out", [action] {
            signal(SIGXFSZ, action);
            const rlimit limit{10000, 10000};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(
            title + askInput + askOption + askOutput + copying("data.txt", "out.csv") + cantWrite("out.csv") + pressKey,
            result.console);
        EXPECT_LE(readFile(each / "out.csv").size(), 10000u);
    }
}

TEST_F(DialogueTest, AReadThatFailsIsReported) {
    // Reading this file at offset 0 fails: nothing is mapped there.
    if (access("/proc/self/mem", R_OK) != 0) GTEST_SKIP() << "no /proc/self/mem here";
    EXPECT_EQ(title + askInput + askOption + askOutput + copying("/proc/self/mem", "out.txt") +
                  cantRead("/proc/self/mem") + pressKey,
              run("/proc/self/mem 2 out"));
    EXPECT_EQ("", readFile(dir / "out.txt"));
}

TEST_F(DialogueTest, AFifoWhoseWriterVanishesGivesWhatArrived) {
    // The writer's end closing reads as the end of the input: the copy holds
    // what was sent, and the run ends as usual instead of waiting on.
    ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0600));
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        alarm(20);  // never left blocked if the program does not open the FIFO
        const int fd = open((dir / "pipe").c_str(), O_WRONLY | O_CLOEXEC);
        const char part[] = "a b\nc\td";  // then gone, mid-line
        _exit(fd >= 0 && write(fd, part, sizeof part - 1) == sizeof part - 1 ? 0 : 1);
    }
    EXPECT_EQ(title + askInput + askOption + askOutput + copying("pipe", "out.csv") + pressKey,
              run("pipe 1 out"));
    int status = -1;
    ASSERT_EQ(writer, waitpid(writer, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("a,b\r\nc,d", readFile(dir / "out.csv"));
}

TEST(Dialogue, AnInterruptedCopyIsReportedAndEndsByItsSignal) {
    // The input comes slowly through a FIFO that never ends; once the program
    // has taken all that was sent, it is sent the signal. It keeps what it
    // converted before it, a start of the whole conversion with nothing
    // added where it stops, says the copy is cut short and ends by that
    // signal. The sizes are no multiple of a piece, and option 6's last line
    // has no end yet: a line end written for it would show.
    const std::string csvLines = [] {
        std::string text;
        for (int i = 0; i < 7001; ++i) text += "one,two,three\n";
        return text;
    }();
    const std::string longLines = [] {
        std::string text;
        for (int i = 0; i < 101; ++i) text += std::string(999, 'x') + "\n";
        return text + "the start of a line";
    }();
    const struct {
        int signal;
        int times;  // a closing terminal sends SIGHUP twice: the system's and the shell's
        std::string answers, console, outputName, sent, converted;
    } cases[] = {
        {SIGINT, 1, "pipe 2 out", askOutput + copying("pipe", "out.txt"), "out.txt", csvLines,
         replaced(replaced(csvLines, ',', " "), '\n', "\r\n")},
        {SIGTERM, 1, "pipe 1 out", askOutput + copying("pipe", "out.csv"), "out.csv", csvLines,
         replaced(csvLines, '\n', "\r\n")},
        // Lines cross pieces, and the last line sent has no end yet: no line
        // end may be added where the copy stops.
        {SIGTERM, 1, "pipe 6 1", askLineSpaces + copying("pipe", "1sp_pipe"), "1sp_pipe", longLines,
         replaced(longLines, '\n', "\r\n\r\n")},
        {SIGHUP, 2, "pipe 6 0", askLineSpaces + copying("pipe", "0sp_pipe"), "0sp_pipe", longLines,
         replaced(longLines, '\n', "\r\n")},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.answers + " " + strsignal(row.signal));
        TempDir each;
        ASSERT_EQ(0, mkfifo((each / "pipe").c_str(), 0600));
        const std::string pidPath = each / "pid";
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            alarm(30);  // never left behind
            pid_t program = 0;
            while (program <= 0) {
                usleep(10000);
                program = static_cast<pid_t>(std::atoi(readFile(pidPath).c_str()));
            }
            const int fd = open((each / "pipe").c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || write(fd, row.sent.data(), row.sent.size()) != static_cast<ssize_t>(row.sent.size()))
                _exit(1);
            int unread = 1;
            while (ioctl(fd, FIONREAD, &unread) == 0 && unread > 0) usleep(10000);
            usleep(100000);  // let it convert what it has and wait for more
            for (int i = 0; i < row.times; ++i) kill(program, row.signal);
            pause();  // the FIFO stays open: the input never ends by itself
            _exit(0);
        }
        const RunResult result = runProgram(each.path(), row.answers, [pidPath] {
            writeFile(pidPath + ".new", std::to_string(getpid()));
            rename((pidPath + ".new").c_str(), pidPath.c_str());
        });
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        EXPECT_EQ(row.signal, result.signal);
        EXPECT_EQ(title + askInput + askOption + row.console + interrupted(row.outputName), result.console);
        const std::string kept = readFile(each / row.outputName);
        EXPECT_GT(kept.size(), 0u);
        EXPECT_LE(kept.size(), row.converted.size());
        EXPECT_TRUE(row.converted.compare(0, kept.size(), kept) == 0)
            << "not the start of the converted input; it ends in "
            << testing::PrintToString(kept.substr(kept.size() - std::min<std::size_t>(kept.size(), 12)));
    }
}

TEST_F(DialogueTest, AFullDeviceIsReported) {
    // The writes fail with ENOSPC: at the first full buffer of a long copy, at
    // the closing flush of a short one.
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    writeFile(dir / "short.txt", "a b\n");
    writeFile(dir / "long.txt", std::string(200000, 'x'));
    symlink("/dev/full", (dir / "out.csv").c_str());
    symlink("/dev/full", (dir / "0sp_long.txt").c_str());
    EXPECT_EQ(title + askInput + askOption + askOutput + askOverwrite + copying("short.txt", "out.csv") +
                  cantWrite("out.csv") + pressKey,
              run("short.txt 1 out y"));
    EXPECT_EQ(title + askInput + askOption + askLineSpaces + copying("long.txt", "0sp_long.txt") +
                  cantWrite("0sp_long.txt") + pressKey,
              run("long.txt 6 0"));
}

TEST_F(DialogueTest, AnOutputPipeIsOpenedOnlyWithAReaderAndAVanishingReaderIsReported) {
    writeFile(dir / "data.txt", std::string(1 << 20, 'x'));
    ASSERT_EQ(0, mkfifo((dir / "out.csv").c_str(), 0666));
    // No reader: the open fails at once rather than waiting for one.
    EXPECT_EQ(title + askInput + askOption + askOutput + askOverwrite + cantOpen("out.csv"), run("data.txt 1 out y"));

    // A reader that takes a little and goes: the writes after it fail. The
    // pipe is held open for reading and writing until then, so the program
    // finds a reader whenever it comes and the reader no end before it.
    const int hold = open((dir / "out.csv").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(hold, 0);
    std::thread reader([path = dir / "out.csv", hold] {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        char some[100];
        if (fd >= 0) (void)read(fd, some, sizeof some);
        close(hold);
        if (fd >= 0) close(fd);
    });
    const std::string console = run("data.txt 1 out y");
    reader.join();
    EXPECT_EQ(title + askInput + askOption + askOutput + askOverwrite + copying("data.txt", "out.csv") +
                  cantWrite("out.csv") + pressKey,
              console);
}
