#pragma once

#include <histedit.h>

// The BSD editline library (libedit), loaded the first time a terminal asks
// for the line editor: a program whose answers come from a pipe or a file
// never loads it, nor the libraries it needs in turn, which would take about
// a millisecond of every such start.

/// The library's functions that the line editor calls.
struct EditlineLibrary {
    decltype(&::el_init) init;
    decltype(&::el_end) end;
    decltype(&::el_set) set;
    decltype(&::el_wset) wset;
    decltype(&::el_get) get;
    decltype(&::el_gets) gets;
    decltype(&::el_line) line;
    decltype(&::el_cursor) cursor;
    decltype(&::el_deletestr) deletestr;
    decltype(&::el_insertstr) insertstr;
    decltype(&::el_resize) resize;
    decltype(&::history_init) historyInit;
    decltype(&::history_end) historyEnd;
    decltype(&::history) history;
};

/// The library, loaded on the first call; nullptr if it cannot be (then
/// lines typed at a terminal are read as they come, unedited).
const EditlineLibrary* editlineLibrary();
