#include "expected_screen.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

struct Text {
    std::string name;
    std::size_t indent;  // the spaces before it
    std::string text;
};

// One line of the list: a name, an indent and a quoted text. False if it
// is not one.
bool parse(const std::string& line, Text& text) {
    std::istringstream fields(line);
    if (!(fields >> text.name >> text.indent)) return false;
    const std::size_t open = line.find('"', static_cast<std::size_t>(fields.tellg()));  // npos if none is left
    if (open == std::string::npos || line.size() - open < 2 || line.back() != '"') return false;
    text.text = line.substr(open + 1, line.size() - open - 2);
    return true;
}

// The list, read once: a line that is neither a text, a comment nor empty
// is a mistake in it, and stops the tests.
const std::vector<Text>& texts() {
    static const std::vector<Text> all = [] {
        std::ifstream in(ZORVEN_CONSOLE_TEXTS);
        if (!in) throw std::runtime_error("cannot read " ZORVEN_CONSOLE_TEXTS);
        std::vector<Text> read;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            Text text;
            if (!parse(line, text)) throw std::runtime_error("not a console text: " + line);
            read.push_back(text);
        }
        return read;
    }();
    return all;
}

// The text with its indent.
std::string named(const std::string& name) {
    for (const Text& text : texts())
        if (text.name == name) return std::string(text.indent, ' ') + text.text;
    throw std::runtime_error("no console text named " + name);
}

}  // namespace

std::string consoleText(const std::string& name, std::initializer_list<std::string> fileNames) {
    std::string text = named(name);
    std::size_t at = 0;
    for (const std::string& fileName : fileNames) {
        at = text.find("%s", at);
        if (at == std::string::npos) throw std::runtime_error("too many file names for " + name);
        text.replace(at, 2, fileName);
        at += fileName.size();
    }
    return text;
}

std::string titleScreen(bool utf8) {
    const auto box = [utf8](const char* ascii, const char* utf8Text) { return std::string(utf8 ? utf8Text : ascii); };
    const std::string topLeft = box("+", "\u2554"), horizontal = box("=", "\u2550"),
                      topRight = box("+", "\u2557"), vertical = box("|", "\u2551"),
                      bottomLeft = box("+", "\u255a"), bottomRight = box("+", "\u255d");
    std::string margin, edge, rows;
    for (const Text& row : texts()) {
        if (row.name != "menuRow") continue;
        margin.assign(row.indent, ' ');
        edge.clear();
        for (std::size_t i = 0; i < row.text.size(); ++i) edge += horizontal;
        rows += margin + vertical + row.text + vertical + "\r\n";
    }
    return named("banner") + "\r\n" + named("heading") + "\r\n" + margin + topLeft + edge + topRight + "\r\n" + rows +
           margin + bottomLeft + edge + bottomRight + "\r\n\r\n";
}
