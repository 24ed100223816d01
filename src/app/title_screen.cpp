#include "app/title_screen.h"

#include "platform/console.h"

namespace {

constexpr const char* banner =
    " 32bit Ver.4               ******* ZORVEN.EXE *******                 zorven.io";
constexpr const char* heading = "                                 CHANGE OPTIONS";
constexpr const char* margin = "                    ";  // the box stands in columns 21 to 60

constexpr std::size_t innerWidth = 38;
constexpr const char* menuRows[] = {
    "                                      ",
    "     1. Spc/tab ---> Comma(.csv).     ",
    "     2. Comma -----> Space(.txt).     ",
    "     3. Comma -----> Tab(.tsv).       ",
    "     4. Space -----> Tab(.tsv).       ",
    "     5. Spc/tab ---> Newline(.txt).   ",
    "     6. Line ------> Spacing.         ",
    "                                      ",
};

void edge(BoxChar left, BoxChar right) {
    writeText(margin);
    writeBoxChar(left);
    writeBoxChar(BoxChar::horizontal, innerWidth);
    writeBoxChar(right);
    endLine();
}

}  // namespace

void showTitleScreen() {
    clearScreen();
    writeText(banner);
    endLine();
    writeText(heading);
    endLine();
    edge(BoxChar::topLeft, BoxChar::topRight);
    for (const char* row : menuRows) {
        writeText(margin);
        writeBoxChar(BoxChar::vertical);
        writeText(row);
        writeBoxChar(BoxChar::vertical);
        endLine();
    }
    edge(BoxChar::bottomLeft, BoxChar::bottomRight);
    endLine();
}
