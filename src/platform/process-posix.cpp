// The process on POSIX: signals that would end it on a failed write, and
// the standard streams.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

void prepareProcess() {
    // A closed console or output pipe must not kill the run half way: writes
    // then fail with EPIPE, which the callers treat like any failed write.
    signal(SIGPIPE, SIG_IGN);
    // Likewise a file size limit: a write past it fails with EFBIG and the
    // copy is reported as incomplete, instead of the program dying mid-copy.
    signal(SIGXFSZ, SIG_IGN);
    // A standard stream started closed would be reused by the next open: the
    // prompts would then go into the output file, or the answers come from
    // the input file. Hold its place with /dev/null.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != fd) break;
}
