#include "host/core/PluginLibrary.h"

#include <stdexcept>

#include "host/formats/HostErrors.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace corvantis {

namespace {

using CreatePluginFunction = CVTSPluginInterface* (*)();

#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string& reason) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        reason = "error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void*>(module);
}
void* symbolOf(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openLibrary(const std::string& path, std::string& reason) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        reason = error != nullptr ? error : "unknown reason";
    }
    return handle;
}
void* symbolOf(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
#endif

} // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    std::string reason;
    handle_ = openLibrary(path, reason);
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load the plug-in " + inQuotes(path) + ": " + reason);
    }
    try {
        lookUp("createPlugin");
        for (const char* name : kPluginTextExports) {
            lookUp(name);
        }
    } catch (...) {
        closeLibrary(handle_);
        throw;
    }
}

PluginLibrary::~PluginLibrary() { closeLibrary(handle_); }

void* PluginLibrary::lookUp(const char* exportName) const {
    void* symbol = symbolOf(handle_, exportName);
    if (symbol == nullptr) {
        throw std::runtime_error("the plug-in " + inQuotes(path_) + " does not export " + exportName);
    }
    return symbol;
}

PluginTextFunction PluginLibrary::textFunction(const char* exportName) const {
    return reinterpret_cast<PluginTextFunction>(lookUp(exportName));
}

std::string PluginLibrary::text(const char* exportName) const {
    const char* text = textFunction(exportName)();
    if (text == nullptr) {
        throw std::runtime_error(std::string(exportName) + " of the plug-in returned no text");
    }
    return text;
}

std::unique_ptr<CVTSPluginInterface> PluginLibrary::create() const {
    CVTSPluginInterface* object = reinterpret_cast<CreatePluginFunction>(lookUp("createPlugin"))();
    if (object == nullptr) {
        throw std::runtime_error("createPlugin of the plug-in returned no object");
    }
    return std::unique_ptr<CVTSPluginInterface>(object);
}

} // namespace corvantis
