// Runs small Python scripts with nibabel (Debian's python3-nibabel), which the
// NIfTI tests use to write inputs and to read outputs independently of niftilib.
#pragma once

#include <string>
#include <vector>

#include "HostTestSupport.h"

namespace hostio {

// Why nibabel cannot be used here, or empty when it can.
std::string nibabelMissing();

// /usr/bin/python3 -c script args...
hosttest::Outcome runPython(const std::string& script, const std::vector<std::string>& args);

} // namespace hostio

// Skips the test, with a message, when nibabel is missing.
#define SKIP_WITHOUT_NIBABEL() \
    do { \
        const std::string missing = hostio::nibabelMissing(); \
        if (!missing.empty()) GTEST_SKIP() << missing; \
    } while (false)
