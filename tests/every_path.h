#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kernels/kernels.h"

/// Runs `check` once on each set of kernels this build has and this
/// processor runs, each named in the trace; prints which sets ran and which
/// were skipped, so a test log shows what it covered.
template <typename Check>
void onEveryPath(const Check& check) {
    const Kernels& before = kernels();
    std::string ran, skipped;
    for (const Kernels* set : kernelSets()) {
        if (!set->runsHere()) {
            skipped += std::string(" ") + set->name;
            continue;
        }
        ran += std::string(" ") + set->name;
        SCOPED_TRACE(std::string(set->name) + " kernels");
        useKernels(*set);
        check();
    }
    useKernels(before);
    static std::string lastReport;  // a test that checks many inputs says it once
    const std::string report = "kernels run:" + ran + "; skipped, as this processor lacks them:" +
                               (skipped.empty() ? " none" : skipped);
    if (report != lastReport) std::printf("%s\n", report.c_str());
    lastReport = report;
}
