#pragma once

#include <string>

// Files for the tests and the fuzzers: a directory of their own, and whole
// files read and written in one call.

/// A fresh temporary directory (under TMPDIR, else /tmp), removed with
/// everything in it at the end.
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

/// The file's bytes; empty if it cannot be read.
std::string readFile(const std::string& path);

/// Creates or empties the file and writes the bytes.
void writeFile(const std::string& path, const std::string& bytes);

/// True if something of that name exists (a dangling link too).
bool exists(const std::string& path);
