// Hosts without one of their services. Exports are fixed when a program is
// linked, so the build makes, for each service NAME, the same host linked
// without exporting it: without-NAME/Corvantis beside this program. The run
// command's --without NAME hands the run over to that program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvantis {

// Throws UsageError when NAME is not one of the host's services or that host
// was not built.
std::filesystem::path hostVariantWithout(const std::string& service);

// Replaces this process by program with args (argv[0] is the program); throws
// std::runtime_error when that fails.
[[noreturn]] void execHostVariant(const std::filesystem::path& program, const std::vector<std::string>& args);

} // namespace corvantis
