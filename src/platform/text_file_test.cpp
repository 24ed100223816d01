#include "platform/text_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "conversion_model.h"
#include "every_path.h"
#include "first_difference.h"
#include "platform/interrupts.h"
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

    // What the pieces `takeBytes` lends with their line ends come to, and
    // the first thing wrong with them, if any.
    struct Taken {
        std::string text;  // as a reader sees it: each CR LF piece's CRs dropped
        bool allCrLf = true;
        std::string fault;
    };
    // Takes every piece, `most` bytes at most each. A piece in the CR LF form
    // holds whole CR LF pairs (never a CR at its end, whose LF would start
    // the next one) and no other CR or LF; one in the LF form holds no CR;
    // neither holds a mark.
    Taken takeAllWithLineEnds(std::size_t most) {
        Taken taken;
        char* bytes = nullptr;
        LineEnds lineEnds = LineEnds::lf;
        bool lfDue = false;  // the byte before is a CR of the CR LF form
        std::size_t lent = 0;
        while (const std::size_t count = takeBytes(input, bytes, most, lineEnds)) {
            const bool crLf = lineEnds == LineEnds::crLf;
            taken.allCrLf = taken.allCrLf && crLf;
            if (count > most) taken.fault = "a piece of " + std::to_string(count) + " bytes";
            for (std::size_t i = 0; i < count && taken.fault.empty(); ++i) {
                const char c = bytes[i];
                if (c == '\x1a' || lfDue != (crLf && c == '\n') || (!crLf && c == '\r'))
                    taken.fault = "byte " + std::to_string(lent + i) + " " + testing::PrintToString(c) +
                                  " in a piece of the " + (crLf ? "CR LF" : "LF") + " form";
                lfDue = crLf && c == '\r';
                if (!lfDue) taken.text += c;
            }
            if (lfDue && taken.fault.empty()) {
                taken.fault = "a CR LF piece ending with its CR at byte ";
                taken.fault += std::to_string(lent + count - 1);
            }
            lent += count;
            if (!taken.fault.empty()) return taken;
        }
        return taken;
    }

    TempDir dir;
    TextFile input;
};

// Text whose every line ends CR LF, `length` bytes of it, and no CR at its end.
std::string crLfText(std::size_t length) {
    std::string text;
    for (int line = 0; text.size() < length; ++line) text += "line " + std::to_string(line) + ",\tx y\r\n";
    text.resize(length);
    if (text.back() == '\r') text.back() = 'z';
    return text;
}

// Has the system refuse the output's writes from now on: its file is open
// for reading only behind it.
void refuseWrites(TextFile& output, const std::string& path) {
    const int readOnly = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    ASSERT_GE(dup2(readOnly, static_cast<int>(output.handle_)), 0);
    close(readOnly);
}

std::string lfText(std::size_t length) {
    std::string text;
    for (int line = 0; text.size() < length; ++line) text += "line " + std::to_string(line) + ",\tx y\n";
    text.resize(length);
    return text;
}

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

TEST_F(TextFileTest, TakeBytesWithLineEndsLendsCrLfTextAsItIs) {
    // The reads fill the buffer: a CR at its last byte waits for the next read.
    constexpr std::size_t lastOfRead = textFileBufferSize - 1;
    const std::string mark = "\x1a";
    const struct {
        std::string what, bytes;
        bool clean;  // every line end CR LF: every piece of two bytes or more comes in the CR LF form
    } cases[] = {
        {"nothing", "", true},
        {"clean CR LF", "a\r\nb\r\n\r\nc", true},
        {"clean CR LF over three reads", crLfText(3 * textFileBufferSize + 100), true},
        {"LF only", "a\nb\n", false},
        {"LF only over two reads", lfText(2 * textFileBufferSize + 5), false},
        {"mixed", "a\r\nb\nc\r\n", false},
        {"a read of CR LF, then one of LF", crLfText(textFileBufferSize) + lfText(textFileBufferSize), false},
        {"a read of LF, then one of CR LF", lfText(textFileBufferSize) + crLfText(textFileBufferSize), false},
        {"a CR LF pair across the reads", crLfText(lastOfRead) + "\r\n" + crLfText(1000), true},
        {"a CR the last byte, at the end of the read", crLfText(lastOfRead) + "\r", true},
        {"a CR the last byte", "a\r\nb\r", true},
        {"a lone CR", "a\rb\r\n", false},
        {"a lone CR at the end of the read", crLfText(lastOfRead) + "\rx\r\n", false},
        {"a lone LF at the start of a read", crLfText(lastOfRead) + "a\nb\r\n", false},
        {"a mark after CR LF text", "a\r\nb\r\n" + mark + "c\r\n", false},
        {"a mark after a CR at the end of the read", crLfText(lastOfRead) + "\r" + mark + "b\r\n", false},
        {"a mark in the second read", crLfText(textFileBufferSize) + "ab" + mark + "\r\n", false},
        {"only CRs", "\r\r\r", false},
    };
    onEveryPath([&] {
        for (const auto& row : cases)
            for (const std::size_t most :
                 {std::size_t{1}, std::size_t{7}, std::size_t{16 * 1024}, 2 * textFileBufferSize}) {
                SCOPED_TRACE(row.what + ", " + std::to_string(most) + " bytes at most");
                openWith(row.bytes);
                const Taken taken = takeAllWithLineEnds(most);
                EXPECT_EQ("", taken.fault);
                EXPECT_EQ("", firstDifference(textOf(row.bytes), taken.text));
                EXPECT_TRUE(taken.allCrLf || !row.clean || most == 1);
                EXPECT_TRUE(input.endOfInput);
                EXPECT_TRUE(input.failed);
                char* bytes = nullptr;
                LineEnds lineEnds;
                EXPECT_EQ(0u, takeBytes(input, bytes, most, lineEnds));  // and so it stays
                EXPECT_FALSE(input.ioError);
            }
    });
}

TEST_F(TextFileTest, ACrEndingAReadWaitsForTheLfOfTheNext) {
    // Through a FIFO, each piece sent once the one before has been read, so
    // that reads end where the pieces do: after a CR whose LF comes in the
    // next read, or a CR alone, or a CR that the end of input follows.
    const std::vector<std::string> sent = {"a\r", "\nb\r", "\n", "\r", "\nc\r\n\r"};
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        for (const std::string& piece : sent) {
            if (write(fd, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) break;
            // Read, or given up on after 2 s, so that a reader that stops
            // early fails the test rather than holding it up.
            int unread = 1;
            for (int wait = 0; wait < 2000 && ioctl(fd, FIONREAD, &unread) == 0 && unread > 0; ++wait) usleep(1000);
            usleep(20000);  // the reader waits in its next read
        }
        close(fd);
    });
    openInputFile(input, fifo.c_str());
    const Taken taken = takeAllWithLineEnds(100);
    writer.join();
    EXPECT_EQ("", taken.fault);
    EXPECT_EQ("a\nb\n\nc\n", taken.text);
    EXPECT_TRUE(taken.allCrLf);
    EXPECT_TRUE(input.endOfInput);
}

TEST_F(TextFileTest, ReadersAfterACrLfPieceSeeNoCarriageReturn) {
    // A piece in the CR LF form is taken; what is left, a CR ending that
    // piece or carried to the next read included, reaches the other readers
    // with its CRs dropped.
    const std::string crBeforeTheRead = crLfText(textFileBufferSize - 1) + "\r\nz\r\n";
    const struct {
        std::string what, bytes;
        std::size_t most;
    } cases[] = {
        {"a piece ending in a CR", "a\r\nb\r\nc\r\nd", 5},
        {"a piece ending after a pair", "a\r\nb\r\nc", 3},
        {"a whole read, its last CR carried", crBeforeTheRead, textFileBufferSize},
    };
    enum class Reader { readChar, readLine, takeBytes };
    onEveryPath([&] {
        for (const auto& row : cases)
            for (const Reader reader : {Reader::readChar, Reader::readLine, Reader::takeBytes}) {
                SCOPED_TRACE(row.what + ", then reader " + std::to_string(static_cast<int>(reader)));
                openWith(row.bytes);
                char* bytes = nullptr;
                LineEnds lineEnds;
                const std::size_t count = takeBytes(input, bytes, row.most, lineEnds);
                ASSERT_EQ(LineEnds::crLf, lineEnds);
                std::string read = textOf(std::string(bytes, count));
                if (reader == Reader::readChar) {
                    read += readAll();
                } else if (reader == Reader::readLine) {
                    for (Line line = nextLine(); !line.failed; line = nextLine())
                        read += line.text + (line.endOfInput ? "" : "\n");
                } else {
                    while (const std::size_t more = takeBytes(input, bytes, 1000)) read.append(bytes, more);
                }
                EXPECT_EQ(std::string::npos, read.find('\r'));
                EXPECT_EQ("", firstDifference(textOf(row.bytes), read));
            }
    });
}

TEST_F(TextFileTest, InputHeldAfterACrLfPieceComesWithoutItsCarriageReturns) {
    // A line that finds no room holds the input; what was left of a CR LF
    // piece comes, once the flags are cleared, as any reader reads it.
    openWith("a\r\nb\r\nc");
    char* bytes = nullptr;
    LineEnds lineEnds;
    ASSERT_EQ(3u, takeBytes(input, bytes, 3, lineEnds));
    ASSERT_EQ(LineEnds::crLf, lineEnds);
    char none = '#';
    EXPECT_EQ(0u, readLine(input, &none, 0, '\n'));
    EXPECT_TRUE(input.failed);
    input.failed = false;
    EXPECT_EQ("b\nc", readAll());
}

TEST_F(TextFileTest, ReadersTakenInAnyOrderDeliverTheText) {
    // Every reader in turn, picked at random, over text that changes form
    // between reads and has CRs at their ends.
    constexpr std::size_t lastOfRead = textFileBufferSize - 1;
    const std::string inputs[] = {
        crLfText(lastOfRead) + "\r\n" + crLfText(lastOfRead) + "\r\n" + crLfText(5000),
        crLfText(textFileBufferSize) + lfText(textFileBufferSize) + crLfText(textFileBufferSize),
        crLfText(lastOfRead) + "\ra\r\n" + crLfText(textFileBufferSize) + "\r",
    };
    std::mt19937 random(18);
    onEveryPath([&] {
        for (const std::string& bytes : inputs)
            for (int run = 0; run < 5; ++run) {
                SCOPED_TRACE("input " + std::to_string(&bytes - inputs) + ", run " + std::to_string(run));
                openWith(bytes);
                std::string read;
                bool ended = false;
                while (!ended) {
                    const std::size_t most = std::size_t{1} << random() % 16;
                    char* piece = nullptr;
                    switch (random() % 4) {
                    case 0: {
                        LineEnds lineEnds;
                        const std::size_t count = takeBytes(input, piece, most, lineEnds);
                        const std::string taken(piece, count);
                        read += lineEnds == LineEnds::crLf ? textOf(taken) : taken;
                        ended = count == 0;
                        break;
                    }
                    case 1: {
                        const std::size_t count = takeBytes(input, piece, most);
                        read.append(piece, count);
                        ended = count == 0;
                        break;
                    }
                    case 2: {
                        const Line line = nextLine();
                        read += line.text + (line.endOfInput || line.failed ? "" : "\n");
                        ended = line.endOfInput || line.failed;  // a line too long would end it too
                        break;
                    }
                    default: {
                        const int c = readChar(input);
                        if (c != -1) read += static_cast<char>(c);
                        ended = c == -1;
                    }
                    }
                }
                EXPECT_EQ("", firstDifference(textOf(bytes), read));
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

TEST_F(TextFileTest, RoomToWriteAppendsItsBytesAsTheyAreInOrder) {
    const std::string path = dir / "out";
    TextFile output;
    openOutputFile(output, path.c_str());
    ASSERT_FALSE(output.failed);
    std::string expected;
    const auto write = [&](const std::string& bytes) {
        writeBytes(output, bytes.data(), bytes.size());
        expected += withCrLf(bytes);
    };
    write("a\nb");
    // Small rooms and whole ones, so that the buffer is written out between
    // them; past what is appended, the room holds bytes never to be seen.
    for (const std::size_t count : {std::size_t{0}, std::size_t{4}, mostRoomToWrite, mostRoomToWrite - 5,
                                    std::size_t{1}, mostRoomToWrite, std::size_t{100}}) {
        SCOPED_TRACE(count);
        const std::string bytes = crLfText(count + 1).substr(0, count);
        char* room = roomToWrite(output, mostRoomToWrite);
        std::memcpy(room, bytes.data(), count);
        std::memset(room + count, '#', mostRoomToWrite - count);
        wroteToRoom(output, count);
        expected += bytes;
        write("\n");
    }
    closeFile(output);
    EXPECT_FALSE(output.failed);
    EXPECT_EQ("", firstDifference(expected, readFile(path)));
}

// However the writers are mixed (bytes one at a time, text with line ends,
// rooms filled in part), the file gets every byte in order, and while it is
// open it only ever grows by whole blocks, holding back no more than a block
// and a room.
TEST_F(TextFileTest, WritersMixedWriteWholeBlocksInOrder) {
    onEveryPath([&] {
        const std::string path = dir / "out";
        TextFile output;
        openOutputFile(output, path.c_str());
        ASSERT_FALSE(output.failed);
        std::string expected;
        enum Writer { oneByOne, text, room };
        const auto write = [&](Writer writer, std::size_t count) {
            switch (writer) {
            case oneByOne:  // the inline path
                for (std::size_t n = count; n > 0; --n) writeBytes(output, "x", 1);
                expected.append(count, 'x');
                break;
            case text: {
                const std::string bytes = lfText(count);
                writeBytes(output, bytes.data(), bytes.size());
                expected += withCrLf(bytes);
                break;
            }
            case room: {
                const std::string bytes = crLfText(count + 1).substr(0, count);
                char* into = roomToWrite(output, mostRoomToWrite);
                std::memcpy(into, bytes.data(), count);
                std::memset(into + count, '#', mostRoomToWrite - count);
                wroteToRoom(output, count);
                expected += bytes;
            }
            }
            struct stat written;
            ASSERT_EQ(0, stat(path.c_str(), &written));
            const auto size = static_cast<std::size_t>(written.st_size);
            ASSERT_EQ(0u, size % textFileBufferSize) << "after " << expected.size() << " bytes";
            ASSERT_LE(expected.size() - size, textFileBufferSize + mostRoomToWrite);
        };
        // A room that runs past the end of a block, followed by each writer,
        // for more than what is left of the room.
        for (const Writer next : {oneByOne, text, room}) {
            write(room, 50000);
            write(room, 50000);
            write(room, mostRoomToWrite);
            write(next, mostRoomToWrite);
        }
        std::mt19937 random(15);
        while (expected.size() < 16 * textFileBufferSize)
            write(static_cast<Writer>(random() % 3), random() % (mostRoomToWrite + 1));
        closeFile(output);
        EXPECT_FALSE(output.failed);
        EXPECT_EQ("", firstDifference(expected, readFile(path)));
    });
}

TEST_F(TextFileTest, RoomOfAFileNotForWritingKeepsNothingAndLeavesTheInputAlone) {
    const std::string in = crLfText(3000);
    const std::string path = dir / "out";
    using Prepare = void (*)(TextFile&, const std::string& path);
    const struct {
        std::string what;
        Prepare prepare;
        bool roomOnInput, refused;
    } cases[] = {
        {"the input's own room", [](TextFile&, const std::string&) {}, true, false},
        {"an output after a failed write",
         [](TextFile& output, const std::string& name) {
             refuseWrites(output, name);
             const std::string big(textFileBufferSize + 1, 'x');
             writeBytes(output, big.data(), big.size());
         },
         false, true},
        {"an output whose room needed a write that failed",
         [](TextFile& output, const std::string& name) {
             const std::string most(textFileBufferSize - 10, 'x');
             writeBytes(output, most.data(), most.size());
             refuseWrites(output, name);
         },
         false, true},
        {"a closed output", [](TextFile& output, const std::string&) { closeFile(output); }, false, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        openWith(in);
        ASSERT_EQ(in[0], readChar(input));  // the rest is buffered
        TextFile output;
        openOutputFile(output, path.c_str());
        ASSERT_FALSE(output.failed);
        row.prepare(output, path);
        TextFile& file = row.roomOnInput ? input : output;
        char* room = roomToWrite(file, mostRoomToWrite);
        std::memset(room, '#', mostRoomToWrite);
        wroteToRoom(file, mostRoomToWrite);
        EXPECT_EQ("", firstDifference(textOf(in.substr(1)), readAll()));
        closeFile(output);
        EXPECT_EQ("", readFile(path));
        EXPECT_EQ(row.refused, output.failed && output.ioError);
    }
}

TEST_F(TextFileTest, AnInterruptDropsWhatIsWrittenToRoomAfterIt) {
    // In a child of its own, which holds the signal it sends itself; it says
    // by its status what the flags were.
    const std::string path = dir / "out";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TextFile output;
        openOutputFile(output, path.c_str());
        const auto toRoom = [&](const char* bytes) {
            const std::size_t count = std::strlen(bytes);
            std::memcpy(roomToWrite(output, count), bytes, count);
            wroteToRoom(output, count);
        };
        writeBytes(output, "a\n", 2);
        toRoom("b\r\n");
        holdInterrupts();
        raise(SIGTERM);
        toRoom("c\r\n");
        const bool cutAtOnce = output.cutShort && output.failed;
        writeBytes(output, "d\n", 2);
        toRoom("e\r\n");
        closeFile(output);
        _exit(cutAtOnce ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the room written after the interrupt did not set cutShort and failed";
    EXPECT_EQ("a\r\nb\r\n", readFile(path));
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
