#include "platform/text_file.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "kernels/kernels.h"
#include "platform/interrupts.h"
#include "platform/text_file_os.h"

namespace {

constexpr unsigned char carriageReturn = 13;

bool isGood(const TextFile& file) { return !file.endOfInput && !file.failed; }

// `fileExists` reads "*" and "?" as wildcards, so a name holding one is a
// pattern, not the name of one file: it is never opened, on any platform.
bool hasWildcard(const char* name) { return std::strpbrk(name, "*?") != nullptr; }

void startBuffer(TextFile& file, bool forOutput) {
    file.forOutput_ = forOutput;
    file.inputEnded_ = false;
    file.crLf_ = file.carriedCr_ = false;
    file.heldEnd_ = nullptr;
    file.bytesRead_ = 0;
    file.watcher_ = nullptr;
    file.next_ = file.end_ = file.buffer_;
    file.free_ = file.buffer_;
    file.freeEnd_ = forOutput ? file.buffer_ + textFileBufferSize : file.buffer_;
}

void open(TextFile& file, const char* name, bool forOutput) {
    closeFile(file);
    file.endOfInput = false;
    file.ioError = false;
    file.cutShort = false;
    file.handle_ = hasWildcard(name) ? -1 : forOutput ? osOpenOutput(name) : osOpenInput(name);
    file.failed = file.handle_ < 0;
    startBuffer(file, forOutput);
}

// Makes unread input bytes available; false when there are none to be had.
// With `crLfWanted`, a buffer whose line ends are all CR LF is left as it is
// read (`crLf_`); any other has its CRs dropped.
bool fill(TextFile& file, bool crLfWanted = false) {
    if (!isGood(file) || file.forOutput_ || file.handle_ < 0) return false;
    if (file.heldEnd_ != nullptr) {  // the flags were cleared: the rest of a cut line
        file.end_ = file.heldEnd_;
        file.heldEnd_ = nullptr;
        if (file.next_ != file.end_) return true;
    }
    const Kernels& k = kernels();
    while (!file.inputEnded_) {
        if (interrupted()) {  // the reading stops here: no more input is fetched
            file.cutShort = file.inputEnded_ = true;
            break;
        }
        const std::size_t carried = file.carriedCr_;  // goes in front of the bytes read
        if (file.carriedCr_) file.buffer_[0] = carriageReturn;
        const long got = osRead(file.handle_, file.buffer_ + carried, textFileBufferSize - carried);
        if (got < 0 && interrupted()) continue;  // it cut short a read that waited
        if (got <= 0) {
            file.ioError = got < 0;  // a read error ends the input like its end
            file.inputEnded_ = true;
            break;  // a CR carried is dropped, as a CR without its LF always is
        }
        file.bytesRead_ += static_cast<std::uint64_t>(got);
        if (file.watcher_ != nullptr) file.watcher_->afterFill(file.bytesRead_);
        const std::size_t count = carried + static_cast<std::size_t>(got);
        file.next_ = file.buffer_;
        file.carriedCr_ = false;
        if (crLfWanted) {
            // All CR LF text, but perhaps for a CR at the end whose LF is still to come.
            const std::size_t length = k.crLfTextLength(file.buffer_, count);
            if (length == count || (length + 1 == count && file.buffer_[length] == carriageReturn)) {
                file.crLf_ = true;
                file.carriedCr_ = length < count;
                file.end_ = file.buffer_ + length;
                if (length > 0) return true;
                continue;
            }
        }
        file.crLf_ = false;
        bool markFound;
        file.end_ = k.dropCarriageReturns(file.buffer_, file.buffer_ + count, markFound);
        if (markFound) file.inputEnded_ = true;
        if (file.next_ != file.end_) return true;
    }
    file.crLf_ = file.carriedCr_ = false;
    file.next_ = file.end_ = file.buffer_;
    return false;
}

// Input bytes lent in the CR LF form that a reader of the other form comes
// to lose their CRs first.
void dropCarriageReturnsLeft(TextFile& file) {
    if (!file.crLf_) return;
    bool markFound;  // no mark is among them
    file.end_ = kernels().dropCarriageReturns(file.next_, file.end_, markFound);
    file.crLf_ = false;
}

// Sets `failed` on an input file with bytes still buffered; they wait past
// `heldEnd_` until the flags are cleared, so the inline `readChar` gives
// nothing meanwhile.
void failHoldingInput(TextFile& file) {
    dropCarriageReturnsLeft(file);  // the bytes held come back to any reader
    file.failed = true;
    if (file.heldEnd_ == nullptr && file.next_ != file.end_) {
        file.heldEnd_ = file.end_;
        file.end_ = file.next_;
    }
}

// Makes the output not good, so that whatever is written to it from now on
// is dropped, also by the inline path.
void dropTheRest(TextFile& file) {
    file.failed = true;
    file.free_ = file.freeEnd_ = file.buffer_;
}

// The end of an output file's room: the block and a piece's room past it.
unsigned char* roomEnd(TextFile& file) { return file.buffer_ + sizeof file.buffer_; }

// Writes out the pending bytes. With `wholeBlocks`, what runs past the last
// whole block stays and moves to the front of the buffer, so that every
// write but the last is of whole blocks (see `textFileBufferSize`).
bool flush(TextFile& file, bool wholeBlocks = false) {
    const std::size_t pending = file.free_ - file.buffer_;
    const std::size_t count = wholeBlocks ? pending / textFileBufferSize * textFileBufferSize : pending;
    if (count > 0 && !osWrite(file.handle_, file.buffer_, count)) {
        file.ioError = true;
        dropTheRest(file);
        return false;
    }
    std::memmove(file.buffer_, file.buffer_ + count, pending - count);
    file.free_ = file.buffer_ + (pending - count);
    return true;
}

// Writes out the block pending once it is whole, so that the room past it is
// free again; false if the write failed.
bool writeWholeBlock(TextFile& file) {
    return static_cast<std::size_t>(file.free_ - file.buffer_) < textFileBufferSize || flush(file, true);
}

}  // namespace

TextFile::~TextFile() { closeFile(*this); }

void openInputFile(TextFile& file, const char* name) { open(file, name, false); }

void openOutputFile(TextFile& file, const char* name) { open(file, name, true); }

int refillAndReadChar(TextFile& file) {
    dropCarriageReturnsLeft(file);
    if (file.next_ != file.end_ || fill(file)) return *file.next_++;
    if (isGood(file)) file.endOfInput = true;
    file.failed = true;
    return -1;
}

namespace {

std::size_t lend(TextFile& file, char*& bytes, std::size_t most, bool crLfWanted) {
    if (file.next_ == file.end_ && !fill(file, crLfWanted)) {
        if (isGood(file)) file.endOfInput = true;
        file.failed = true;
        return 0;
    }
    const std::size_t count = std::min<std::size_t>(most, file.end_ - file.next_);
    bytes = reinterpret_cast<char*>(file.next_);
    file.next_ += count;
    return count;
}

}  // namespace

std::size_t takeBytes(TextFile& file, char*& bytes, std::size_t most) {
    dropCarriageReturnsLeft(file);
    return lend(file, bytes, most, false);
}

std::size_t takeBytes(TextFile& file, char*& bytes, std::size_t most, LineEnds& lineEnds) {
    std::size_t count = lend(file, bytes, most, true);
    if (file.crLf_ && count > 0 && bytes[count - 1] == '\r') {
        // Its LF, which the buffer holds, stays with it for the next piece;
        // a piece of one byte comes in the other form.
        --file.next_;
        if (--count == 0) {
            dropCarriageReturnsLeft(file);
            count = lend(file, bytes, most, true);
        }
    }
    lineEnds = file.crLf_ ? LineEnds::crLf : LineEnds::lf;
    return count;
}

std::size_t readLine(TextFile& file, char* buffer, std::size_t size, char delimiter) {
    std::size_t stored = 0;
    if (size == 0) {  // not even room for the terminator
        failHoldingInput(file);
        return 0;
    }
    if (!isGood(file) || file.forOutput_ || file.handle_ < 0) {
        buffer[0] = '\0';
        file.failed = true;
        return 0;
    }
    dropCarriageReturnsLeft(file);
    bool tookAny = false;
    for (;;) {
        const bool haveByte = file.next_ != file.end_ || fill(file);
        if (stored == size - 1) {
            if (haveByte && *file.next_ == static_cast<unsigned char>(delimiter)) {
                ++file.next_;
            } else {
                failHoldingInput(file);  // the line goes on (or the input ends) past the buffer
            }
            break;
        }
        if (!haveByte) {
            file.endOfInput = true;
            if (!tookAny) file.failed = true;
            break;
        }
        const std::size_t span = std::min<std::size_t>(size - 1 - stored, file.end_ - file.next_);
        const auto* found = static_cast<unsigned char*>(std::memchr(file.next_, delimiter, span));
        const std::size_t taken = found != nullptr ? found - file.next_ : span;
        std::memcpy(buffer + stored, file.next_, taken);
        stored += taken;
        file.next_ += taken;
        tookAny = true;
        if (found != nullptr) {
            ++file.next_;
            break;
        }
    }
    buffer[stored] = '\0';
    return stored;
}

namespace {

// After an interrupt, what was written before it is kept and nothing after
// it. The filters write each converted piece in one call, so the output
// ends with a whole piece.
bool stoppedByInterrupt(TextFile& file) {
    if (!interrupted()) return false;
    file.cutShort = true;
    if (flush(file)) dropTheRest(file);
    return true;
}

}  // namespace

void writeBytesSlowly(TextFile& file, const char* bytes, std::size_t count) {
    if (!file.forOutput_ || file.failed || file.handle_ < 0 || stoppedByInterrupt(file)) return;
    const auto* from = reinterpret_cast<const unsigned char*>(bytes);
    while (count > 0) {
        // Room for the worst case, a CR added before every byte.
        constexpr std::size_t perByte = maxWithCarriageReturns(1);
        static_assert(mostRoomToWrite >= perByte, "room for one byte at least");
        if (!writeWholeBlock(file)) return;
        const std::size_t span = std::min<std::size_t>(count, (roomEnd(file) - file.free_) / perByte);
        file.free_ = kernels().addCarriageReturns(from, span, file.free_);
        from += span;
        count -= span;
    }
}

char* roomToWrite(TextFile& file, [[maybe_unused]] std::size_t count) {
    // What is written where nothing is kept: the room of a file that is not
    // for output, and of one whose writing failed, is not the place for it.
    static unsigned char nowhere[mostRoomToWrite];
    static_assert(sizeof file.buffer_ - (textFileBufferSize - 1) >= mostRoomToWrite,
                  "the room, with less than a block pending");
    assert(count <= mostRoomToWrite);
    if (!file.forOutput_ || file.failed || file.handle_ < 0 || !writeWholeBlock(file))
        return reinterpret_cast<char*>(nowhere);
    return reinterpret_cast<char*>(file.free_);
}

void wroteToRoom(TextFile& file, std::size_t count) {
    if (!file.forOutput_ || file.failed || file.handle_ < 0 || stoppedByInterrupt(file)) return;
    file.free_ += std::min<std::size_t>(count, roomEnd(file) - file.free_);
}

void closeFile(TextFile& file) {
    if (file.handle_ < 0) return;
    bool ok = true;
    if (file.forOutput_ && !file.failed) ok = flush(file);
    ok = osClose(file.handle_) && ok;
    if (!ok && file.forOutput_) file.failed = file.ioError = true;
    file.handle_ = -1;
    file.heldEnd_ = nullptr;
    file.next_ = file.end_ = file.free_ = file.freeEnd_ = file.buffer_;
}

std::int64_t inputSize(const TextFile& file) {
    return file.handle_ >= 0 && !file.forOutput_ ? osFileSize(file.handle_) : -1;
}

void watchReading(TextFile& file, ReadWatcher* watcher) { file.watcher_ = watcher; }

bool fileExists(const char* name) { return osFileExists(name); }

bool isSameFile(const TextFile& file, const char* name) {
    return file.handle_ >= 0 && osIsSameFile(file.handle_, name);
}

std::size_t folderPartLength(const char* name, FolderRules rules) {
    const bool windows = rules == FolderRules::windows;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    // "C:name" is a name in drive C's current folder: the drive is its folder part.
    std::size_t length = windows && isLetter(name[0]) && name[1] == ':' ? 2 : 0;
    for (std::size_t i = length; name[i] != '\0'; ++i)
        if (name[i] == '/' || (windows && name[i] == '\\')) length = i + 1;
    return length;
}
