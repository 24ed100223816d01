// Any bytes as the console answers to the whole run of the built program,
// started afresh for each input in a directory of its own. The run must exit
// with status 0 (a sanitizer report or a crash would not), within a time
// limit, leave its input file as it was, and make files only where it runs.
//
// A '/' in the answers is turned into '_': with no path in any name, every
// file the program makes belongs in its working directory, so a file
// anywhere else is a fault and not a name that was asked for.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "fuzz_support.h"

namespace {

namespace fs = std::filesystem;

const std::string inputText = "one two\tthree\r\n,a,,b\n\n  last line";

// Runs the program in `work` with the answers on standard input and no
// controlling terminal; its console output is dropped. The exit status, or
// -1 for a run that did not exit normally or took too long.
int runProgram(const std::string& work, const std::string& answersPath) {
    const pid_t child = fork();
    if (child < 0) std::abort();
    if (child == 0) {
        setsid();  // no terminal: the last key is not awaited
        const int in = open(answersPath.c_str(), O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(work.c_str()) != 0) _exit(127);
        execl(ZORVEN_PROGRAM, ZORVEN_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0) std::abort();
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the program did not finish in 20 s\n");
            kill(child, SIGKILL);
            (void)waitpid(child, &status, 0);  // reaped only so it leaves no zombie
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string answers(reinterpret_cast<const char*>(data), size);
    std::replace(answers.begin(), answers.end(), '/', '_');

    // The sandbox holds the answers and `work`, where the program runs with a
    // few files to find: an input, an existing output and a directory.
    const std::string sandbox = fuzz::scratchDirectory() + "/run";
    const std::string work = sandbox + "/work";
    fs::remove_all(sandbox);
    fs::create_directories(work + "/dir");
    fuzz::writeWholeFile(work + "/in", inputText);
    fuzz::writeWholeFile(work + "/old.csv", "old\r\n");
    const std::string answersPath = sandbox + "/answers";
    fuzz::writeWholeFile(answersPath, answers);

    const int status = runProgram(work, answersPath);
    if (status != 0) {
        std::fprintf(stderr, "the program ended with status %d\n", status);
        std::abort();
    }
    if (fuzz::readWholeFile(work + "/in") != inputText) {
        std::fprintf(stderr, "the input file was changed\n");
        std::abort();
    }
    for (const auto& entry : fs::directory_iterator(sandbox)) {
        const std::string name = entry.path().filename();
        if (name != "work" && name != "answers") {
            std::fprintf(stderr, "a file was made outside the working directory: %s\n", name.c_str());
            std::abort();
        }
    }
    if (!fs::is_empty(work + "/dir")) {
        std::fprintf(stderr, "a file was made in a directory no answer named\n");
        std::abort();
    }
    return 0;
}
