// Stands in for the command processor in the tests: appends the command line
// it was started with, less its own name, to "cls-calls.txt" in the current
// directory, so a test can see that the program ran "cls" through it.

#include <windows.h>

#include <cstring>

int main() {
    const char* line = GetCommandLineA();
    // The program's own name comes first, quoted or not; what follows is the command.
    const char* rest = line;
    if (*rest == '"') {
        rest = std::strchr(rest + 1, '"');
        rest = rest != nullptr ? rest + 1 : line + std::strlen(line);
    } else {
        while (*rest != '\0' && *rest != ' ') ++rest;
    }
    while (*rest == ' ') ++rest;
    const HANDLE file = CreateFileA("cls-calls.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, rest, static_cast<DWORD>(std::strlen(rest)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    return 0;
}
