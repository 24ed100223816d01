#include "platform/text_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "every_path.h"
#include "first_difference.h"
#include "temp_files.h"

using namespace std::string_literals;

namespace {

class TextFileTest : public testing::Test {
protected:
    // Opens a file holding `bytes` for input.
    void openWith(const std::string& bytes) {
        writeFile(dir / "in", bytes);
        openInputFile(input, (dir / "in").c_str());
        ASSERT_FALSE(input.failed);
    }

    // Every byte readChar delivers, up to its -1.
    std::string readAll() {
        std::string bytes;
        int c;
        while ((c = readChar(input)) != -1) bytes += static_cast<char>(c);
        return bytes;
    }

    struct Line {
        std::string text;
        bool endOfInput, failed;
    };
    Line nextLine(std::size_t size = 1024) {
        std::string buffer(size, '#');
        const std::size_t length = readLine(input, buffer.data(), size, '\n');
        EXPECT_EQ('\0', buffer[length]);
        return {buffer.substr(0, length), input.endOfInput, input.failed};
    }

    TempDir dir;
    TextFile input;
};

}  // namespace

TEST_F(TextFileTest, ReadingDropsCarriageReturnsAndStopsAtCtrlZ) {
    const struct { std::string bytes, read; } cases[] = {
        {"a\r\nb\rc", "a\nb" "c"},
        {"\r\r\r", ""},
        {"ab\x1a" "cd", "ab"},
        {"\x1a", ""},
        {"\0\xff\x1b"s, "\0\xff\x1b"s},
        {std::string(200000, '\r') + "x" + std::string(70000, 'y'), "x" + std::string(70000, 'y')},
        {"ab\x1a" + std::string(200000, 'c'), "ab"},  // for good, also past the buffer it stood in
    };
    onEveryPath([&] {
        for (const auto& row : cases) {
            SCOPED_TRACE(testing::PrintToString(row.bytes.substr(0, 20)));
            openWith(row.bytes);
            EXPECT_EQ("", firstDifference(row.read, readAll()));
            EXPECT_TRUE(input.endOfInput);
            EXPECT_TRUE(input.failed);
            EXPECT_EQ(-1, readChar(input));  // and so it stays
            EXPECT_FALSE(input.ioError);
        }
    });
}

TEST_F(TextFileTest, ReadingStopsAtTheFirstCtrlZWhereverItFalls) {
    // At and around the edges of each set's vectors and of the file buffer,
    // after text with a CR every third byte or every seventeenth (so that
    // pieces of a vector hold many CRs, or one, or none).
    const std::size_t places[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 131071, 131072, 131073};
    onEveryPath([&] {
        for (const std::size_t crEvery : {3, 17})
            for (const std::size_t at : places) {
                SCOPED_TRACE(testing::Message() << "CR every " << crEvery << ", end mark at " << at);
                std::string text, read;
                for (std::size_t i = 0; i < at; ++i) {
                    const char c = i % crEvery == 1 ? '\r' : static_cast<char>('a' + i % 26);
                    text += c;
                    if (c != '\r') read += c;
                }
                openWith(text + "\x1a\r\nb\x1a" + std::string(100, '\r'));
                EXPECT_EQ("", firstDifference(read, readAll()));
                EXPECT_TRUE(input.endOfInput);
                EXPECT_FALSE(input.ioError);
            }
    });
}

TEST_F(TextFileTest, ReadLineReportsHowTheLineEnded) {
    openWith("ab\n\nc\0d\n"s + std::string(1023, 'x') + "\nlast");
    EXPECT_EQ("ab", nextLine().text);
    const Line empty = nextLine();
    EXPECT_EQ("", empty.text);
    EXPECT_FALSE(empty.endOfInput || empty.failed);
    EXPECT_EQ("c\0d"s, nextLine().text);  // zero bytes are stored too
    const Line exact = nextLine();
    EXPECT_EQ(std::string(1023, 'x'), exact.text);
    EXPECT_FALSE(exact.endOfInput || exact.failed);
    const Line last = nextLine();
    EXPECT_EQ("last", last.text);
    EXPECT_TRUE(last.endOfInput);
    EXPECT_FALSE(last.failed);
    const Line after = nextLine();
    EXPECT_EQ("", after.text);
    EXPECT_TRUE(after.endOfInput && after.failed);
}

TEST_F(TextFileTest, ReadLineFailsAloneWhenTheLineOutgrowsTheBuffer) {
    for (const std::string& rest : {"\n"s, ""s, "more\n"s}) {
        SCOPED_TRACE(rest);
        openWith(std::string(1024, 'x') + rest);
        const Line cut = nextLine();
        EXPECT_EQ(std::string(1023, 'x'), cut.text);
        EXPECT_TRUE(cut.failed);
        EXPECT_FALSE(cut.endOfInput);
        for (int i = 0; i < 3; ++i) {  // a file not good gives nothing, never the end
            const Line next = nextLine();
            EXPECT_EQ("", next.text);
            EXPECT_TRUE(next.failed);
            EXPECT_FALSE(next.endOfInput);
            EXPECT_EQ(-1, readChar(input));
        }
        // With the flag cleared, reading goes on where the line was cut.
        input.failed = false;
        EXPECT_EQ(std::string("x").append(rest.substr(0, rest.find('\n'))), nextLine().text);
    }
}

TEST_F(TextFileTest, ReadLineOfExactlyTheBufferAtTheEndOfInputFailsAlone) {
    openWith(std::string(1023, 'x'));
    const Line line = nextLine();
    EXPECT_EQ(std::string(1023, 'x'), line.text);
    EXPECT_TRUE(line.failed);
    EXPECT_FALSE(line.endOfInput);
}

TEST_F(TextFileTest, ReadLineWithNoRoomFailsAndHoldsTheInput) {
    openWith("ab\n");
    char none = '#';
    EXPECT_EQ(0u, readLine(input, &none, 0, '\n'));
    EXPECT_EQ('#', none);  // not even the terminator is written
    EXPECT_TRUE(input.failed);
    EXPECT_FALSE(input.endOfInput);
    EXPECT_EQ(-1, readChar(input));  // a file not good gives nothing
    input.failed = false;
    EXPECT_EQ('a', readChar(input));
    EXPECT_EQ(0u, readLine(input, &none, 0, '\n'));
    EXPECT_EQ(-1, readChar(input));
    input.failed = false;
    EXPECT_EQ("b", nextLine().text);
}

TEST_F(TextFileTest, TakeBytesLendsWhatReadCharWouldDeliver) {
    const std::string big = std::string(200000, 'x') + "\r\n" + std::string(70000, 'y');
    const struct { std::string bytes, read; std::size_t most; } cases[] = {
        {"ab\r\ncd\x1a" "ef", "ab\ncd", 2},
        {"\r\r", "", 5},
        {big, std::string(200000, 'x') + "\n" + std::string(70000, 'y'), 16384},  // across refills
    };
    onEveryPath([&] {
        for (const auto& row : cases) {
            SCOPED_TRACE(testing::PrintToString(row.bytes.substr(0, 20)));
            openWith(row.bytes);
            std::string taken;
            char* bytes = nullptr;
            while (const std::size_t count = takeBytes(input, bytes, row.most)) {
                EXPECT_LE(count, row.most);
                taken.append(bytes, count);
            }
            EXPECT_EQ(row.read, taken);
            EXPECT_TRUE(input.endOfInput);
            EXPECT_TRUE(input.failed);
            EXPECT_EQ(0u, takeBytes(input, bytes, row.most));  // and so it stays
        }
    });
}

TEST_F(TextFileTest, TakeBytesGivesNothingFromAFileNotGood) {
    openWith(std::string(2000, 'x'));
    nextLine();  // cut: the file is failed, the rest held
    char* bytes = nullptr;
    EXPECT_EQ(0u, takeBytes(input, bytes, 100));
    EXPECT_TRUE(input.failed);
    EXPECT_FALSE(input.endOfInput);
    input.failed = false;  // the rest comes once the flag is cleared
    EXPECT_EQ(100u, takeBytes(input, bytes, 100));
    EXPECT_EQ(std::string(100, 'x'), std::string(bytes, 100));
}

TEST_F(TextFileTest, WritingPutsOutEveryLineFeedAsCrLf) {
    onEveryPath([&] {
        const std::string path = dir / "out";
        TextFile output;
        openOutputFile(output, path.c_str());
        ASSERT_FALSE(output.failed);
        writeBytes(output, "a\nb", 3);
        writeBytes(output, "\n", 1);
        writeBytes(output, "\r", 1);  // a CR of its own goes out unchanged
        const std::string big(100000, '\n');
        writeBytes(output, big.data(), big.size());
        closeFile(output);
        EXPECT_FALSE(output.failed);
        std::string expected = "a\r\nb\r\n\r";
        for (int i = 0; i < 100000; ++i) expected += "\r\n";
        EXPECT_EQ("", firstDifference(expected, readFile(path)));
    });
}

TEST_F(TextFileTest, OpeningForOutputEmptiesAnExistingFile) {
    const std::string path = dir / "out";
    writeFile(path, "old contents");
    TextFile output;
    openOutputFile(output, path.c_str());
    closeFile(output);
    EXPECT_EQ("", readFile(path));
}

TEST_F(TextFileTest, OpensFailWhereTheyMust) {
    mkdir((dir / "sub").c_str(), 0777);
    writeFile(dir / "readonly", "keep");
    chmod((dir / "readonly").c_str(), 0444);
    writeFile(dir / "a.txt", "x");
    // A name with a wildcard is never opened, even where a file has exactly that name.
    writeFile(dir / "a.*", "keep");
    writeFile(dir / "a.tx?", "keep");
    const struct {
        std::string name;
        bool inputFails, outputFails;
    } cases[] = {
        {dir / "missing", true, false},
        {dir / "sub", true, true},
        {dir / "a.*", true, true},
        {dir / "a.tx?", true, true},
        {dir / "readonly", false, true},  // read-only even for root
        {dir / "nodir/x", true, true},
        {dir / "a.txt", false, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TextFile file;
        openInputFile(file, row.name.c_str());
        EXPECT_EQ(row.inputFails, file.failed);
        closeFile(file);
        openOutputFile(file, row.name.c_str());
        EXPECT_EQ(row.outputFails, file.failed);
        closeFile(file);
    }
    for (const char* name : {"readonly", "a.*", "a.tx?"}) EXPECT_EQ("keep", readFile(dir / name)) << name;
}

TEST_F(TextFileTest, NewFilesGetTheModeLessTheUmask) {
    const mode_t old = umask(027);
    TextFile output;
    openOutputFile(output, (dir / "new").c_str());
    closeFile(output);
    umask(old);
    struct stat status;
    ASSERT_EQ(0, stat((dir / "new").c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 0777u);
}

TEST_F(TextFileTest, FileExistsMatchesWildcardsAndPassesOverDirectories) {
    mkdir((dir / "sub").c_str(), 0777);
    mkdir((dir / "dironly").c_str(), 0777);
    writeFile(dir / "a.txt", "");
    writeFile(dir / ".hidden", "");
    writeFile(dir / "readonly", "");
    chmod((dir / "readonly").c_str(), 0444);
    const struct {
        std::string name;
        bool exists;
    } cases[] = {
        {dir / "a.txt", true},
        {dir / "A.TXT", false},  // letter case tells names apart
        {dir / "sub", false},
        {dir / "missing", false},
        {dir / "*.txt", true},
        {dir / "?.txt", true},
        {dir / "??.txt", false},
        {dir / "a*", true},
        {dir / "a.txt*", true},   // a "*" may match nothing
        {dir / "a.txt?", false},  // a "?" may not
        {dir / "*", true},
        {dir / "dir*", false},  // only a directory matches
        {dir / ".hid*", true},  // dot files count
        {dir / "readonly", true},
        {dir / "*only", true},
        {dir / "nodir/*", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.exists, fileExists(row.name.c_str()));
    }
}

TEST_F(TextFileTest, IsSameFileSeesThroughOtherNames) {
    openWith("data");
    symlink((dir / "in").c_str(), (dir / "link").c_str());
    link((dir / "in").c_str(), (dir / "hard").c_str());
    writeFile(dir / "other", "data");
    EXPECT_TRUE(isSameFile(input, (dir / "in").c_str()));
    EXPECT_TRUE(isSameFile(input, (dir / "link").c_str()));
    EXPECT_TRUE(isSameFile(input, (dir / "hard").c_str()));
    EXPECT_TRUE(isSameFile(input, (dir.path() + "/./in").c_str()));
    EXPECT_FALSE(isSameFile(input, (dir / "other").c_str()));
    EXPECT_FALSE(isSameFile(input, (dir / "missing").c_str()));
}

TEST(FolderPartLength, EndsAtTheLastFolderByEachPlatformsRules) {
    const struct {
        const char* name;
        std::size_t posix, windows;
    } cases[] = {
        {"", 0, 0},
        {"data.txt", 0, 0},
        {"sub/Mixed.TXT", 4, 4},
        {"./data.txt", 2, 2},
        {"../w/data.txt", 5, 5},
        {"/abs/dir/x.txt", 9, 9},
        {"/x", 1, 1},
        {"dir/", 4, 4},
        {"sub\\a.txt", 0, 4},
        {"a/b\\c", 2, 4},
        {"C:a.txt", 0, 2},    // a drive's current folder
        {"c:\\dir\\a.txt", 0, 7},
        {"Z:/a", 3, 3},
        {"C:", 0, 2},
        {"\\\\server\\share\\f.txt", 0, 15},
        {"ab:c", 0, 0},       // not a drive: a name with a colon in it
        {"1:x", 0, 0},
        {"sub/C:x", 4, 4},    // a drive only at the start
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.posix, folderPartLength(row.name, FolderRules::posix));
        EXPECT_EQ(row.windows, folderPartLength(row.name, FolderRules::windows));
        EXPECT_EQ(row.posix, folderPartLength(row.name));  // the rules of the platform the tests run on
    }
}
