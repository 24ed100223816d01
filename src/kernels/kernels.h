#pragma once

#include <cstddef>
#include <span>

// The loops that reading, writing and converting text spend their time in,
// one set per instruction set. The portable set runs on any processor and is
// the reference the others are tested against; a vector set gives the same
// bytes, many at a time. One set is chosen at start-up: the widest this
// build has that the processor (and the system, which must save the vector
// registers) can run.

/// The most bytes a kernel may store past the end of what it writes, where
/// it writes into a buffer sized for it (a vector's last store, or the
/// shuffles that spread eight bytes into ten places each). The CR kernels of
/// the text-file layer never store past their room.
inline constexpr std::size_t maxStoreOverrun = 80;

/// The most bytes `count` bytes become with a CR put before every LF: every
/// one of them an LF.
constexpr std::size_t maxWithCarriageReturns(std::size_t count) { return 2 * count; }

/// The most bytes option 6 makes of `count` bytes: one-byte lines whose LFs
/// become five CR LFs each (11 bytes of 2), the first LF perhaps ending a
/// line begun before them (10 bytes of 1).
constexpr std::size_t maxSpacedLines(std::size_t count) { return (11 * count + 9) / 2; }

/// Byte 26 ends a text file's input: it and whatever follows it are never read.
inline constexpr unsigned char endOfInputMark = 26;

struct Kernels {
    const char* name;  ///< "avx512", "avx2", "neon" or "portable"

    /// True if this processor and system can run the set.
    bool (*runsHere)();

    /// Removes every CR from the bytes in place; returns their new end. If
    /// the bytes hold an `endOfInputMark`, the first one and every byte after
    /// it are dropped too. `markFound` tells whether they held one. (The
    /// vector sets do both in one pass over a file's buffer.)
    unsigned char* (*dropCarriageReturns)(unsigned char* begin, unsigned char* end, bool& markFound);

    /// How many of the bytes, from the first, are text whose every line
    /// ends CR LF already: whole CR LF pairs and bytes other than CR, LF and
    /// the `endOfInputMark`. The count stops before a CR that no LF follows
    /// (the last byte among them, if its LF has not come yet), an LF that
    /// no CR comes before, and the mark.
    std::size_t (*crLfTextLength)(const unsigned char* bytes, std::size_t count);

    /// Copies the bytes to `to` with a CR before every LF; returns the end of
    /// the copy. There must be room for `maxWithCarriageReturns(count)`
    /// bytes; nothing is stored past it.
    unsigned char* (*addCarriageReturns)(const unsigned char* from, std::size_t count, unsigned char* to);

    /// Options 1 and 5: each run of SP and TAB that follows a field becomes
    /// one `separator`; the rest is copied. A field is any byte but SP, TAB,
    /// LF and CR (so a CR LF line end is copied as it is, like an LF).
    /// `afterField` says whether the byte before `in` ended a field, and is
    /// updated for the next call.
    /// Returns the bytes written to `out` (at most `length`, and
    /// `maxStoreOverrun` more stored).
    std::size_t (*squeezeBlankRuns)(const unsigned char* in, std::size_t length, char* out, char separator,
                                    bool& afterField);

    /// Option 5, written as the file is: each run of SP and TAB that follows
    /// a field becomes a CR LF, and so does each LF; the CRs of CR LF line
    /// ends are dropped with them; the rest is copied. The bytes hold no CR
    /// but right before an LF (and perhaps at their end, the LF to follow).
    /// `afterField` as for `squeezeBlankRuns`. Returns the bytes written (at
    /// most `maxWithCarriageReturns(length)`, and `maxStoreOverrun` more
    /// stored).
    std::size_t (*blankRunsToLineEnds)(const unsigned char* in, std::size_t length, char* out, bool& afterField);

    /// Each `from` becomes `to`, in place.
    void (*replaceInPlace)(char* bytes, std::size_t length, char from, char to);

    /// Copies with each `from` replaced by the `toLength` (1 to 4) bytes of
    /// `to`; returns the bytes written (at most `toLength` times the length,
    /// and `maxStoreOverrun` more stored).
    std::size_t (*replaceEach)(const char* in, std::size_t length, char* out, char from, const char* to,
                               std::size_t toLength);

    /// Option 6, written as the file is: drops the LFs that end empty lines
    /// and writes each other LF as `lineEndCount` (1 to 5) CR LFs; the bytes
    /// hold no CR. `inLine` says whether a line has begun and not yet ended
    /// before `in`, and is updated for the next call.
    /// Returns the bytes written (at most `maxSpacedLines(length)`, and
    /// `maxStoreOverrun` more stored).
    std::size_t (*spaceLines)(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                              bool& inLine);

    /// Option 6 on text whose line ends are CR LF already: as `spaceLines`,
    /// but every LF comes right after a CR and every CR right before an LF,
    /// and the CR LF is the line end: dropped where it ends an empty line,
    /// written `lineEndCount` times where it ends another.
    std::size_t (*spaceCrLfLines)(const char* in, std::size_t length, char* out, std::size_t lineEndCount,
                                  bool& inLine);
};

/// The set in use: chosen once at start-up, or by `useKernels`.
const Kernels& kernels();

/// Every set this build has, widest first; the portable one is last.
std::span<const Kernels* const> kernelSets();

/// For tests and the benchmark: from now on `kernels()` returns `set`,
/// which must be one that `runsHere`.
void useKernels(const Kernels& set);
