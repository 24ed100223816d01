#pragma once

#include <windows.h>

#include <cstddef>

// ReadFile and WriteFile take a 32-bit count: the Windows console and text
// files move larger requests in chunks of at most a GiB.

inline constexpr DWORD chunkLimit = 1u << 30;

/// How many of `count` bytes one ReadFile or WriteFile call takes.
inline DWORD chunkOf(std::size_t count) { return count < chunkLimit ? static_cast<DWORD>(count) : chunkLimit; }
