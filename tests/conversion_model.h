#pragma once

#include <algorithm>
#include <string>

// The rules of text files and of the six options applied one byte at a time,
// on strings: what the files and the filters, which work on buffers, pieces,
// words and vectors, must match. Used by the filter tests and the fuzzers.

/// What a text file delivers for these bytes: every CR dropped, nothing from
/// the first byte 26 (Ctrl-Z) on.
inline std::string textOf(const std::string& raw) {
    std::string text;
    for (const char c : raw.substr(0, raw.find('\x1a')))
        if (c != '\r') text += c;
    return text;
}

/// What a text file writes for these bytes: every LF as CR LF.
inline std::string withCrLf(const std::string& text) {
    std::string written;
    for (const char c : text) {
        if (c == '\n') written += '\r';
        written += c;
    }
    return written;
}

/// The file an option writes for the raw input bytes. The parameter is the
/// number of TABs for options 3 and 4 and the number of blank lines for
/// option 6, where it is held to 0..4 as the filter holds it.
inline std::string convertByteByByte(int option, int parameter, const std::string& raw) {
    const std::string text = textOf(raw);
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
        const auto lineEnds = static_cast<std::size_t>(1 + std::clamp(parameter, 0, 4));
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            if (end > start) out += text.substr(start, end - start) + std::string(lineEnds, '\n');
            start = end + 1;
        }
    } else {
        const char from = option == 4 ? ' ' : ',';
        const std::string to = option == 2 ? " " : std::string(static_cast<std::size_t>(parameter), '\t');
        for (const char c : text) {
            if (c == from) {
                out += to;
            } else {
                out += c;
            }
        }
    }
    return withCrLf(out);
}
