#include "filters/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "every_path.h"
#include "test_support.h"

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
    const std::string exact(1023, 'x');
    const std::string full(1024, 'y');
    const std::string huge = std::string(5000, 'z') + '\0' + std::string(3000, 'w');
    expectConversions(withLineSpaces(1), {
        {exact + "\n", exact + "\r\n\r\n"},
        {exact, exact + "\r\n\r\n"},
        {full + "\nb\n", full + "\r\n\r\nb\r\n\r\n"},
        {full, full + "\r\n\r\n"},
        {huge + "\n\nb", huge + "\r\n\r\nb\r\n\r\n"},
        {std::string(2046, 'q') + "\n", std::string(2046, 'q') + "\r\n\r\n"},  // two full pieces
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

// The rules of the six options one byte at a time, on a string: what the
// filters, which work on pieces, words and vectors of the input, must match.
// The parameter is the number of TABs for options 3 and 4 and the number of
// blank lines for option 6.
std::string convertByteByByte(int option, int parameter, const std::string& raw) {
    std::string text;  // as a text file reads it: up to a byte 26, without CRs
    for (const char c : raw.substr(0, raw.find('\x1a')))
        if (c != '\r') text += c;
    std::string out;
    if (option == 1 || option == 5) {
        bool inField = false;
        for (const char c : text) {
            const bool blank = c == ' ' || c == '\t';
            if (blank && inField) out += option == 1 ? ',' : '\n';
            if (!blank) out += c;
            inField = !blank && c != '\n';
        }
    } else if (option == 6) {
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            if (end > start) out += text.substr(start, end - start) + std::string(1 + parameter, '\n');
            start = end + 1;
        }
    } else {
        const char from = option == 4 ? ' ' : ',';
        const std::string to = option == 2 ? " " : std::string(parameter, '\t');
        for (const char c : text) out += c == from ? to : std::string(1, c);
    }
    std::string written;  // as a text file writes it: LF as CR LF
    for (const char c : out) written += c == '\n' ? "\r\n" : std::string(1, c);
    return written;
}

// Where the written bytes first differ from the expected ones, or "" if they
// are the same: readable, and quick to find even in long outputs.
std::string firstDifference(const std::string& expected, const std::string& written) {
    if (written == expected) return "";
    const auto at = static_cast<std::size_t>(
        std::mismatch(expected.begin(), expected.end(), written.begin(), written.end()).first - expected.begin());
    return "at byte " + std::to_string(at) + " of " + std::to_string(expected.size()) + " expected (" +
           std::to_string(written.size()) + " written): expected " + testing::PrintToString(expected.substr(at, 12)) +
           ", written " + testing::PrintToString(written.substr(at, 12));
}

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
    for (const std::size_t n : {textFileBufferSize - 1, textFileBufferSize, textFileBufferSize + 1, 2 * textFileBufferSize + 9})
        lengths.push_back(n);
    for (const std::size_t length : lengths) {
        for (const bool farApart : {false, true}) {
            std::string raw(length, 'a');
            for (char& c : raw)
                c = farApart ? sparse[random() % sparse.size()] : alphabet[random() % sizeof alphabet];
            if (length == 30) raw[20] = '\x1a';  // the input ends there
            onEveryPath([&] {
                for (const auto [option, parameter] : conversions) {
                    SCOPED_TRACE("option " + std::to_string(option) + " (" + std::to_string(parameter) +
                                 "), length " + std::to_string(length) + (farApart ? ", bytes far apart" : ""));
                    EXPECT_EQ("", firstDifference(convertByteByByte(option, parameter, raw),
                                                  convert(filterFor(option, parameter), raw)));
                }
            });
        }
    }
}
