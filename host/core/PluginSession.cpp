#include "host/core/PluginSession.h"

#include <filesystem>
#include <iostream>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"

namespace corvantis {

namespace {

// A plug-in must not let exceptions out; one that does ends the run.
template <class Call>
bool callPlugin(const char* what, Call call, bool& failed) {
    try {
        return call();
    } catch (const std::exception& error) {
        std::cerr << "Corvantis: error: the plug-in's " << what << " let an exception out: " << error.what()
                  << std::endl;
    } catch (...) {
        std::cerr << "Corvantis: error: the plug-in's " << what << " let an exception out" << std::endl;
    }
    failed = true;
    return false;
}

} // namespace

DialogDeclarations readDialogScript(const PluginLibrary& plugin, HostWarnings& warnings) {
    DialogDeclarations dialog;
    const std::filesystem::path script =
        std::filesystem::path(plugin.path()).parent_path() / plugin.text("getGUIScript");
    try {
        const std::string text = readTextFile(script.string(), "the dialog script");
        dialog.parameters = parseDialogDefaults(text);
        dialog.tasks = parseDialogTasks(text);
        dialog.read = true;
    } catch (const DocumentError& error) {
        warnings.warn(std::string(error.what()) + "; the parameters start empty and --set is not checked");
    }
    return dialog;
}

PluginSession::PluginSession(const PluginLibrary& plugin, HostServices& services)
    : services_(services), object_(plugin.create()) {
    initialised_ = callPlugin(
        "initPlugin", [&] { return object_->initPlugin(); }, failed_);
}

PluginSession::~PluginSession() { object_.reset(); }

bool PluginSession::execute(const std::string& task) {
    services_.parameters().set("task", task);
    bool failed = false;
    callPlugin(
        "execute", [&] { return object_->execute(); }, failed);
    failed_ = failed_ || failed;
    return !failed;
}

} // namespace corvantis
