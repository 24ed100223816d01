// Completion of file names in the line editor: the Tab key.

#include "platform/name_completion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/editline_library.h"

namespace {

constexpr char quote = '"';  // around a name that holds spaces, as readWord reads it

bool isWhiteSpace(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The word the cursor stands in or at the end of, split as readWord splits the
// line: where it begins (at its opening quote, if it has one).
struct WordAtCursor {
    std::size_t start;
    bool quoted;
};

WordAtCursor wordAtCursor(const char* line, std::size_t cursor) {
    std::size_t i = 0;
    while (i < cursor) {
        if (isWhiteSpace(line[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        const bool quoted = line[i] == quote;
        if (quoted) ++i;
        while (i < cursor && !(quoted ? line[i] == quote : isWhiteSpace(line[i]))) ++i;
        if (i == cursor) return {start, quoted};
        if (quoted) ++i;  // a closed quoted word ends at its quote
    }
    return {cursor, false};
}

// A name that can be typed as one word, in quotes where it holds white space
// or the word began with one, and shown in the locale's characters.
bool canBeTyped(const std::string& name, bool quoted) {
    if (name.find_first_of("\n\r") != std::string::npos) return false;  // a line end ends any word
    if (quoted || std::any_of(name.begin(), name.end(), isWhiteSpace)) {
        if (name.find(quote) != std::string::npos) return false;
    } else if (!name.empty() && name[0] == quote) {
        return false;
    }
    return std::mbstowcs(nullptr, name.c_str(), 0) != static_cast<std::size_t>(-1);
}

struct Candidate {
    std::string name;
    bool directory;
};

// The entries of `folder` whose names begin with `start`, sorted; names
// beginning with a dot only when `start` does.
std::vector<Candidate> candidates(const std::string& folder, const std::string& start, bool quoted) {
    std::vector<Candidate> found;
    DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) return found;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name.compare(0, start.size(), start) != 0) continue;
        if (name[0] == '.' && (start.empty() || start[0] != '.')) continue;
        if (!canBeTyped(folder + name, quoted)) continue;
        struct stat status;
        const bool isDirectory = stat((folder.empty() ? name : folder + name).c_str(), &status) == 0 &&
                                 S_ISDIR(status.st_mode);
        found.push_back({name, isDirectory});
    }
    closedir(directory);
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) { return a.name < b.name; });
    return found;
}

// Lists the names in columns under the line, sorted down each column.
void listCandidates(EditLine* editor, const std::vector<Candidate>& found) {
    const EditlineLibrary* const editline = editlineLibrary();
    std::size_t widest = 0;
    for (const Candidate& each : found) widest = std::max(widest, each.name.size() + (each.directory ? 1 : 0));
    const std::size_t columnWidth = widest + 2;
    int width = 80;
    editline->get(editor, EL_GETTC, "co", &width);
    const std::size_t columns = std::max<std::size_t>(1, static_cast<std::size_t>(width) / columnWidth);
    const std::size_t rows = (found.size() + columns - 1) / columns;
    std::string text = "\r\n";
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t column = 0; column < columns; ++column) {
            const std::size_t i = column * rows + row;
            if (i >= found.size()) break;
            std::string name = found[i].name + (found[i].directory ? "/" : "");
            if (column + 1 < columns && i + rows < found.size()) name.resize(columnWidth, ' ');
            text += name;
        }
        text += "\r\n";
    }
    // Through the editor's own output, so that it stays in order with the line.
    FILE* out = stdout;
    editline->get(editor, EL_GETFP, 1, &out);
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

}  // namespace

unsigned char completeName(EditLine* editor, int) {
    const EditlineLibrary* const editline = editlineLibrary();  // loaded: the editor calls this
    const LineInfo* line = editline->line(editor);
    const auto cursor = static_cast<std::size_t>(line->cursor - line->buffer);
    const WordAtCursor word = wordAtCursor(line->buffer, cursor);
    const std::string typed(line->buffer + word.start, line->buffer + cursor);
    const std::string name = word.quoted ? typed.substr(1) : typed;

    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::vector<Candidate> found = candidates(folder, name.substr(folder.size()), word.quoted);
    if (found.empty()) return CC_ERROR;

    std::string common = found.front().name;
    for (const Candidate& each : found) {
        std::size_t same = 0;
        while (same < common.size() && same < each.name.size() && common[same] == each.name[same]) ++same;
        common.resize(same);
    }
    const bool unique = found.size() == 1;
    const std::string completed = folder + common + (unique && found.front().directory ? "/" : "");
    const bool quoted = word.quoted || std::any_of(completed.begin(), completed.end(), isWhiteSpace);
    std::string replacement = (quoted ? "\"" : "") + completed;
    if (unique && !found.front().directory) replacement += quoted ? "\" " : " ";

    if (replacement == typed) {
        if (unique) return CC_NORM;
        listCandidates(editor, found);
        return CC_REDISPLAY;
    }
    // The word typed so far gives way to the whole completed one; the editor
    // counts characters, not bytes.
    int characters = 0;
    std::mbstate_t state{};
    for (std::size_t at = 0; at < typed.size(); ++characters) {
        const std::size_t length = std::mbrlen(typed.data() + at, typed.size() - at, &state);
        at += length == 0 || length > typed.size() - at ? 1 : length;
    }
    editline->deletestr(editor, characters);
    if (editline->insertstr(editor, replacement.c_str()) != 0)
        (void)editline->insertstr(editor, typed.c_str());  // put it back
    return CC_REFRESH;
}
