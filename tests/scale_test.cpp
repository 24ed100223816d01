// The built program converts a file larger than 4 GiB, holding one field
// longer than 2^32 characters, by options 1 and 5. Neither file touches the
// disk: the input is generated into a FIFO and the output is checked as it
// streams out of another. Prints the time, the rate and the program's peak
// memory; exits with status 1 on a wrong copy.
//
//   zorven_scale [field length]   (default 2^32 + 5)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"
#include "temp_files.h"

namespace {

constexpr std::size_t blockSize = 1 << 20;

// Writes all of `count` bytes, in blocks; false if the reader went away.
bool writeAll(int fd, const char* bytes, std::uint64_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, std::min<std::uint64_t>(count, blockSize));
        if (written <= 0) return false;
        count -= static_cast<std::uint64_t>(written);
    }
    return true;
}

// The input: blanks, the long field, a blank run, a short field, a CR LF
// line end and a last line with no end.
void generate(const std::string& path, std::uint64_t fieldLength) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const std::vector<char> xs(blockSize, 'x');
    bool ok = writeAll(fd, " \t ", 3);
    for (std::uint64_t left = fieldLength; ok && left > 0;) {
        const std::uint64_t n = std::min<std::uint64_t>(left, blockSize);
        ok = writeAll(fd, xs.data(), n);
        left -= n;
    }
    if (ok) (void)writeAll(fd, " \t y\r\n z", 8);  // the reader sees the end either way
    close(fd);
}

struct Check {
    std::uint64_t size = 0;
    bool matches = false;
};

// Reads the output to its end and compares it, as it comes, with `fieldLength`
// x's followed by `tail`.
void check(const std::string& path, std::uint64_t fieldLength, const std::string& tail, Check& result) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::vector<char> buffer(blockSize);
    bool matches = true;
    std::string seenTail;
    std::uint64_t size = 0;
    ssize_t got;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
        for (ssize_t i = 0; i < got; ++i, ++size) {
            if (size < fieldLength) {
                matches = matches && buffer[static_cast<std::size_t>(i)] == 'x';
            } else if (seenTail.size() <= tail.size()) {
                seenTail += buffer[static_cast<std::size_t>(i)];
            }
        }
    }
    close(fd);
    result.size = size;
    result.matches = matches && got == 0 && seenTail == tail;
}

bool convert(const std::string& dir, char option, std::uint64_t fieldLength, const std::string& tail) {
    const std::string in = dir + "/big";
    const std::string out = dir + (option == '1' ? "/out.csv" : "/out.txt");
    if (mkfifo(in.c_str(), 0600) != 0 || mkfifo(out.c_str(), 0600) != 0) return false;
    // The program does not wait for a reader of its output FIFO: one is there
    // before it starts, so that the checker's open, which waits for the
    // program, may come before or after it.
    const int reader = open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader < 0) return false;
    Check result;
    std::thread generator(generate, in, fieldLength);
    std::thread checker(check, out, fieldLength, tail, std::ref(result));
    // The output FIFO exists already: the overwrite question gets its y.
    const std::string answers = std::string("big ") + option + " out y\n";
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = runProgram(dir, answers);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    generator.join();
    checker.join();
    close(reader);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);  // the largest of the children so far
    const std::uint64_t expectedSize = fieldLength + tail.size();
    const std::uint64_t inputSize = fieldLength + 11;
    std::printf("option %c: input %llu bytes in %.1f s (%.0f MiB/s), output %llu bytes, peak memory %ld KiB: %s\n",
                option, static_cast<unsigned long long>(inputSize), seconds,
                static_cast<double>(inputSize) / (1 << 20) / seconds, static_cast<unsigned long long>(result.size),
                usage.ru_maxrss,
                result.matches && result.size == expectedSize && run.status == 0 ? "ok" : "WRONG");
    unlink(in.c_str());
    unlink(out.c_str());
    return result.matches && result.size == expectedSize && run.status == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t fieldLength = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : (std::uint64_t{1} << 32) + 5;
    TempDir dir;
    bool ok = convert(dir.path(), '1', fieldLength, ",y\r\nz");
    ok = convert(dir.path(), '5', fieldLength, "\r\ny\r\nz") && ok;
    return ok ? 0 : 1;
}
