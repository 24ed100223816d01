#include "app/copy_progress.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/console.h"

namespace {

constexpr auto quietStart = std::chrono::seconds(1);            // a short copy shows nothing
constexpr auto betweenDraws = std::chrono::milliseconds(250);  // four a second at most

// "999 B", "1.0 kB", "999.9 kB", "1.0 MB" and so on; the unit is chosen after
// rounding, so 999 950 bytes are "1.0 MB", never "1000.0 kB". GB is the last
// unit.
void formatAmount(char (&text)[24], std::uint64_t bytes) {
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
        return;
    }
    static const char* const units[] = {"kB", "MB", "GB"};
    std::size_t unit = 0;
    std::uint64_t tenth = 100;  // a tenth of the unit, in bytes
    std::uint64_t tenths = (bytes + tenth / 2) / tenth;
    for (; tenths >= 10000 && unit + 1 < std::size(units); ++unit) {
        tenth *= 1000;
        tenths = (bytes + tenth / 2) / tenth;
    }
    std::snprintf(text, sizeof text, "%" PRIu64 ".%u %s", tenths / 10, static_cast<unsigned>(tenths % 10),
                  units[unit]);
}

// The whole percent of `total` that `done` is, rounded down: 100 only once all is read.
unsigned percentOf(std::uint64_t done, std::uint64_t total) {
    if (done >= total) return 100;
    if (done <= UINT64_MAX / 100) return static_cast<unsigned>(done * 100 / total);
    return static_cast<unsigned>(done / (total / 100 + 1));  // sizes of exabytes: near enough
}

}  // namespace

void formatProgress(char (&text)[progressTextSize], std::uint64_t done, std::int64_t total) {
    constexpr const char* indent = "                        ";  // 24 spaces, as the Copying line
    char amount[24];
    formatAmount(amount, done);
    if (total < 0 || done > static_cast<std::uint64_t>(total)) {
        std::snprintf(text, sizeof text, "%s%s", indent, amount);
        return;
    }
    char whole[24];
    formatAmount(whole, static_cast<std::uint64_t>(total));
    std::snprintf(text, sizeof text, "%s%u%%   %s of %s", indent, percentOf(done, static_cast<std::uint64_t>(total)),
                  amount, whole);
}

CopyProgress::CopyProgress(TextFile& input) {
    width_ = terminalWidth();
    if (width_ == 0) return;  // not a terminal: the console output stays as it always was
    input_ = &input;
    size_ = inputSize(input);
    nextDraw_ = Clock::now() + quietStart;
    watchReading(input, this);
}

void CopyProgress::end() {
    if (input_ == nullptr) return;
    watchReading(*input_, nullptr);
    input_ = nullptr;
    eraseProgressLine();
}

void CopyProgress::afterFill(std::uint64_t bytesRead) {
    const Clock::time_point now = Clock::now();  // the one reading of the clock per fill
    if (now <= nextDraw_) return;
    char text[progressTextSize];
    formatProgress(text, bytesRead, size_);
    // A line as wide as the terminal would wrap, and "\r" could not take it back.
    if (std::strcmp(text, shown_) == 0 || std::strlen(text) >= width_) return;
    drawProgressLine(text);
    std::memcpy(shown_, text, sizeof text);
    nextDraw_ = now + betweenDraws;
}
