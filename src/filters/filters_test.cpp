#include "filters/filters.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "conversion_model.h"
#include "every_path.h"
#include "first_difference.h"
#include "temp_files.h"

using namespace std::string_literals;

namespace {

using Filter = std::function<void(TextFile&, TextFile&)>;

// Runs the filter over a file holding `input`; returns the bytes it wrote.
std::string convert(const Filter& filter, const std::string& input) {
    TempDir dir;
    writeFile(dir / "in", input);
    TextFile in;
    TextFile out;
    openInputFile(in, (dir / "in").c_str());
    openOutputFile(out, (dir / "out").c_str());
    filter(in, out);
    closeFile(in);
    closeFile(out);
    return readFile(dir / "out");
}

struct Case {
    std::string input, output;
};

void expectConversions(const Filter& filter, std::initializer_list<Case> cases) {
    onEveryPath([&] {
        for (const auto& row : cases) {
            SCOPED_TRACE(testing::PrintToString(row.input));
            EXPECT_EQ(row.output, convert(filter, row.input));
        }
    });
}

Filter withTabs(void (*filter)(TextFile&, TextFile&, const char*), const char* tabs) {
    return [=](TextFile& in, TextFile& out) { filter(in, out, tabs); };
}

Filter withLineSpaces(int lineSpaces) {
    return [=](TextFile& in, TextFile& out) { filterLineSpacing(in, out, lineSpaces); };
}

}  // namespace

TEST(FilterSpcTabToComma, TurnsEachBlankRunAfterAFieldIntoOneComma) {
    expectConversions(filterSpcTabToComma, {
        {"", ""},
        {"  a \t b\n", "a,b\r\n"},
        {"a b  \n", "a,b,\r\n"},          // a trailing run still gets its comma
        {"\t \n", "\r\n"},                // a blank line keeps only its line end
        {"a, b\n", "a,,b\r\n"},           // an input comma counts as a field character
        {"a ", "a,"},                     // at the end of input, after a field
        {"\n\n", "\r\n\r\n"},
        {"a\r\nb c\r\n", "a\r\nb,c\r\n"}, // CR LF reads as LF
        {"\xff \xff", "\xff,\xff"},
        {"a\0 b"s, "a\0,b"s},
    });
}

TEST(FilterSpcTabToNewline, TurnsEachBlankRunAfterAFieldIntoOneLineEnd) {
    expectConversions(filterSpcTabToNewline, {
        {"", ""},
        {"  a  b\n", "a\r\nb\r\n"},
        {"a\tb \nc\n", "a\r\nb\r\n\r\nc\r\n"},  // run before a line end: an empty line follows
        {"a b", "a\r\nb"},
        {"a ", "a\r\n"},
        {" \t\n", "\r\n"},
        {"a,b c", "a,b\r\nc"},
    });
}

TEST(FilterCommaToSpace, ReplacesEachComma) {
    expectConversions(filterCommaToSpace, {
        {"", ""},
        {"a,b,,c\n", "a b  c\r\n"},
        {"a, b\n", "a  b\r\n"},
        {"a,b", "a b"},
        {"\x01\xff,\t\n", "\x01\xff \t\r\n"},
    });
}

TEST(FilterCommaToTab, ReplacesEachCommaWithTheSeparator) {
    expectConversions(withTabs(filterCommaToTab, "\t\t"), {
        {"", ""},
        {"a,b\n", "a\t\tb\r\n"},
        {"a, b\n", "a\t\t b\r\n"},
        {",,", "\t\t\t\t"},
    });
    expectConversions(withTabs(filterCommaToTab, "\t"), {{"a,b c\n", "a\tb c\r\n"}});
    // Any separator is written as given, not only copies of one byte.
    expectConversions(withTabs(filterCommaToTab, "\t "), {{"a,b,\n", "a\t b\t \r\n"}});
}

TEST(FilterSpaceToTab, ReplacesEachSpaceWithTheSeparator) {
    expectConversions(withTabs(filterSpaceToTab, "\t"), {
        {"", ""},
        {"a  b\n", "a\t\tb\r\n"},   // each space on its own
        {"a\tb c\n", "a\tb\tc\r\n"}, // input TABs stay
        {"a,b", "a,b"},
    });
    expectConversions(withTabs(filterSpaceToTab, "\t\t\t"), {{"a b\n", "a\t\t\tb\r\n"}});
}

TEST(FilterLineSpacing, DropsEmptyLinesAndSpacesTheOthers) {
    expectConversions(withLineSpaces(0), {
        {"", ""},
        {"a\n\n\nb\n", "a\r\nb\r\n"},
        {" \nb\n", " \r\nb\r\n"},  // a blank-only line is not empty
        {"\r\n\r\n", ""},
    });
    expectConversions(withLineSpaces(2), {{"a\n\nb\n", "a\r\n\r\n\r\nb\r\n\r\n\r\n"}});
    expectConversions(withLineSpaces(1), {
        {"a\nb", "a\r\n\r\nb\r\n\r\n"},  // the last line gets its line ends too
        {"\n\n", ""},
    });
    expectConversions(withLineSpaces(4), {{"a", "a\r\n\r\n\r\n\r\n\r\n"}});
}

TEST(FilterLineSpacing, KeepsEveryByteOfALineNulIncluded) {
    expectConversions(withLineSpaces(0), {
        {"\0a\n"s, "\0a\r\n"s},
        {"a\0b\n"s, "a\0b\r\n"s},
        {"\0\n"s, "\0\r\n"s},
        {"\xff\n", "\xff\r\n"},
    });
}

TEST(FilterLineSpacing, WritesALongLineWholeAndEndsItOnce) {
    // Lines about as long as the pieces the filter reads (16 KiB, 16383 bytes
    // a piece) and the text file's buffer, and a line with a zero byte.
    constexpr std::size_t piece = 16 * 1024 - 1;
    const std::string huge = std::string(5000, 'z') + '\0' + std::string(3000, 'w');
    std::vector<Case> cases = {{huge + "\n\nb", huge + "\r\n\r\nb\r\n\r\n"}};
    for (const std::size_t length : {piece - 1, piece, piece + 1, 2 * piece, 2 * piece + 1, textFileBufferSize - 1,
                                     textFileBufferSize, textFileBufferSize + 1}) {
        const std::string line(length, 'x');
        cases.push_back({line + "\n", line + "\r\n\r\n"});
        cases.push_back({line, line + "\r\n\r\n"});  // the input ends in the line
        cases.push_back({line + "\n\nb\n", line + "\r\n\r\nb\r\n\r\n"});
    }
    onEveryPath([&] {
        for (const Case& row : cases) {
            SCOPED_TRACE(testing::PrintToString(row.input.substr(0, 8)) + ", " + std::to_string(row.input.size()) +
                         " bytes");
            EXPECT_EQ("", firstDifference(row.output, convert(withLineSpaces(1), row.input)));
        }
    });
}

TEST(Filters, EmptyInputGivesEmptyOutputAndEveryOtherByteValuePasses) {
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        if (c != '\r' && c != 26 && c != ',' && c != ' ' && c != '\t' && c != '\n')
            allBytes += static_cast<char>(c);
    const Filter all[] = {filterSpcTabToComma, filterCommaToSpace, withTabs(filterCommaToTab, "\t"),
                          withTabs(filterSpaceToTab, "\t"), filterSpcTabToNewline, withLineSpaces(0)};
    for (const auto& filter : all) {
        SCOPED_TRACE(&filter - all);  // the option, counted from 0
        EXPECT_EQ("", convert(filter, ""));
        const std::string out = convert(filter, allBytes);
        EXPECT_EQ(allBytes, out.substr(0, allBytes.size()));
    }
}

namespace {

Filter filterFor(int option, int parameter) {
    static const char* const tabs[] = {"", "\t", "\t\t", "\t\t\t"};
    switch (option) {
    case 1: return filterSpcTabToComma;
    case 2: return filterCommaToSpace;
    case 3: return withTabs(filterCommaToTab, tabs[parameter]);
    case 4: return withTabs(filterSpaceToTab, tabs[parameter]);
    case 5: return filterSpcTabToNewline;
    default: return withLineSpaces(parameter);
    }
}

}  // namespace

TEST(Filters, MatchTheRulesAppliedByteByByteOnRandomText) {
    // Every option with every parameter it takes.
    const struct { int option, parameter; } conversions[] = {
        {1, 0}, {2, 0}, {3, 1}, {3, 2}, {3, 3}, {4, 1}, {4, 2}, {4, 3}, {5, 0},
        {6, 0}, {6, 1}, {6, 2}, {6, 3}, {6, 4},
    };
    // Few kinds of byte, so that runs, line ends and CRs fall everywhere in
    // the words, vectors and pieces the filters and files work on; lengths
    // around those sizes and across the file buffer.
    // (Bytes 11 and 12 sit one above LF and CR: the bytes the word-wise
    // search can mistake for them right after a real one.)
    const char alphabet[] = {'a', 'b', ' ', ' ', '\t', ',', '\n', '\r', '\r', '\0', '\xff', '\x0b', '\x0c'};
    // And the same bytes far apart, as in most text, where a vector often
    // holds one line end or none.
    std::string sparse(64 - sizeof alphabet, 'x');
    sparse.append(alphabet, sizeof alphabet);
    std::mt19937 random(4);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    for (const std::size_t n : {63u, 64u, 65u, 127u, 128u, 129u, 16383u, 16384u, 16385u}) lengths.push_back(n);
    for (const std::size_t n :
         {textFileBufferSize - 1, textFileBufferSize, textFileBufferSize + 1, 2 * textFileBufferSize + 9})
        lengths.push_back(n);
    // And text whose every line ends CR LF, which the files lend as it is:
    // lines of the alphabet's other bytes, some empty. For every other length
    // one lone CR or LF stands in it, so that the reads switch between the
    // forms. (Its own generator: the other kinds of text stay as they were.)
    const std::string lineBytes = "ab  \t,\0\xff\x0b\x0c"s;
    std::mt19937 crLfRandom(15);
    const auto crLfLines = [&](std::size_t length, bool withFault) {
        std::string text;
        while (text.size() < length) {
            std::string line(crLfRandom() % 4 == 0 ? 0 : crLfRandom() % 40, 'a');
            for (char& c : line) c = lineBytes[crLfRandom() % lineBytes.size()];
            text += line + "\r\n";
        }
        text.resize(length);  // perhaps between a CR and its LF
        for (int tries = 0; withFault && tries < 100; ++tries) {
            const std::size_t at = crLfRandom() % length;
            if (text[at] == '\r' || text[at] == '\n') continue;  // a byte of a line, not of its end
            text[at] = crLfRandom() % 2 == 0 ? '\r' : '\n';
            break;
        }
        return text;
    };
    const char* const kindNames[] = {"", ", bytes far apart", ", CR LF lines"};
    for (const std::size_t length : lengths) {
        for (const int kind : {0, 1, 2}) {
            std::string raw(length, 'a');
            if (kind == 2) {
                raw = crLfLines(length, length % 2 == 1);
            } else {
                for (char& c : raw)
                    c = kind == 1 ? sparse[random() % sparse.size()] : alphabet[random() % sizeof alphabet];
            }
            if (length == 30) raw[20] = '\x1a';  // the input ends there
            onEveryPath([&] {
                for (const auto [option, parameter] : conversions) {
                    SCOPED_TRACE("option " + std::to_string(option) + " (" + std::to_string(parameter) + "), length " +
                                 std::to_string(length) + kindNames[kind]);
                    EXPECT_EQ("", firstDifference(convertByteByByte(option, parameter, raw),
                                                  convert(filterFor(option, parameter), raw)));
                }
            });
        }
    }
}
