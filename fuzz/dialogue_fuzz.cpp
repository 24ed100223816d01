// The whole dialogue, in this process, with arbitrary bytes as the answers on
// standard input. In process, so that libFuzzer sees which paths of the
// dialogue, the console and the files each input reaches, and steers to new
// ones. Each run must return 0, must leave the files it may only read as they
// were, and must make nothing but plain files, all inside its working
// directory. Crashes, sanitizer reports and hangs are libFuzzer's to
// catch. Run without a controlling terminal (scripts/fuzz.sh uses setsid), or
// the last key would be awaited.
//
// A "/" in the answers becomes "_": a typed path may name any file on the
// machine, and writing there is the program's job, not a fault.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <set>
#include <string>

#include "app/dialogue.h"
#include "fuzz_support.h"
#include "platform/console.h"

namespace {

struct Seed {
    const char* name;
    std::string contents;
    bool mayChange;  // an output name some answers can give
};

std::string bigInput() {
    std::string text;
    for (int i = 0; i < 9000; ++i) text += "one two,three\t four\r\n";
    return text + std::string(3000, 'x') + "\n\n\x1a" "after";
}

// Names without an extension or "sp_" are never output names, so these stay.
const Seed seeds[] = {
    {"in", "one two\tthree\r\n,a,,b\n\n  last line", false},
    {"a", "one two,three\n  x\r\n\n\x1a tail", false},
    {"Data", "a,b c\n", false},
    {"big", bigInput(), false},
    {"nul", std::string("\0a b\n\0\n", 7), false},
    {"out.csv", "old\n", true},
    {"old.csv", "old\r\n", true},
    {"r.txt", "old\n", true},
    {"0sp_a", "old\n", true},
};
const char* const directories[] = {"dir", "dir.csv"};
const char* const readOnly = "ro.csv";

std::string workDirectory() { return fuzz::scratchDirectory() + "/work"; }
std::string answersPath() { return fuzz::scratchDirectory() + "/answers"; }

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// Puts the working directory back as the seeds describe it.
void restoreSeeds(bool all) {
    for (const Seed& seed : seeds)
        if (all || seed.mayChange) writeFile(workDirectory() + "/" + seed.name, seed.contents);
    chmod((workDirectory() + "/" + readOnly).c_str(), 0644);
    writeFile(workDirectory() + "/" + readOnly, "old\n");
    chmod((workDirectory() + "/" + readOnly).c_str(), 0444);
}

// Compares without a fresh allocation each time: large short-lived blocks
// cost the fuzzer more than the run it checks.
bool fileHolds(const std::string& path, const std::string& contents) {
    static char block[64 * 1024];
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t at = 0;
    bool same = true;
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got <= 0) {
            same = same && got == 0 && at == contents.size();
            break;
        }
        const auto count = static_cast<std::size_t>(got);
        if (at + count > contents.size() || contents.compare(at, count, block, count) != 0) {
            same = false;
            break;
        }
        at += count;
    }
    close(fd);
    return same;
}

std::set<std::string> entriesOf(const std::string& path) {
    std::set<std::string> names;
    DIR* directory = opendir(path.c_str());
    check(directory != nullptr, "a directory of the fuzzer's went away");
    while (const dirent* entry = readdir(directory))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.insert(entry->d_name);
    closedir(directory);
    return names;
}

// After a run: nothing outside the working directory, nothing there but
// plain files, the inputs untouched. Removes what the run made.
void checkAndClean() {
    check(entriesOf(fuzz::scratchDirectory()) == std::set<std::string>{"work", "answers"},
          "the dialogue made a file outside its working directory");
    for (const std::string& name : entriesOf(workDirectory())) {
        const std::string path = workDirectory() + "/" + name;
        const Seed* seed = nullptr;
        for (const Seed& each : seeds)
            if (name == each.name) seed = &each;
        if (seed != nullptr && !seed->mayChange)
            check(fileHolds(path, seed->contents), "a file that was only to be read has changed");
        const bool known = seed != nullptr || name == readOnly ||
                           std::find_if(std::begin(directories), std::end(directories),
                                        [&](const char* d) { return name == d; }) != std::end(directories);
        if (known) continue;
        struct stat status;
        check(lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode), "the dialogue made something not a file");
        unlink(path.c_str());
    }
    restoreSeeds(false);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The dialogue's console output goes nowhere; libFuzzer reports on stderr.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    check(null >= 0 && dup2(null, STDOUT_FILENO) >= 0, "cannot send standard output to /dev/null");
    close(null);
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(tty < 0, "run me without a controlling terminal (setsid -w), or I wait for keys");
    check(mkdir(workDirectory().c_str(), 0700) == 0 && chdir(workDirectory().c_str()) == 0,
          "cannot make the working directory");
    for (const char* directory : directories) mkdir(directory, 0700);
    restoreSeeds(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string answers(reinterpret_cast<const char*>(data), size);
    std::replace(answers.begin(), answers.end(), '/', '_');
    writeFile(answersPath(), answers);
    const int in = open(answersPath().c_str(), O_RDONLY | O_CLOEXEC);
    check(in >= 0 && dup2(in, STDIN_FILENO) >= 0, "cannot put the answers on standard input");
    close(in);
    restartAnswers();

    check(runDialogue() == 0, "the dialogue returned a status other than 0");
    checkAndClean();
    return 0;
}
