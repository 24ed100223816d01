#include "run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "temp_files.h"

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
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
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
