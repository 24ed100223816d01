// Text-file calls on POSIX: open, read, write, close and stat, nothing else.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/interrupts.h"
#include "platform/text_file.h"
#include "platform/text_file_os.h"

namespace {

bool hasWildcard(const char* name) { return std::strpbrk(name, "*?") != nullptr; }

// "*" matches any run of characters, "?" any one; everything else itself.
bool matchesWildcards(const char* pattern, const char* name) {
    const char* starPattern = nullptr;  // just after the last "*" seen
    const char* starName = nullptr;     // where that "*" would resume matching
    while (*name != '\0') {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (starPattern != nullptr) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

bool isFileEntry(int directory, const char* entry) {
    struct stat status;
    return fstatat(directory, entry, &status, 0) == 0 && !S_ISDIR(status.st_mode);
}

}  // namespace

std::intptr_t osOpenInput(const char* name) {
    int fd;
    do fd = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat status;
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

std::intptr_t osOpenOutput(const char* name) {
    struct stat status;
    // Read-only means the owner may not write, even for root, who could.
    if (stat(name, &status) == 0 && (S_ISDIR(status.st_mode) || (status.st_mode & S_IWUSR) == 0))
        return -1;
    // O_NONBLOCK so that a FIFO with no reader fails at once instead of hanging.
    int fd;
    do fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

long osRead(std::intptr_t handle, unsigned char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = read(static_cast<int>(handle), buffer, size);
        if (got < 0 && errno == EINTR && !interrupted()) continue;  // an interrupt ends the wait
        return static_cast<long>(got);
    }
}

bool osWrite(std::intptr_t handle, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(static_cast<int>(handle), bytes, count);
        if (written < 0 && errno == EINTR && !interrupted()) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
        // A write that waits (on a FIFO) and that an interrupt cut short is not
        // waited for again: the copy is stopping.
        if (count > 0 && interrupted()) return false;
    }
    return true;
}

bool osClose(std::intptr_t handle) {
    // No retry on EINTR: on Linux the descriptor is gone either way.
    return close(static_cast<int>(handle)) == 0;
}

std::int64_t osFileSize(std::intptr_t handle) {
    struct stat status;
    if (fstat(static_cast<int>(handle), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return static_cast<std::int64_t>(status.st_size);
}

bool osFileExists(const char* name) {
    const char* slash = std::strrchr(name, '/');
    const char* last = slash != nullptr ? slash + 1 : name;
    if (!hasWildcard(last)) {
        struct stat status;
        return stat(name, &status) == 0 && !S_ISDIR(status.st_mode);
    }
    const std::string directoryName =
        slash == nullptr ? "." : slash == name ? "/" : std::string(name, slash);
    DIR* directory = opendir(directoryName.c_str());
    if (directory == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(directory)) {
        // Dot files count: there are no hidden marks here, and no existing
        // file may be overwritten without the question.
        if (matchesWildcards(last, entry->d_name) && isFileEntry(dirfd(directory), entry->d_name)) {
            found = true;
            break;
        }
    }
    closedir(directory);
    return found;
}

bool osIsSameFile(std::intptr_t handle, const char* name) {
    struct stat open;
    struct stat named;
    return fstat(static_cast<int>(handle), &open) == 0 && stat(name, &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Only "/" ends a folder here; "\" and ":" are ordinary bytes of a name.
std::size_t folderPartLength(const char* name) { return folderPartLength(name, FolderRules::posix); }
