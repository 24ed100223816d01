#pragma once

#include <functional>
#include <string>

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

/// Runs a shell command and returns what it wrote to standard output.
std::string shell(const std::string& command);

struct RunResult {
    std::string console;  // everything written to standard output
    int status = -1;      // the exit status, or -1 if it did not exit normally
};

/// The 13 lines the program opens with, each ended with CR LF; the box in
/// UTF-8 or in code-page-437 bytes.
std::string titleScreen(bool utf8 = false);

/// Runs the built program in `directory` with `answers` on standard input and
/// no controlling terminal, and no locale (so the box is drawn in code page 437). `prepare`, if given, runs in the child just before
/// the program starts (to set a limit, say).
RunResult runProgram(const std::string& directory, const std::string& answers,
                     const std::function<void()>& prepare = {});
