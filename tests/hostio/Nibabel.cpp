#include "Nibabel.h"

namespace hostio {

namespace {

const char kPython[] = "/usr/bin/python3";

} // namespace

std::string nibabelMissing() {
    static const std::string missing = [] {
        if (!hosttest::fileExists(kPython)) return std::string("no ") + kPython;
        const hosttest::Outcome probe = hosttest::runProgram(kPython, {"-c", "import nibabel, numpy"});
        return probe.status == 0 ? std::string() : "nibabel is not installed (python3-nibabel): " + probe.err;
    }();
    return missing;
}

hosttest::Outcome runPython(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    return hosttest::runProgram(kPython, all);
}

} // namespace hostio
