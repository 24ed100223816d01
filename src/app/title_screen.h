#pragma once

/// Clears the console and writes the banner, the heading and the boxed menu
/// of the six options, then an empty line: 13 lines, the same on every run.
void showTitleScreen();
