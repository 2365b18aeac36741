#include "host/commands/HostVariant.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "host/commands/CommandLine.h"
#include "host/core/ExecutablePath.h"
#include "host/core/HostServices.h"
#include "host/formats/HostErrors.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace corvantis {

std::filesystem::path hostVariantWithout(const std::string& service) {
    const std::vector<std::string>& names = providedServiceNames();
    if (std::find(names.begin(), names.end(), service) == names.end()) {
        throw UsageError("--without names a service this host exports, not " + inQuotes(service));
    }
    const std::filesystem::path self = executablePath();
    const std::filesystem::path variant = self.parent_path() / ("without-" + service) / self.filename();
    if (!std::filesystem::exists(variant)) {
        throw UsageError("no host without " + service + " was built (" + inQuotes(variant.string()) + ")");
    }
    return variant;
}

void execHostVariant(const std::filesystem::path& program, const std::vector<std::string>& args) {
#if defined(_WIN32)
    (void)args;
    throw std::runtime_error("--without is not available on this platform (" + program.string() + ")");
#else
    std::vector<char*> argv;
    const std::string path = program.string();
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    execv(path.c_str(), argv.data());
    throw std::runtime_error("cannot run " + inQuotes(path) + ": " + std::strerror(errno));
#endif
}

} // namespace corvantis
