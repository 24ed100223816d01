#include "app/title_screen.h"

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {


// The screen's lines as characters (a box character counts as one column).
std::vector<std::u32string> screenLines(const std::string& bytes, bool utf8) {
    std::vector<std::u32string> lines(1);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        char32_t character = c;
        if (utf8 && c >= 0xe0 && i + 2 < bytes.size()) {  // the box needs three-byte sequences only
            character = (c & 0x0fu) << 12 | (static_cast<unsigned char>(bytes[i + 1]) & 0x3fu) << 6 |
                        (static_cast<unsigned char>(bytes[i + 2]) & 0x3fu);
            i += 2;
        }
        if (character == '\r') continue;
        if (character == '\n')
            lines.emplace_back();
        else
            lines.back() += character;
    }
    return lines;
}

}  // namespace

TEST(TitleScreen, OpensEveryRunByteForByte) {
    const struct {
        const char *lcAll, *lcCtype, *lang;
        bool utf8;
    } cases[] = {
        {nullptr, nullptr, nullptr, false},
        {nullptr, nullptr, "C.UTF-8", true},
        {nullptr, nullptr, "en_US.utf8", true},
        {nullptr, nullptr, "de_DE.UTF-8@euro", true},
        {nullptr, nullptr, "C", false},
        {nullptr, nullptr, "en_US.ISO-8859-1", false},
        {nullptr, nullptr, "utf8", false},            // a language, no character set
        {"C", nullptr, "C.UTF-8", false},             // LC_ALL comes first
        {"", "en_GB.Utf-8", "C", true},               // an empty one is passed over
        {nullptr, "POSIX", "C.UTF-8", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::Message() << (row.lcAll ? row.lcAll : "-") << " " << (row.lcCtype ? row.lcCtype : "-")
                                        << " " << (row.lang ? row.lang : "-"));
        TempDir dir;
        const RunResult result = runProgram(dir.path(), "", [&] {
            if (row.lcAll) setenv("LC_ALL", row.lcAll, 1);
            if (row.lcCtype) setenv("LC_CTYPE", row.lcCtype, 1);
            if (row.lang) setenv("LANG", row.lang, 1);
        });
        EXPECT_EQ(titleScreen(row.utf8) + askInput + "\r\n", result.console);
    }
}

TEST(TitleScreen, StandsInItsColumns) {
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "ASCII");
        const std::vector<std::u32string> lines = screenLines(titleScreen(utf8), utf8);
        ASSERT_EQ(14u, lines.size());  // 13 lines and the start of the first prompt's
        const std::size_t lengths[] = {79, 47, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 0};
        for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(lengths[i], lines[i].size()) << "line " << i + 1;

        const char32_t corners[][2] = {{U'\u2554', U'\u2557'}, {U'\u255a', U'\u255d'}};
        for (int edge = 0; edge < 2; ++edge) {
            const std::u32string& line = lines[edge == 0 ? 2 : 11];
            EXPECT_EQ(utf8 ? corners[edge][0] : U'+', line[20]);  // column 21
            EXPECT_EQ(utf8 ? corners[edge][1] : U'+', line[59]);  // column 60
            EXPECT_EQ(std::u32string(38, utf8 ? U'\u2550' : U'='), line.substr(21, 38));
        }
        for (std::size_t row = 3; row <= 10; ++row) {
            EXPECT_EQ(utf8 ? U'\u2551' : U'|', lines[row][20]);
            EXPECT_EQ(utf8 ? U'\u2551' : U'|', lines[row][59]);
        }
        for (std::size_t option = 1; option <= 6; ++option) {
            const std::u32string& line = lines[3 + option];
            EXPECT_EQ(U'0' + option, line[26]);  // column 27
            EXPECT_EQ(U'>', line[40]);           // column 41
            EXPECT_NE(U' ', line[42]);           // the name starts in column 43
            EXPECT_EQ(U' ', line[41]);
        }
        EXPECT_EQ(U"CHANGE OPTIONS", lines[1].substr(33));
    }
}

// A real terminal emulator shows the screen: the text a person would see,
// with a box in every locale.
TEST(TitleScreen, LooksRightInATerminal) {
    if (shell("command -v tmux").empty()) GTEST_SKIP() << "tmux is not installed";
    const struct {
        const char* lang;
        bool utf8;  // else the box is drawn in ASCII
    } cases[] = {{"C.UTF-8", true}, {"C", false}, {"en_US.ISO-8859-1", false}};
    const std::string prompt = askInput.substr(0, askInput.size() - 1);  // a last space is not seen
    for (const auto& row : cases) {
        SCOPED_TRACE(row.lang);
        TempDir dir;
        // A server of its own for each row: one going away must not meet the next.
        const std::string tmux = "LC_ALL=C.UTF-8 tmux -L zorven-" + std::to_string(getpid()) + "-" +
                                 std::to_string(&row - cases) + " -f /dev/null ";
        // Something on the screen first, to see that it is cleared.
        shell(tmux + "new-session -d -x 80 -y 24 -c " + dir.path() +
              " 'echo leftover; sleep 0.3; exec env -u LC_ALL -u LC_CTYPE TERM=xterm LANG=" + row.lang + " " +
              ZORVEN_PROGRAM + "'");
        std::string screen;
        for (int i = 0; i < 100 && screen.find(prompt) == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            screen = shell(tmux + "capture-pane -p");
        }
        shell(tmux + "kill-server");

        const std::vector<std::u32string> lines = screenLines(screen, true);
        ASSERT_GE(lines.size(), 14u) << screen;
        EXPECT_EQ(screen.find("leftover"), std::string::npos);
        const std::vector<std::u32string> expected = screenLines(titleScreen(row.utf8), true);
        for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(expected[i], lines[i]) << "line " << i + 1;
        EXPECT_EQ(screenLines(prompt, false)[0], lines[13]);
    }
}
