#pragma once

#include <gtest/gtest.h>

#include "platform/wide_vectors.h"

/// Runs `check` twice: on the wide vector paths, where this processor has
/// them, and on the portable paths, which every other machine takes.
template <typename Check>
void onBothPaths(const Check& check) {
    for (const bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "wide vector paths" : "portable paths");
        allowWideVectors(wide);
        check();
    }
    allowWideVectors(true);
}
