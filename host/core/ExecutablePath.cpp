#include "host/core/ExecutablePath.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#ifndef CORVANTIS_DEFAULT_PLUGIN
#error "the build names the plug-in's file (CORVANTIS_DEFAULT_PLUGIN)"
#endif

namespace corvantis {

std::filesystem::path executablePath() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(std::string(path, length));
#else
    return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

std::filesystem::path defaultPluginPath() { return executablePath().parent_path() / CORVANTIS_DEFAULT_PLUGIN; }

} // namespace corvantis
