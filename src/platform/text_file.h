#pragma once

#include <cstddef>
#include <cstdint>

// Text files: reading drops every CR and stops at a byte 26 (Ctrl-Z); writing
// puts out every LF as CR LF. Failures are recorded in the file's flags.

/// Bytes buffered per file. Large enough that a read or write call costs
/// little next to the bytes it moves; small enough to stay in the L2 cache.
/// Measured on a 256 MiB file (bench/run.sh) once the conversions ran on wide
/// vectors: 64 KiB took about 10% longer than 128 KiB; 256 KiB saved another
/// 2% at most, for 256 KiB more memory.
///
/// An output file is written in whole blocks of this size, at offsets that
/// are multiples of it, but for its last write. Its buffer holds one block
/// and room for a piece (`mostRoomToWrite`) past it: a piece that runs past
/// the block stays for the next one. Measured with dd on a 256 MiB file, a
/// copy that wrote 112 KiB at a time took 12% longer than one that wrote 128
/// KiB (the system's cache of the file takes aligned blocks faster), and one
/// that wrote 64 KiB 9% longer.
///
/// The dialogue keeps its two files on the main thread's stack, and a filter
/// puts its pieces on top of them: about 450 KiB in all. That is a fixed
/// amount, whatever the file, and well within the stack a main thread gets (8
/// MiB on Linux by default, 2 MiB reserved for the Windows build); buffers
/// much larger than this belong on the heap.
inline constexpr std::size_t textFileBufferSize = 128 * 1024;

/// The most bytes `roomToWrite` gives room for.
inline constexpr std::size_t mostRoomToWrite = textFileBufferSize / 2;

/// Watches an input file being read; set with `watchReading`.
class ReadWatcher {
public:
    /// Called after each buffer fill with the bytes read from the file since
    /// it was opened (CRs, a Ctrl-Z and what follows it included).
    virtual void afterFill(std::uint64_t bytesRead) = 0;

protected:
    ~ReadWatcher() = default;
};

/// One file open for input or for output. With neither `endOfInput` nor
/// `failed` set it is good; on a file not good, reads take nothing and writes
/// write nothing.
struct TextFile {
    TextFile() = default;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    ~TextFile();

    bool endOfInput = false;
    bool failed = false;
    bool ioError = false;  ///< the system refused a read, a write or the close
    /// An interrupt (see interrupts.h) stopped the reading before the end of
    /// the input, or dropped what was written after it.
    bool cutShort = false;

    std::intptr_t handle_ = -1;  // -1 while closed
    bool forOutput_ = false;
    bool inputEnded_ = false;  // no more bytes to fetch: end of file, Ctrl-Z or an error
    // Input: the bytes from `next_` to `end_` are as read, every line end CR
    // LF (see `takeBytes`); `readChar` and `readLine` drop their CRs first.
    bool crLf_ = false;
    // Input: the CR at `end_` ended a read; it goes in front of the next one,
    // so that the LF it may be waiting for comes to it.
    bool carriedCr_ = false;
    std::uint64_t bytesRead_ = 0;        // from the file, since it was opened
    ReadWatcher* watcher_ = nullptr;     // told after each fill; none on opening
    // Input: the bytes not yet delivered. Output: the free space up to the
    // end of the block being filled; a piece's room goes on past it. Each pair
    // is empty on a file of the other kind, so a misplaced call does no harm.
    unsigned char* next_ = buffer_;
    unsigned char* end_ = buffer_;
    unsigned char* free_ = buffer_;
    unsigned char* freeEnd_ = buffer_;
    // Input held back by a failed `readLine` while bytes were buffered: where they end.
    // They wait there until the flags are cleared, so a file not good gives
    // nothing even through the inline `readChar`.
    unsigned char* heldEnd_ = nullptr;
    // Input uses the first `textFileBufferSize` bytes; output all of them.
    unsigned char buffer_[textFileBufferSize + mostRoomToWrite];
};

/// Opens an existing file for reading; sets `failed` if it cannot.
void openInputFile(TextFile& file, const char* name);

/// Opens a file for writing, creating it (mode 0666 less the umask) or
/// emptying it; sets `failed` if it cannot.
void openOutputFile(TextFile& file, const char* name);

/// The next byte, 0 to 255; -1 when none is left (setting `endOfInput` and
/// `failed`) and on a file not good (setting `failed`).
int readChar(TextFile& file);

/// Reads one line into `buffer`: at most size - 1 bytes and a zero byte after
/// them; the delimiter is taken out and not stored. Sets `endOfInput` at the
/// end of input, with `failed` if no byte was taken; sets `failed` alone when
/// the buffer filled before the delimiter came. Returns the number of bytes
/// stored, zero bytes of the input included.
std::size_t readLine(TextFile& file, char* buffer, std::size_t size, char delimiter);

/// Lends the next bytes of the input in place, without copying them: at
/// most `most`, as `readChar` would deliver them, in the file's buffer, where
/// the caller may change them. `bytes` points to them until the next call on
/// the file. Returns their number: 0 when none is left (setting `endOfInput`
/// and `failed`) and on a file not good (setting `failed`).
std::size_t takeBytes(TextFile& file, char*& bytes, std::size_t most);

/// How the line ends of some text are written.
enum class LineEnds {
    lf,    ///< each line ends with an LF and the text holds no CR
    crLf,  ///< each line ends with a CR LF and the text holds no other CR or LF
};

/// Lends the next bytes as `takeBytes` above does, but where the input's
/// line ends are CR LF already and it holds no other CR, the bytes come as
/// they are, and `lineEnds` says so: then a caller that leaves CRs and LFs
/// alone can write them with `roomToWrite` with no CR to drop or add. Either
/// form may come at each call. A piece in the CR LF form holds whole CR LF
/// pairs: it never ends between the CR and the LF of a line end (with `most`
/// 1, such a CR comes dropped, in the LF form).
std::size_t takeBytes(TextFile& file, char*& bytes, std::size_t most, LineEnds& lineEnds);

/// Room for `count` bytes (at most `mostRoomToWrite`) at the end of the
/// output, in the file's buffer: text whose every line end is CR LF goes
/// there, to be appended with `wroteToRoom`. Everything written there past
/// what `wroteToRoom` appends is dropped. On a file not good the room is
/// there, and whatever is written to it is dropped.
char* roomToWrite(TextFile& file, std::size_t count);

/// Appends the first `count` bytes of the room `roomToWrite` gave, as they
/// are: their line ends must be CR LF already. Failures and interrupts are
/// as for `writeBytes`.
void wroteToRoom(TextFile& file, std::size_t count);

/// Appends the bytes; a write the system refuses sets `failed` and `ioError`,
/// and the rest of the output is dropped. After an interrupt the bytes
/// written before it are kept and these and all later ones dropped, setting
/// `cutShort` and `failed`.
void writeBytes(TextFile& file, const char* bytes, std::size_t count);

/// Writes out what is pending and closes; nothing if not open. A failure sets
/// `failed` and `ioError`.
void closeFile(TextFile& file);

/// True if the name matches an entry that is not a directory; "*" and "?" are
/// wildcards in its last component.
bool fileExists(const char* name);

/// True if `name` names the very file that is open in `file`, under whatever
/// name (links, another path).
bool isSameFile(const TextFile& file, const char* name);

/// How a platform writes the folders of a file name.
enum class FolderRules {
    posix,    ///< "/" ends each folder
    windows,  ///< "/" and "\" end each folder, and so does a drive ("C:") at the start
};

/// The length of the folder part of `name`: the bytes up to and including
/// the end of its last folder; 0 for a name without one. The last part, the
/// file's own name, follows.
std::size_t folderPartLength(const char* name, FolderRules rules);

/// The same, by this platform's rules.
std::size_t folderPartLength(const char* name);

/// The size of an open input file that is a regular file; -1 where it is not
/// known (a pipe, a FIFO, a device) or the file is not open.
std::int64_t inputSize(const TextFile& file);

/// Has `watcher` told of the reading of an input file after each buffer fill,
/// until it is set again (nullptr: nobody) or the file is opened anew.
void watchReading(TextFile& file, ReadWatcher* watcher);

// Inline, so that a caller going a byte at a time pays no call for a byte
// that the buffer already holds or has room for.
int refillAndReadChar(TextFile& file);
void writeBytesSlowly(TextFile& file, const char* bytes, std::size_t count);

inline int readChar(TextFile& file) {
    if (file.next_ != file.end_ && !file.crLf_) return *file.next_++;
    return refillAndReadChar(file);
}

inline void writeBytes(TextFile& file, const char* bytes, std::size_t count) {
    if (count == 1 && *bytes != '\n' && file.free_ < file.freeEnd_) {
        *file.free_++ = static_cast<unsigned char>(*bytes);
        return;
    }
    writeBytesSlowly(file, bytes, count);
}
