#include "platform/text_file.h"

#include <algorithm>
#include <cstring>

#include "kernels/kernels.h"
#include "platform/interrupts.h"
#include "platform/text_file_os.h"

namespace {

bool isGood(const TextFile& file) { return !file.endOfInput && !file.failed; }

// `fileExists` reads "*" and "?" as wildcards, so a name holding one is a
// pattern, not the name of one file: it is never opened, on any platform.
bool hasWildcard(const char* name) { return std::strpbrk(name, "*?") != nullptr; }

void startBuffer(TextFile& file, bool forOutput) {
    file.forOutput_ = forOutput;
    file.inputEnded_ = false;
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
bool fill(TextFile& file) {
    if (!isGood(file) || file.forOutput_ || file.handle_ < 0) return false;
    if (file.heldEnd_ != nullptr) {  // the flags were cleared: the rest of a cut line
        file.end_ = file.heldEnd_;
        file.heldEnd_ = nullptr;
        if (file.next_ != file.end_) return true;
    }
    while (!file.inputEnded_) {
        if (interrupted()) {  // the reading stops here: no more input is fetched
            file.cutShort = file.inputEnded_ = true;
            break;
        }
        const long got = osRead(file.handle_, file.buffer_, textFileBufferSize);
        if (got < 0 && interrupted()) continue;  // it cut short a read that waited
        if (got <= 0) {
            file.ioError = got < 0;  // a read error ends the input like its end
            file.inputEnded_ = true;
            break;
        }
        file.bytesRead_ += static_cast<std::uint64_t>(got);
        if (file.watcher_ != nullptr) file.watcher_->afterFill(file.bytesRead_);
        bool markFound;
        file.next_ = file.buffer_;
        file.end_ = kernels().dropCarriageReturns(file.buffer_, file.buffer_ + got, markFound);
        if (markFound) file.inputEnded_ = true;
        if (file.next_ != file.end_) return true;
    }
    file.next_ = file.end_ = file.buffer_;
    return false;
}

// Sets `failed` on an input file with bytes still buffered; they wait past
// `heldEnd_` until the flags are cleared, so the inline `readChar` gives
// nothing meanwhile.
void failHoldingInput(TextFile& file) {
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

// Writes out the pending bytes. With `wholePages`, the part of a page at the
// end stays and moves to the front of the buffer, so that every write but
// the last covers whole pages of the file: the system takes those markedly
// faster than pages that two writes each fill in part (5% of a whole run of
// option 2 on a 256 MiB file).
bool flush(TextFile& file, bool wholePages = false) {
    constexpr std::size_t pageSize = 4096;
    const std::size_t pending = file.free_ - file.buffer_;
    const std::size_t count = wholePages ? pending / pageSize * pageSize : pending;
    if (count > 0 && !osWrite(file.handle_, file.buffer_, count)) {
        file.ioError = true;
        dropTheRest(file);
        return false;
    }
    std::memmove(file.buffer_, file.buffer_ + count, pending - count);
    file.free_ = file.buffer_ + (pending - count);
    return true;
}

}  // namespace

TextFile::~TextFile() { closeFile(*this); }

void openInputFile(TextFile& file, const char* name) { open(file, name, false); }

void openOutputFile(TextFile& file, const char* name) { open(file, name, true); }

int refillAndReadChar(TextFile& file) {
    if (fill(file)) return *file.next_++;
    if (isGood(file)) file.endOfInput = true;
    file.failed = true;
    return -1;
}

std::size_t takeBytes(TextFile& file, char*& bytes, std::size_t most) {
    if (file.next_ == file.end_ && !fill(file)) {
        if (isGood(file)) file.endOfInput = true;
        file.failed = true;
        return 0;
    }
    const std::size_t count = std::min<std::size_t>(most, file.end_ - file.next_);
    bytes = reinterpret_cast<char*>(file.next_);
    file.next_ += count;
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

void writeBytesSlowly(TextFile& file, const char* bytes, std::size_t count) {
    if (!file.forOutput_ || file.failed || file.handle_ < 0) return;
    if (interrupted()) {
        // What was written before the interrupt is kept, and nothing after
        // it. The filters write each converted piece in one call, so the
        // output ends with a whole piece.
        file.cutShort = true;
        if (flush(file)) dropTheRest(file);
        return;
    }
    const auto* from = reinterpret_cast<const unsigned char*>(bytes);
    while (count > 0) {
        // Room for the worst case, a CR added before every byte.
        constexpr std::size_t perByte = maxWithCarriageReturns(1);
        static_assert(textFileBufferSize >= perByte, "room for one byte at least");
        if (static_cast<std::size_t>(file.freeEnd_ - file.free_) < perByte && !flush(file, true)) return;
        const std::size_t span = std::min<std::size_t>(count, (file.freeEnd_ - file.free_) / perByte);
        file.free_ = kernels().addCarriageReturns(from, span, file.free_);
        from += span;
        count -= span;
    }
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
