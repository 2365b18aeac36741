// Where the running host program lies, for what it finds beside itself.
#pragma once

#include <filesystem>

namespace corvantis {

std::filesystem::path executablePath();

// The Quorvex library beside the executable.
std::filesystem::path defaultPluginPath();

} // namespace corvantis
