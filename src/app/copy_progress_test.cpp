#include "app/copy_progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

const std::string indent(24, ' ');

std::string progress(std::uint64_t done, std::int64_t total) {
    char text[progressTextSize];
    formatProgress(text, done, total);
    return text;
}

}  // namespace

TEST(FormatProgress, AmountsAsAPersonReadsThem) {
    constexpr std::int64_t unknown = -1;
    const struct {
        std::uint64_t done;
        std::int64_t total;
        std::string shown;
    } cases[] = {
        {0, unknown, "0 B"},
        {999, unknown, "999 B"},
        {1000, unknown, "1.0 kB"},
        {1049, unknown, "1.0 kB"},
        {1050, unknown, "1.1 kB"},             // halves round up
        {999'949, unknown, "999.9 kB"},        // the last kB shown
        {999'950, unknown, "1.0 MB"},          // would round to 1000.0 kB
        {1'000'000, unknown, "1.0 MB"},
        {999'949'999, unknown, "999.9 MB"},
        {999'950'000, unknown, "1.0 GB"},
        {4'294'967'296, unknown, "4.3 GB"},   // 4 GiB: past 32 bits
        {20'000'000'000, unknown, "20.0 GB"},
        {12'345'678'901'234, unknown, "12345.7 GB"},  // GB is the largest unit
        {0, 0, "100%   0 B of 0 B"},
        {0, 999, "0%   0 B of 999 B"},
        {998, 999, "99%   998 B of 999 B"},   // rounded down: 100% only at the end
        {999, 999, "100%   999 B of 999 B"},
        {1'300'000'000, 3'200'000'000, "40%   1.3 GB of 3.2 GB"},
        {2'147'483'648, 4'294'967'296, "50%   2.1 GB of 4.3 GB"},
        {4'294'967'295, 4'294'967'296, "99%   4.3 GB of 4.3 GB"},
        {5'000'000'000, 4'294'967'296, "5.0 GB"},  // grown past the size it had: the amount alone
        {9'000'000'000'000'000'000u, INT64_MAX, "97%   9000000000.0 GB of 9223372036.9 GB"},
        {static_cast<std::uint64_t>(INT64_MAX), INT64_MAX, "100%   9223372036.9 GB of 9223372036.9 GB"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::to_string(row.done) + " of " + std::to_string(row.total));
        EXPECT_EQ(indent + row.shown, progress(row.done, row.total));
    }
}

// The progress line as a person sees it: the program in a terminal of the
// test's own (tmux), the input fed slowly through a FIFO.
namespace {

// A tmux server of the test's own with one 80 x 24 terminal, running the
// program in `dir` with `answers` on standard input. Everything the program
// writes to the terminal is also kept, byte for byte; the program starts only
// once that is set up.
class Terminal {
public:
    Terminal(const TempDir& dir, const std::string& answers)
        : dir_(dir), tmux_("LC_ALL=C.UTF-8 tmux -L zorven-progress-" + std::to_string(getpid()) + "-" +
                           std::to_string(++count_) + " -f /dev/null ") {
        writeFile(dir / ".answers", answers);
        shell(tmux_ + "new-session -d -x 80 -y 24 -c " + dir.path() +
              " 'while [ ! -e .go ]; do sleep 0.05; done; exec env TERM=xterm LANG=C.UTF-8 " + ZORVEN_PROGRAM +
              " <.answers'");
        shell(tmux_ + "pipe-pane -o 'cat >>" + (dir / ".raw") + "'");
        writeFile(dir / ".go", "");
    }
    ~Terminal() { shell(tmux_ + "kill-server 2>/dev/null"); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    std::string screen() const { return shell(tmux_ + "capture-pane -p"); }

    // The screen once `shows` holds for it, or after 30 s as it is.
    template <typename Condition>
    std::string waitFor(Condition shows) const {
        std::string shown;
        for (int i = 0; i < 600; ++i) {
            shown = screen();
            if (shows(shown)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return shown;
    }

    // The texts drawn between the Copying line and the key prompt, each without
    // the spaces that cover a longer text before it.
    std::vector<std::string> drawn() const {
        const std::string raw = readFile(dir_ / ".raw");
        const std::size_t copying = raw.find("Copying ");
        const std::size_t from = raw.find('\n', copying);
        const std::size_t to = raw.rfind('\n', raw.find("Press any key to exit."));
        std::vector<std::string> texts;
        if (copying == std::string::npos || from == std::string::npos || to == std::string::npos || to < from) {
            ADD_FAILURE() << "no Copying line and key prompt in:\n" << raw;
            return texts;
        }
        std::istringstream between(raw.substr(from + 1, to - from - 1));
        for (std::string piece; std::getline(between, piece, '\r');) {
            piece.erase(piece.find_last_not_of(' ') + 1);
            if (!piece.empty()) texts.push_back(piece);
        }
        return texts;
    }

private:
    const TempDir& dir_;
    std::string tmux_;
    static inline int count_ = 0;
};

// The line under the Copying line while a copy runs.
std::string lineAfterCopying(const std::string& screen) {
    const std::size_t copying = screen.find("Copying ");
    if (copying == std::string::npos) return "(no Copying line)";
    const std::size_t from = screen.find('\n', copying) + 1;
    return screen.substr(from, screen.find('\n', from) - from);
}

// True if the text is an amount as the progress line shows it: "999 B", or
// "12.3" and kB, MB or GB.
bool isAmount(const std::string& text) {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos || space == 0) return false;
    const std::string number = text.substr(0, space);
    const std::string unit = text.substr(space + 1);
    if (number.find_first_not_of("0123456789.") != std::string::npos) return false;
    const std::size_t point = number.find('.');
    if (point == std::string::npos) return unit == "B";
    return point > 0 && point + 2 == number.size() && number[point + 1] != '.' &&
           (unit == "kB" || unit == "MB" || unit == "GB");
}

// The amount alone, 24 spaces in.
bool isAmountAlone(const std::string& line) {
    return line.compare(0, indent.size(), indent) == 0 && isAmount(line.substr(indent.size()));
}

// The share read of a file of `size`, 24 spaces in: "41%   1.3 GB of 3.2 GB".
bool isShareOf(const std::string& size, const std::string& line) {
    const std::size_t percent = line.find("%   ");
    const std::string tail = " of " + size;
    if (line.compare(0, indent.size(), indent) != 0 || percent == std::string::npos || percent == indent.size() ||
        line.size() < percent + 4 + tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string share = line.substr(indent.size(), percent - indent.size());
    return share.size() <= 2 && share.find_first_not_of("0123456789") == std::string::npos &&
           isAmount(line.substr(percent + 4, line.size() - tail.size() - percent - 4));
}

bool haveTmux() { return !shell("command -v tmux").empty(); }

}  // namespace

TEST(CopyProgress, ShowsTheAmountFromAFifoAndLeavesTheScreenAsWithout) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    const auto keyPrompt = [](const std::string& screen) {
        return screen.find("Press any key to exit.") != std::string::npos;
    };

    // Without progress: the same input, whole from a file, copied at once.
    const std::string chunk = [] {
        std::string text;
        while (text.size() < 10000) text += "one,two three\n";
        return text;
    }();
    TempDir quickDir;
    writeFile(quickDir / "pipe", chunk + chunk);
    Terminal quick(quickDir, "pipe 2 out\n");
    const std::string expected = quick.waitFor(keyPrompt);
    EXPECT_EQ(std::vector<std::string>{}, quick.drawn()) << "a copy under a second shows nothing";

    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0600));
    Terminal slow(dir, "pipe 2 out\n");
    // The program holds the other end once it has the first answer.
    int fifo = -1;
    for (int i = 0; i < 600 && fifo < 0; ++i) {
        fifo = open((dir / "pipe").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fifo < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GE(fifo, 0) << slow.screen();
    ASSERT_EQ(0, fcntl(fifo, F_SETFL, 0));

    // A chunk every 50 ms for at least 2.5 s and until the line was seen.
    const auto started = std::chrono::steady_clock::now();
    std::string sent;
    std::string midCopy;
    for (int i = 0;; ++i) {
        ASSERT_EQ(static_cast<ssize_t>(chunk.size()), write(fifo, chunk.data(), chunk.size()));
        sent += chunk;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto elapsed = std::chrono::steady_clock::now() - started;
        if (midCopy.empty() && elapsed > std::chrono::milliseconds(1200) && i % 5 == 0) {
            const std::string shown = slow.screen();
            if (lineAfterCopying(shown) != "") midCopy = shown;
        }
        if (elapsed > std::chrono::seconds(!midCopy.empty() ? 2 : 20) + std::chrono::milliseconds(500)) break;
    }
    close(fifo);
    const double fedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_TRUE(isAmountAlone(lineAfterCopying(midCopy))) << midCopy;
    const std::string finished = slow.waitFor(keyPrompt);
    EXPECT_EQ(expected, finished);

    // Four updates a second at most, none of them the same text again.
    const std::vector<std::string> texts = slow.drawn();
    EXPECT_FALSE(texts.empty());
    EXPECT_LE(static_cast<double>(texts.size()), (fedSeconds - 1) * 4 + 2) << fedSeconds << " s";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(texts[i]);
        EXPECT_TRUE(isAmountAlone(texts[i]));
        if (i > 0) {
            EXPECT_NE(texts[i - 1], texts[i]);
        }
    }

    std::string converted;
    for (const char c : sent) converted += c == ',' ? " " : c == '\n' ? "\r\n" : std::string(1, c);
    EXPECT_EQ(converted, readFile(dir / "out.txt"));
}

TEST(CopyProgress, ShowsTheShareReadOfAFileOfKnownSize) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    // 64 GiB of zero bytes that take no room on the disk, copied to nowhere.
    TempDir dir;
    writeFile(dir / "big.txt", "");
    if (truncate((dir / "big.txt").c_str(), std::int64_t{64} << 30) != 0)
        GTEST_SKIP() << "no sparse file of 64 GiB here";
    ASSERT_EQ(0, symlink("/dev/null", (dir / "out.txt").c_str()));
    Terminal terminal(dir, "big.txt 2 out y\n");
    const std::string screen = terminal.waitFor(
        [](const std::string& shown) { return lineAfterCopying(shown).find('%') != std::string::npos; });
    EXPECT_TRUE(isShareOf("68.7 GB", lineAfterCopying(screen))) << screen;
}
