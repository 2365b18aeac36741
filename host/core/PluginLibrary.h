// A loaded plug-in library and its seven plain-named exports.
#pragma once

#include <memory>
#include <string>

#include "host/core/PluginInterface.h"

namespace corvantis {

using PluginTextFunction = const char* (*)();

// The six text functions by export name, in the order the host reads them.
constexpr const char* kPluginTextExports[] = {"getPluginName",    "getPluginDescription", "getAuthor",
                                              "getPluginVersion", "getHelpFile",          "getGUIScript"};

class PluginLibrary {
public:
    // Throws std::runtime_error when the library cannot be loaded or lacks one
    // of the seven exports.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return path_; }
    PluginTextFunction textFunction(const char* exportName) const;
    // The text of one text function; throws when it returns null.
    std::string text(const char* exportName) const;
    // createPlugin; the caller owns the object and must drop it before the library.
    std::unique_ptr<CVTSPluginInterface> create() const;

private:
    void* lookUp(const char* exportName) const;

    std::string path_;
    void* handle_ = nullptr;
};

} // namespace corvantis
