#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/text_file.h"

/// Room for a progress line and its terminator.
inline constexpr std::size_t progressTextSize = 80;

/// The progress line for `done` bytes read of `total` (-1 where the size is
/// not known): 24 spaces, then the share read and both amounts
/// ("41%   1.3 GB of 3.2 GB"), or the amount alone where the size is not
/// known or the file has grown past it. Amounts are in B, kB, MB or GB (of
/// 1000 each), with one decimal from kB on.
void formatProgress(char (&text)[progressTextSize], std::uint64_t done, std::int64_t total);

/// Shows the progress of a copy on the line below the cursor while the input
/// is read, where standard output is a terminal: nothing in its first second,
/// then at most four updates a second, each only when the text changes.
/// Elsewhere it does nothing at all.
class CopyProgress final : public ReadWatcher {
public:
    /// Starts watching the reading of `input`.
    explicit CopyProgress(TextFile& input);
    ~CopyProgress() { end(); }
    CopyProgress(const CopyProgress&) = delete;
    CopyProgress& operator=(const CopyProgress&) = delete;

    /// Stops watching and erases the line, leaving the cursor where it was
    /// before the copy, so the screen is as if nothing had been shown.
    void end();

private:
    using Clock = std::chrono::steady_clock;

    void afterFill(std::uint64_t bytesRead) override;

    TextFile* input_ = nullptr;  // none: not watching
    std::int64_t size_ = -1;
    std::size_t width_ = 0;
    Clock::time_point nextDraw_;  // nothing is drawn before it
    char shown_[progressTextSize] = {};
};
