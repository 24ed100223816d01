#include "kernels/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "every_path.h"
#include "first_difference.h"

using namespace std::string_literals;

namespace {

constexpr char mark = static_cast<char>(endOfInputMark);

// The rule, a byte at a time: whole CR LF pairs and other bytes count, and
// the first lone CR, lone LF or mark ends the count.
std::size_t crLfTextLengthByteByByte(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') {
            at += 2;
        } else if (bytes[at] == '\r' || bytes[at] == '\n' || bytes[at] == mark) {
            break;
        } else {
            ++at;
        }
    }
    return at;
}

// The kernel in use on a copy of the bytes that ends exactly where they do,
// so that a read past the count shows under the sanitizers, and that starts
// `misalignment` bytes into its allocation.
std::size_t crLfTextLength(const std::string& bytes, std::size_t misalignment = 0) {
    const auto copy = std::make_unique<unsigned char[]>(misalignment + bytes.size());
    std::memcpy(copy.get() + misalignment, bytes.data(), bytes.size());
    return kernels().crLfTextLength(copy.get() + misalignment, bytes.size());
}

// Clean CR LF text of `length` bytes: lines of 0 to 12 letters, so that line
// ends fall at every place of a vector and of a block.
std::string cleanCrLfText(std::size_t length) {
    std::string text;
    for (std::size_t line = 0; text.size() < length; ++line)
        text += std::string(line * 5 % 13, static_cast<char>('a' + line % 26)) + "\r\n";
    text.resize(length);
    if (text.back() == '\r') text.back() = 'z';  // a CR at the very end would end the count
    return text;
}

}  // namespace

TEST(CrLfTextLength, CountsWholePairsAndStopsAtTheFirstFault) {
    const struct {
        std::string bytes;
        std::size_t length;
    } cases[] = {
        {"", 0},
        {"a", 1},
        {"\r", 0},  // its LF has not come yet
        {"\n", 0},
        {"\r\n", 2},
        {"a\r\n", 3},
        {"a\r", 1},
        {"a\rb", 1},
        {"a\nb", 1},
        {"a\r\r\n", 1},  // the first CR has no LF
        {"\r\n\n", 2},   // the second LF has no CR
        {"\n\r\n", 0},
        {"a\r\n\r\nb", 6},     // an empty line
        {"a\r" + "\x1a"s, 1},  // a mark right after a CR
        {"ab\x1a\r\n", 2},
        {"\x1a", 0},
        {"a\r\n\x1a"s + "b", 3},
        {"\x0b\x0c\x0e\r\n", 5},  // the bytes beside LF and CR are ordinary
        {"\x19\x1b", 2},          // and so are those beside the mark
        {"\0\xff\r\n"s, 4},
    };
    onEveryPath([&] {
        for (const auto& row : cases) {
            SCOPED_TRACE(testing::PrintToString(row.bytes));
            ASSERT_EQ(row.length, crLfTextLengthByteByByte(row.bytes));  // the test's own rule agrees
            EXPECT_EQ(row.length, crLfTextLength(row.bytes));
        }
    });
}

TEST(CrLfTextLength, FindsAFaultAtEveryPlaceAroundVectorAndBlockEdges) {
    // The edges of 16-, 32- and 64-byte vectors and of the portable set's
    // 256-byte blocks, and the start.
    std::vector<std::size_t> places = {0, 1, 2, 3};
    for (const std::size_t edge : {16u, 32u, 64u, 256u, 512u})
        for (const std::size_t at : {edge - 1, edge, edge + 1}) places.push_back(at);
    constexpr std::size_t length = 1100;  // past the second block and more
    const std::string clean = cleanCrLfText(length);
    ASSERT_EQ(length, crLfTextLengthByteByByte(clean));

    // Clean text with the bytes from `at` on replaced by `bytes`, and no line
    // end cut in two where they begin or end.
    const auto placed = [&](std::size_t at, const std::string& bytes) {
        std::string text = clean;
        const std::size_t from = at >= 2 ? at - 2 : 0;
        const std::size_t to = std::min(at + bytes.size() + 2, length);
        for (std::size_t i = from; i < to; ++i) text[i] = 'x';
        if (from > 0 && text[from - 1] == '\r') text[from - 1] = 'x';
        if (to < length && text[to] == '\n') text[to] = 'x';
        return text.replace(at, bytes.size(), bytes);
    };
    struct Case {
        std::string what, bytes;
        std::size_t length;
    };
    std::vector<Case> cases;
    for (const std::size_t at : places) {
        const std::string where = " at " + std::to_string(at);
        cases.push_back({"a CR LF pair" + where, placed(at, "\r\n"), length});
        cases.push_back({"a lone CR" + where, placed(at, "\rb"), at});
        cases.push_back({"CR CR LF" + where, placed(at, "\r\r\n"), at});
        cases.push_back({"a lone LF" + where, placed(at, "\n"), at});
        cases.push_back({"a mark" + where, placed(at, "\x1a"), at});
        cases.push_back({"a mark after a CR" + where, placed(at, "\r\x1a"), at});
        cases.push_back({"a CR ending the bytes" + where, placed(at, "\r").substr(0, at + 1), at});
        cases.push_back(
            {"clean text ending" + where, clean.substr(0, at), crLfTextLengthByteByByte(clean.substr(0, at))});
        if (at >= 2) cases.push_back({"a second LF" + where, placed(at - 2, "\r\n\n"), at});
    }
    onEveryPath([&] {
        for (const Case& row : cases) {
            SCOPED_TRACE(row.what);
            ASSERT_EQ(row.length, crLfTextLengthByteByByte(row.bytes));
            EXPECT_EQ(row.length, crLfTextLength(row.bytes));
        }
    });
}

TEST(CrLfTextLength, MatchesTheRuleAppliedByteByByteOnRandomBytes) {
    std::mt19937 random(15);
    const char alphabet[] = {'a', '\r', '\n', mark, '\x0b', '\x0c'};
    const char faults[][3] = {"\r", "\n", "\x1a", "\r\r"};
    std::vector<std::string> inputs;
    // Bytes of few kinds, where a fault comes within a few bytes.
    for (int i = 0; i < 2000; ++i) {
        std::string bytes(random() % 80, 'a');
        for (char& c : bytes) c = alphabet[random() % sizeof alphabet];
        inputs.push_back(bytes);
    }
    // Clean text with one fault at a random place, or none.
    for (int i = 0; i < 2000; ++i) {
        std::string bytes = cleanCrLfText(1 + random() % 1500);
        const std::size_t at = random() % bytes.size();
        if (bytes[at] != '\r' && bytes[at] != '\n' && random() % 8 != 0)
            bytes.insert(at, faults[random() % std::size(faults)]);
        inputs.push_back(bytes);
    }
    onEveryPath([&] {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const std::string& bytes = inputs[i];
            const std::size_t misalignment = i % 8;
            const std::size_t expected = crLfTextLengthByteByByte(bytes);
            const std::size_t got = crLfTextLength(bytes, misalignment);
            if (got != expected) {  // one failure each, with the bytes around the first difference
                const std::size_t near = std::min(got, expected);
                ADD_FAILURE() << "input " << i << " (" << bytes.size() << " bytes, " << misalignment
                              << " into its allocation): expected " << expected << ", got " << got << " near "
                              << testing::PrintToString(bytes.substr(near >= 4 ? near - 4 : 0, 10));
                return;
            }
        }
    });
}

namespace {

// Option 6 on pieces of CR LF text, each in an allocation of its own that
// ends with it, into room that ends where the kernel may store (so that a
// read or store past either shows under the sanitizers); the outputs joined.
std::string spaceCrLfPieces(const std::vector<std::string>& pieces, std::size_t lineEndCount, bool& inLine) {
    std::string spaced;
    for (const std::string& piece : pieces) {
        const auto in = std::make_unique<char[]>(piece.size());
        std::memcpy(in.get(), piece.data(), piece.size());
        const std::size_t room = maxSpacedLines(piece.size()) + maxStoreOverrun;
        const auto out = std::make_unique<char[]>(room);
        const std::size_t written = kernels().spaceCrLfLines(in.get(), piece.size(), out.get(), lineEndCount, inLine);
        EXPECT_LE(written, maxSpacedLines(piece.size()));
        spaced.append(out.get(), std::min(written, room));
    }
    return spaced;
}

// The same pieces with their CRs dropped, spaced as LF text by the portable
// kernels: what the CR LF spacing must give.
std::string spaceAsLfText(const std::vector<std::string>& pieces, std::size_t lineEndCount, bool& inLine) {
    std::string spaced;
    for (std::string piece : pieces) {
        std::erase(piece, '\r');
        std::vector<char> out(maxSpacedLines(piece.size()) + maxStoreOverrun);
        spaced.append(out.data(),
                      kernelSets().back()->spaceLines(piece.data(), piece.size(), out.data(), lineEndCount, inLine));
    }
    return spaced;
}

}  // namespace

TEST(SpaceCrLfLines, DropsEmptyLinesAndRepeatsTheOthersLineEnds) {
    const struct {
        std::vector<std::string> pieces;
        bool inLineBefore;
        std::string spaced;  // with two CR LFs to a line end
        bool inLineAfter;
    } cases[] = {
        {{"a"}, false, "a", true},
        {{"a\r\nb\r\n"}, false, "a\r\n\r\nb\r\n\r\n", false},
        {{"\r\n\r\na\r\n\r\n\r\nb"}, false, "a\r\n\r\nb", true},  // empty lines first, between and not last
        {{"\r\n"}, true, "\r\n\r\n", false},                      // the end of a line begun before
        {{"ab", "\r\n", "\r\n", "c\r\n"}, false, "ab\r\n\r\nc\r\n\r\n", false},
        {{std::string(31, 'x') + "\r\n\r\n" + std::string(29, 'y') + "\r\n"},
         false,  // pairs across 32 and 64
         std::string(31, 'x') + "\r\n\r\n" + std::string(29, 'y') + "\r\n\r\n",
         false},
        {{std::string(63, 'x') + "\r\n" + std::string(63, 'y')},
         false,
         std::string(63, 'x') + "\r\n\r\n" + std::string(63, 'y'),
         true},
    };
    onEveryPath([&] {
        for (const auto& row : cases) {
            SCOPED_TRACE(testing::PrintToString(row.pieces));
            bool inLine = row.inLineBefore;
            EXPECT_EQ(row.spaced, spaceCrLfPieces(row.pieces, 2, inLine));
            EXPECT_EQ(row.inLineAfter, inLine);
        }
    });
}

TEST(SpaceCrLfLines, GivesWhatSpacingTheSameLfTextGivesOnRandomPieces) {
    // Lines of 0 to 70 bytes, a third of them empty, so that line ends and
    // empty lines fall at every place of a vector and across vectors; cut
    // into pieces between whole pairs, as the text-file layer lends them.
    std::mt19937 random(6);
    for (int i = 0; i < 300; ++i) {
        std::vector<std::string> pieces(1);
        const std::size_t lines = 1 + random() % 60;
        for (std::size_t line = 0; line < lines; ++line) {
            const std::size_t length = random() % 3 == 0 ? 0 : random() % 71;
            for (std::size_t b = 0; b < length; ++b) {
                pieces.back() += static_cast<char>(' ' + random() % 95);
                if (random() % 200 == 0) pieces.emplace_back();
            }
            if (line + 1 < lines || random() % 2 == 0) pieces.back() += "\r\n";
            if (random() % 8 == 0) pieces.emplace_back();
        }
        std::erase_if(pieces, [](const std::string& piece) { return piece.empty(); });
        const std::size_t lineEndCount = 1 + i % 5;
        const bool inLineBefore = i % 7 == 0;
        bool expectedInLine = inLineBefore;
        const std::string expected = spaceAsLfText(pieces, lineEndCount, expectedInLine);
        onEveryPath([&] {
            bool inLine = inLineBefore;
            const std::string spaced = spaceCrLfPieces(pieces, lineEndCount, inLine);
            if (spaced != expected || inLine != expectedInLine) {  // one failure each
                ADD_FAILURE() << "text " << i << " in " << pieces.size() << " pieces, " << lineEndCount
                              << " line ends: " << firstDifference(expected, spaced) << "; in a line after: expected "
                              << expectedInLine << ", got " << inLine;
            }
        });
    }
}
