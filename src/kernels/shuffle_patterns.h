#pragma once

// The byte shuffle patterns with which the AVX2 and NEON kernels pack and
// spread bytes eight at a time (neither set has an instruction that packs
// or spreads the bytes of a vector by a mask), built at compile time and
// looked up by the eight bits of the mask.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"

namespace shuffles {

/// A shuffle index that gives a zero byte in both sets (its top bit set).
inline constexpr unsigned char zeroed = 0x80;

/// In a spreading pattern, the index of the added byte: a group to be
/// spread holds its eight bytes and then eight copies of the added one.
inline constexpr unsigned char addedByte = 8;

/// Patterns that pack eight bytes: entry `m` holds the indexes of the bytes
/// whose bits are set in `m`, in order, then `zeroed`.
inline constexpr std::array<std::uint64_t, 256> packing = [] {
    std::array<std::uint64_t, 256> patterns{};
    for (unsigned m = 0; m < 256; ++m) {
        std::uint64_t pattern = 0;
        unsigned packed = 0;
        for (unsigned i = 0; i < 8; ++i)
            if (m >> i & 1) pattern |= std::uint64_t{i} << 8 * packed++;
        for (; packed < 8; ++packed) pattern |= std::uint64_t{zeroed} << 8 * packed;
        patterns[m] = pattern;
    }
    return patterns;
}();

/// Patterns that spread eight bytes so that each byte whose bit is set in
/// `m` gets `places - 1` added bytes in front of it (a CR before an LF, the
/// further TABs of a separator, the CR LFs of blank lines): the index of each
/// byte at its place, and at the places of added bytes `addedByte`, or with
/// two `kinds` of added byte, `addedByte` and the byte after it in turn (CR,
/// LF, CR, ...). Entry `m` holds whole 16-byte shuffles; what lies past the
/// spread bytes is garbage for the next store to overwrite.
template <std::size_t places, std::size_t kinds = 1>
struct Spreading {
    static constexpr std::size_t shuffleCount = (8 * places + 15) / 16;

    /// The shuffles a group needs where at most `mostMarked` of its bytes
    /// are marked: the first of its pattern's.
    static constexpr std::size_t shufflesFor(std::size_t mostMarked) {
        return std::min(shuffleCount, (8 + mostMarked * (places - 1) + 15) / 16);
    }
    std::array<std::array<unsigned char, 16 * shuffleCount>, 256> patterns{};

    constexpr Spreading() {
        for (unsigned m = 0; m < 256; ++m) {
            auto& pattern = patterns[m];
            std::size_t at = 0;
            for (unsigned i = 0; i < 8; ++i) {
                if (m >> i & 1)
                    for (std::size_t added = 0; added + 1 < places; ++added)
                        pattern[at++] = static_cast<unsigned char>(addedByte + added % kinds);
                pattern[at++] = static_cast<unsigned char>(i);
            }
            for (; at < pattern.size(); ++at) pattern[at] = addedByte;
        }
    }
};
template <std::size_t places, std::size_t kinds = 1>
inline constexpr Spreading<places, kinds> spreading;

// Option 6 spreads an LF to five CR LFs, ten places; a group whose bytes
// were all packed out still stores its whole shuffles.
static_assert(16 * Spreading<10, 2>::shuffleCount <= maxStoreOverrun, "the most a spread stores past its bytes");

}  // namespace shuffles
