#include "app/copy_progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const std::string indent(24, ' ');

std::string progress(std::uint64_t done, std::int64_t total) {
    char text[progressTextSize];
    formatProgress(text, done, total);
    return text;
}

}  // namespace

TEST(FormatProgress, AmountsAsAPersonReadsThem) {
    constexpr std::int64_t unknown = -1;
    const struct {
        std::uint64_t done;
        std::int64_t total;
        std::string shown;
    } cases[] = {
        {0, unknown, "0 B"},
        {999, unknown, "999 B"},
        {1000, unknown, "1.0 kB"},
        {1049, unknown, "1.0 kB"},
        {1050, unknown, "1.1 kB"},             // halves round up
        {999'949, unknown, "999.9 kB"},        // the last kB shown
        {999'950, unknown, "1.0 MB"},          // would round to 1000.0 kB
        {1'000'000, unknown, "1.0 MB"},
        {999'949'999, unknown, "999.9 MB"},
        {999'950'000, unknown, "1.0 GB"},
        {4'294'967'296, unknown, "4.3 GB"},   // 4 GiB: past 32 bits
        {20'000'000'000, unknown, "20.0 GB"},
        {12'345'678'901'234, unknown, "12345.7 GB"},  // GB is the largest unit
        {0, 0, "100%   0 B of 0 B"},
        {0, 999, "0%   0 B of 999 B"},
        {998, 999, "99%   998 B of 999 B"},   // rounded down: 100% only at the end
        {999, 999, "100%   999 B of 999 B"},
        {1'300'000'000, 3'200'000'000, "40%   1.3 GB of 3.2 GB"},
        {2'147'483'648, 4'294'967'296, "50%   2.1 GB of 4.3 GB"},
        {4'294'967'295, 4'294'967'296, "99%   4.3 GB of 4.3 GB"},
        {5'000'000'000, 4'294'967'296, "5.0 GB"},  // grown past the size it had: the amount alone
        {9'000'000'000'000'000'000u, INT64_MAX, "97%   9000000000.0 GB of 9223372036.9 GB"},
        {static_cast<std::uint64_t>(INT64_MAX), INT64_MAX, "100%   9223372036.9 GB of 9223372036.9 GB"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::to_string(row.done) + " of " + std::to_string(row.total));
        EXPECT_EQ(indent + row.shown, progress(row.done, row.total));
    }
}
