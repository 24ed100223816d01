#include "platform/console.h"

#include <algorithm>
#include <cstring>

#include "platform/console_os.h"

namespace {

constexpr char carriageReturn = 13;  // dropped from answers
constexpr char ctrlZ = 26;           // ends the answers for good
constexpr char quote = '"';          // around a name that holds spaces

bool isWhiteSpace(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// A plain word ends at white space; a quoted one at its closing quote, or at
// the end of the line when the quote is never closed.
bool endsWord(char c, bool quoted) { return quoted ? c == quote || c == '\n' : isWhiteSpace(c); }

// Standard input, read a block at a time. Once it has ended it stays ended:
// a Ctrl-Z, an end of file or a read error is final for the run.
struct Answers {
    char bytes[512];
    std::size_t next = 0;
    std::size_t end = 0;
    bool ended = false;
};
Answers answers;

// The next byte of the answers with CR dropped, or -1 once they have ended.
int peekAnswer() {
    for (;;) {
        while (answers.next < answers.end) {
            const char c = answers.bytes[answers.next];
            if (c == ctrlZ) answers.ended = true;
            if (answers.ended) return -1;
            if (c != carriageReturn) return static_cast<unsigned char>(c);
            ++answers.next;
        }
        if (answers.ended) return -1;
        answers.next = 0;
        answers.end = osReadConsole(answers.bytes, sizeof answers.bytes);
        if (answers.end == 0) answers.ended = true;
    }
}

// The length of the progress line on the screen; 0 while none is drawn.
std::size_t progressLength = 0;

}  // namespace

void writeText(const char* text) {
    // Translate into a small block so a long text is still one or two writes.
    char block[256];
    std::size_t used = 0;
    for (; *text != '\0'; ++text) {
        if (used + 2 > sizeof block) {
            osWriteConsole(block, used);
            used = 0;
        }
        if (*text == '\n') block[used++] = carriageReturn;
        block[used++] = *text;
    }
    osWriteConsole(block, used);
}

void writeText(char c) {
    if (c == '\n')
        endLine();
    else
        osWriteConsole(&c, 1);
}

void endLine() { osWriteConsole("\r\n", 2); }

std::size_t terminalWidth() { return osTerminalWidth(); }

void drawProgressLine(const char* text) {
    // From the line's start, and spaces over what is left of a longer line
    // drawn before, all in one write.
    char line[1 + 128];
    const std::size_t length = std::min(std::strlen(text), sizeof line - 1);
    const std::size_t covered = std::max(length, std::min(progressLength, sizeof line - 1));
    line[0] = carriageReturn;
    std::memcpy(line + 1, text, length);
    std::memset(line + 1 + length, ' ', covered - length);
    osWriteConsole(line, 1 + covered);
    progressLength = length;
}

void eraseProgressLine() {
    if (progressLength == 0) return;
    osEraseLine(progressLength);
    progressLength = 0;
}

void writeBoxChar(BoxChar c, std::size_t count) {
    static const BoxStyle style = osPrepareBoxStyle();  // decided once, on the first box drawn

    char encoded[3] = {static_cast<char>(c)};
    std::size_t length = 1;
    if (style == BoxStyle::utf8) {
        // All six lie in U+2550 to U+255D, which UTF-8 writes as E2 95 90 to E2 95 9D.
        unsigned codePoint = 0;
        switch (c) {
        case BoxChar::topLeft: codePoint = 0x2554; break;
        case BoxChar::horizontal: codePoint = 0x2550; break;
        case BoxChar::topRight: codePoint = 0x2557; break;
        case BoxChar::vertical: codePoint = 0x2551; break;
        case BoxChar::bottomLeft: codePoint = 0x255a; break;
        case BoxChar::bottomRight: codePoint = 0x255d; break;
        }
        encoded[0] = static_cast<char>(0xe0 | (codePoint >> 12));
        encoded[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3f));
        encoded[2] = static_cast<char>(0x80 | (codePoint & 0x3f));
        length = 3;
    } else if (style == BoxStyle::ascii) {
        encoded[0] = c == BoxChar::horizontal ? '=' : c == BoxChar::vertical ? '|' : '+';
    }
    char block[3 * 64];
    while (count > 0) {
        std::size_t used = 0;
        for (; count > 0 && used + length <= sizeof block; --count, used += length)
            std::memcpy(block + used, encoded, length);
        osWriteConsole(block, used);
    }
}

void forgetTypedAnswers() {
    if (answers.ended || !osAnswersAreTyped()) return;
    // A Ctrl-Z among them still ends the answers.
    while (answers.next < answers.end && answers.bytes[answers.next] != ctrlZ) ++answers.next;
    if (answers.next == answers.end) osForgetTypedInput();
}

void restartAnswers() { answers = Answers{}; }

WordResult readWord(char* buffer, std::size_t size) {
    int c;
    while ((c = peekAnswer()) != -1 && isWhiteSpace(static_cast<char>(c))) ++answers.next;
    if (c == -1) return WordResult::noWord;

    const bool quoted = c == quote;
    if (quoted) ++answers.next;
    std::size_t length = 0;
    bool tooLong = false;
    while ((c = peekAnswer()) != -1 && !endsWord(static_cast<char>(c), quoted)) {
        if (length + 1 < size)
            buffer[length++] = static_cast<char>(c);
        else
            tooLong = true;  // keep reading: the rest of the word is not an answer
        ++answers.next;
    }
    if (quoted && c == quote) ++answers.next;  // the closing quote belongs to no word
    buffer[length] = '\0';
    return tooLong ? WordResult::wordTooLong : WordResult::gotWord;
}
