#pragma once

#include <initializer_list>
#include <string>

// What the program writes at the console, from the tests' one list of its
// texts (tests/console_texts.txt).

/// The text named `name` as the program writes it, its indent included, each
/// %s replaced by the next of `fileNames`. No line end is added.
std::string consoleText(const std::string& name, std::initializer_list<std::string> fileNames = {});

/// The 13 lines the program opens with, each ended with CR LF; the box in
/// UTF-8 or in ASCII.
std::string titleScreen(bool utf8 = false);

/// The questions, as the program writes them (no line end).
inline const std::string askInput = consoleText("askInput");
inline const std::string askOption = consoleText("askOption");
inline const std::string askTabs = consoleText("askTabs");
inline const std::string askLineSpaces = consoleText("askLineSpaces");
inline const std::string askOutput = consoleText("askOutput");
inline const std::string askOverwrite = consoleText("askOverwrite");
