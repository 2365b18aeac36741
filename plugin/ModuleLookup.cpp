#include "plugin/ModuleLookup.h"

#include <cctype>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

namespace cvts {

namespace {

std::string lowerCase(const char* text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

} // namespace

bool moduleFileNameMatches(const char* fileName, const char* requested) {
    const std::string file = lowerCase(fileName);
    const std::string wanted = lowerCase(requested);
    if (file == wanted) {
        return true;
    }
    const std::string exe = ".exe";
    return wanted.size() > exe.size() && wanted.compare(wanted.size() - exe.size(), exe.size(), exe) == 0 &&
           file == wanted.substr(0, wanted.size() - exe.size());
}

#if defined(_WIN32)

ModuleHandle findLoadedModule(const char* fileName) {
    return reinterpret_cast<ModuleHandle>(GetModuleHandleA(fileName));
}

HostEntry findExport(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<HostEntry>(GetProcAddress(static_cast<HMODULE>(module), name));
}

// GetModuleHandleA takes no reference.
void releaseModule(ModuleHandle) {}

#else

namespace {

std::string mainProgramPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return std::string();
    }
    path[length] = '\0';
    return std::string(path);
}

const char* fileNameOfPath(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

struct ModuleSearch {
    const char* requested;
    bool found = false;
    bool isMainProgram = false;
    std::string path;
};

int visitModule(dl_phdr_info* info, size_t, void* data) {
    ModuleSearch& search = *static_cast<ModuleSearch*>(data);
    // The dynamic loader lists the main program under an empty name.
    const bool isMainProgram = info->dlpi_name == nullptr || info->dlpi_name[0] == '\0';
    const std::string path = isMainProgram ? mainProgramPath() : std::string(info->dlpi_name);
    if (path.empty() || !moduleFileNameMatches(fileNameOfPath(path.c_str()), search.requested)) {
        return 0;
    }
    search.found = true;
    search.isMainProgram = isMainProgram;
    search.path = path;
    return 1;
}

} // namespace

ModuleHandle findLoadedModule(const char* fileName) {
    ModuleSearch search;
    search.requested = fileName;
    dl_iterate_phdr(&visitModule, &search);
    if (!search.found) {
        return nullptr;
    }
    // Both forms only hand out a handle to what is loaded already: RTLD_NOLOAD
    // refuses to load, and a null path names the main program.
    return search.isMainProgram ? dlopen(nullptr, RTLD_LAZY) : dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

HostEntry findExport(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    void* address = dlsym(module, name);
    if (address == nullptr) {
        return nullptr;
    }
    // dlsym also searches the module's dependencies (the whole process for the
    // main program); like an export table, accept only the module's own names.
    link_map* moduleMap = nullptr;
    link_map* definingMap = nullptr;
    Dl_info info;
    if (dlinfo(module, RTLD_DI_LINKMAP, &moduleMap) != 0 ||
        dladdr1(address, &info, reinterpret_cast<void**>(&definingMap), RTLD_DL_LINKMAP) == 0 ||
        definingMap != moduleMap) {
        return nullptr;
    }
    return reinterpret_cast<HostEntry>(address);
}

void releaseModule(ModuleHandle module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

#endif

} // namespace cvts
