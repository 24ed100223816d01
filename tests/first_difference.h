#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

/// Where the written bytes first differ from the expected ones, or "" if they
/// are the same: readable, and quick even for outputs of megabytes, where a
/// plain comparison of the two strings prints them whole.
inline std::string firstDifference(const std::string& expected, const std::string& written) {
    if (written == expected) return "";
    const auto at = static_cast<std::size_t>(
        std::mismatch(expected.begin(), expected.end(), written.begin(), written.end()).first - expected.begin());
    return "at byte " + std::to_string(at) + " of " + std::to_string(expected.size()) + " expected (" +
           std::to_string(written.size()) + " written): expected " + testing::PrintToString(expected.substr(at, 12)) +
           ", written " + testing::PrintToString(written.substr(at, 12));
}
