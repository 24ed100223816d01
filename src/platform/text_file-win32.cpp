// Text-file calls on Windows: CreateFile, ReadFile, WriteFile, CloseHandle
// and the directory search, nothing else. Names are compared the way the file
// system does it: letter case does not tell them apart.

#include <windows.h>

#include "platform/text_file.h"
#include "platform/text_file_os.h"
#include "platform/win32_chunks.h"

namespace {

constexpr DWORD notForOutput = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD notCounted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

HANDLE toHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t fromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

bool identity(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(file, &info) != 0;
}

}  // namespace

std::intptr_t osOpenInput(const char* name) {
    // Others may go on reading and writing it; a directory cannot be opened this way.
    return fromHandle(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::intptr_t osOpenOutput(const char* name) {
    // A read-only, hidden or system file is left alone, as is a directory.
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & notForOutput) != 0) return -1;
    return fromHandle(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
}

long osRead(std::intptr_t handle, unsigned char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD chunk = chunkOf(size);
    if (!ReadFile(toHandle(handle), buffer, chunk, &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe's writer has finished
    return static_cast<long>(got);
}

bool osWrite(std::intptr_t handle, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = chunkOf(count);
        if (!WriteFile(toHandle(handle), bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

bool osClose(std::intptr_t handle) { return CloseHandle(toHandle(handle)) != 0; }

std::int64_t osFileSize(std::intptr_t handle) {
    // A pipe or a character device has no size worth the name.
    LARGE_INTEGER size;
    if (GetFileType(toHandle(handle)) != FILE_TYPE_DISK || !GetFileSizeEx(toHandle(handle), &size)) return -1;
    return static_cast<std::int64_t>(size.QuadPart);
}

bool osFileExists(const char* name) {
    // The directory search matches "*" and "?" itself, and letter case as the
    // file system does.
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA(name, &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do found = (entry.dwFileAttributes & notCounted) == 0;
    while (!found && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

bool osIsSameFile(std::intptr_t handle, const char* name) {
    // The file's identity, not its name: the volume and the file's index on it.
    // No access is asked for, so any existing file or directory can be looked at.
    const HANDLE named = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION open;
    BY_HANDLE_FILE_INFORMATION other;
    const bool same = identity(toHandle(handle), open) && identity(named, other) &&
                      open.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
                      open.nFileIndexHigh == other.nFileIndexHigh && open.nFileIndexLow == other.nFileIndexLow;
    CloseHandle(named);
    return same;
}

// "\" ends a folder as "/" does, and so does a drive ("C:") at the start.
std::size_t folderPartLength(const char* name) { return folderPartLength(name, FolderRules::windows); }
