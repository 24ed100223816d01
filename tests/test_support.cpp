#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/zorven-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only entries made by a test must not stop the clean-up.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::string shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

std::string titleScreen(bool utf8) {
    const auto box = [utf8](const char* cp437, const char* utf8Text) { return std::string(utf8 ? utf8Text : cp437); };
    const std::string topLeft = box("\xc9", "\u2554"), horizontal = box("\xcd", "\u2550"),
                      topRight = box("\xbb", "\u2557"), vertical = box("\xba", "\u2551"),
                      bottomLeft = box("\xc8", "\u255a"), bottomRight = box("\xbc", "\u255d");
    const std::string margin(20, ' ');
    std::string edge;
    for (int i = 0; i < 38; ++i) edge += horizontal;
    std::string screen =
        " 32bit Ver.4               ******* ZORVEN.EXE *******                 zorven.io\r\n"
        "                                 CHANGE OPTIONS\r\n";
    screen += margin + topLeft + edge + topRight + "\r\n";
    for (const char* row : {"                                      ",
                            "     1. Spc/tab ---> Comma(.csv).     ",
                            "     2. Comma -----> Space(.txt).     ",
                            "     3. Comma -----> Tab(.tsv).       ",
                            "     4. Space -----> Tab(.tsv).       ",
                            "     5. Spc/tab ---> Newline(.txt).   ",
                            "     6. Line ------> Spacing.         ",
                            "                                      "})
        screen += margin + vertical + row + vertical + "\r\n";
    screen += margin + bottomLeft + edge + bottomRight + "\r\n\r\n";
    return screen;
}

RunResult runProgram(const std::string& directory, const std::string& answers,
                     const std::function<void()>& prepare) {
    TempDir io;
    const std::string answersPath = io / "answers";
    const std::string consolePath = io / "console";
    writeFile(answersPath, answers);

    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        setsid();  // no controlling terminal: the key waits return at once
        const int in = open(answersPath.c_str(), O_RDONLY | O_CLOEXEC);
        const int out = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(directory.c_str()) != 0)
            _exit(127);
        // Whatever the test process holds open (another thread's end of a
        // FIFO, say) must not reach the program: it would count as a reader
        // or writer of the program's own files and could block it for ever.
        close_range(3, ~0U, 0);
        unsetenv("LC_ALL");
        unsetenv("LC_CTYPE");
        unsetenv("LANG");
        if (prepare) prepare();
        execl(ZORVEN_PROGRAM, ZORVEN_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    RunResult result;
    result.console = readFile(consolePath);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
