#include "platform/text_file.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/text_file_os.h"
#include "platform/wide_vectors.h"

namespace {

constexpr unsigned char carriageReturn = 13;  // dropped on reading
constexpr unsigned char ctrlZ = 26;           // ends the input

bool isGood(const TextFile& file) { return !file.endOfInput && !file.failed; }

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
    file.handle_ = forOutput ? osOpenOutput(name) : osOpenInput(name);
    file.failed = file.handle_ < 0;
    startBuffer(file, forOutput);
}

// Both CR handlers below go eight bytes at a time: CRs and LFs come about
// once a line, so most words of text hold neither and are moved whole.
constexpr std::size_t wordSize = sizeof(std::uint64_t);
constexpr std::uint64_t everyByte = 0x0101010101010101;  // 1 in each byte

// The top bit of each byte of the word that is `byte` is set, and perhaps
// those of bytes after it; the first one set is always right. (A byte equal
// to `byte` becomes zero after the xor, and only a zero takes a borrow.)
std::uint64_t matches(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (everyByte * byte);
    return (x - everyByte) & ~x & (everyByte << 7);
}

// The number of bytes before the first match, in memory order.
std::size_t bytesBefore(std::uint64_t matchBits) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::size_t>(std::countr_zero(matchBits)) / 8;
    else
        return static_cast<std::size_t>(std::countl_zero(matchBits)) / 8;
}

std::uint64_t loadWord(const unsigned char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, wordSize);
    return word;
}

#ifdef ZORVEN_WIDE_VECTORS
// Removes every CR in place, 64 bytes at a time: the bytes other than CR are
// packed to the front of the vector and stored. The write position never
// passes the read position, so a whole vector stored overwrites only bytes
// already loaded; at the end only the bytes kept are stored.
WIDE_VECTOR_CODE unsigned char* dropCarriageReturnsWide(unsigned char* from, unsigned char* end) {
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    unsigned char* to = from;
    for (; end - from >= 64; from += 64) {
        const __m512i bytes = _mm512_loadu_si512(from);
        const __mmask64 kept = _mm512_cmpneq_epi8_mask(bytes, cr);
        _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(kept, bytes));
        to += std::popcount(kept);
    }
    const __mmask64 present = lowBits(end - from);
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, from);
    const __mmask64 kept = _mm512_mask_cmpneq_epi8_mask(present, bytes, cr);
    const auto keptCount = static_cast<std::size_t>(std::popcount(kept));
    _mm512_mask_storeu_epi8(to, lowBits(keptCount), _mm512_maskz_compress_epi8(kept, bytes));
    return to + keptCount;
}

// Copies with a CR before every LF, 32 bytes in (at most 64 out) at a time.
// There must be room for twice the count, as for the portable path: whole
// steps store a whole vector, and what lies past the copy is overwritten by
// the next step; the last step stores only the bytes of the copy.
WIDE_VECTOR_CODE unsigned char* addCarriageReturnsWide(const unsigned char* from, std::size_t count,
                                                       unsigned char* to) {
    constexpr Spreading crBeforeLf(2);
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8(carriageReturn);
    const unsigned char* const end = from + count;
    for (; end - from >= 32; from += 32) {
        const __m512i bytes = _mm512_maskz_loadu_epi8(lowBits(32), from);
        const std::uint64_t lineEnds = _mm512_cmpeq_epi8_mask(bytes, lf);
        _mm512_storeu_si512(to, _mm512_mask_expand_epi8(cr, crBeforeLf.placesOfBytes(lineEnds), bytes));
        to += crBeforeLf.spreadCount(32, std::popcount(lineEnds));
    }
    const std::size_t inCount = end - from;
    const __m512i bytes = _mm512_maskz_loadu_epi8(lowBits(inCount), from);  // the rest zero, so no LF
    const std::uint64_t lineEnds = _mm512_cmpeq_epi8_mask(bytes, lf);
    const std::size_t outCount = crBeforeLf.spreadCount(inCount, std::popcount(lineEnds));
    _mm512_mask_storeu_epi8(to, lowBits(outCount),
                            _mm512_mask_expand_epi8(cr, crBeforeLf.placesOfBytes(lineEnds), bytes));
    return to + outCount;
}
#endif

// Removes every CR from the bytes in place; returns their new end.
unsigned char* dropCarriageReturns(unsigned char* begin, unsigned char* end) {
#ifdef ZORVEN_WIDE_VECTORS
    if (wideVectorsUsable()) return dropCarriageReturnsWide(begin, end);
#endif
    auto* cr = static_cast<unsigned char*>(std::memchr(begin, carriageReturn, end - begin));
    if (cr == nullptr) return end;
    // The write position stays behind the read position. A word without a CR
    // moves whole; one with a CR goes byte by byte, since after a jump to its
    // CR a whole-word store would reach bytes not yet read.
    unsigned char* to = cr;
    unsigned char* from = cr + 1;
    for (; end - from >= static_cast<std::ptrdiff_t>(wordSize); from += wordSize) {
        const std::uint64_t word = loadWord(from);
        if (matches(word, carriageReturn) == 0) {
            std::memcpy(to, &word, wordSize);
            to += wordSize;
            continue;
        }
        for (std::size_t i = 0; i < wordSize; ++i) {
            *to = from[i];
            to += from[i] != carriageReturn;
        }
    }
    for (; from < end; ++from) {
        *to = *from;
        to += *from != carriageReturn;
    }
    return to;
}

// Copies the bytes to `to` with a CR before every LF; returns the end of the
// copy. There must be room for twice the count.
unsigned char* addCarriageReturns(const unsigned char* from, std::size_t count, unsigned char* to) {
#ifdef ZORVEN_WIDE_VECTORS
    if (wideVectorsUsable()) return addCarriageReturnsWide(from, count, to);
#endif
    const unsigned char* const end = from + count;
    while (end - from >= static_cast<std::ptrdiff_t>(wordSize)) {
        const std::uint64_t word = loadWord(from);
        std::memcpy(to, &word, wordSize);
        const std::uint64_t found = matches(word, '\n');
        if (found == 0) {
            to += wordSize;
            from += wordSize;
            continue;
        }
        const std::size_t before = bytesBefore(found);
        to += before;
        *to++ = carriageReturn;
        *to++ = '\n';
        from += before + 1;
    }
    for (; from < end; ++from) {
        // A CR is stored at every step and then overwritten, unless an LF follows it.
        const bool lineEnd = *from == '\n';
        to[0] = carriageReturn;
        to[lineEnd] = *from;
        to += 1 + lineEnd;
    }
    return to;
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
        const long got = osRead(file.handle_, file.buffer_, textFileBufferSize);
        if (got <= 0) {
            file.ioError = got < 0;  // a read error ends the input like its end
            file.inputEnded_ = true;
            break;
        }
        file.bytesRead_ += static_cast<std::uint64_t>(got);
        if (file.watcher_ != nullptr) file.watcher_->afterFill(file.bytesRead_);
        unsigned char* end = file.buffer_ + got;
        if (auto* z = static_cast<unsigned char*>(std::memchr(file.buffer_, ctrlZ, got))) {
            end = z;
            file.inputEnded_ = true;
        }
        file.next_ = file.buffer_;
        file.end_ = dropCarriageReturns(file.buffer_, end);
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
        file.failed = file.ioError = true;
        file.free_ = file.freeEnd_ = file.buffer_;  // drops the rest, also in the inline path
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
    const auto* from = reinterpret_cast<const unsigned char*>(bytes);
    while (count > 0) {
        if (file.freeEnd_ - file.free_ < 2 && !flush(file, true)) return;
        // Room for the worst case, a CR added before every byte.
        const std::size_t span = std::min<std::size_t>(count, (file.freeEnd_ - file.free_) / 2);
        file.free_ = addCarriageReturns(from, span, file.free_);
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
