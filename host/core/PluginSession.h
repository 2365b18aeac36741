// One plug-in object's life on the host's session, as every command that runs
// the plug-in drives it: the dialog script's declarations read beside the
// library, the object created and initialised, tasks executed, the object
// deleted before the library goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/core/DialogScript.h"
#include "host/core/HostServices.h"
#include "host/core/HostWarnings.h"
#include "host/core/PluginLibrary.h"

namespace corvantis {

// What the dialog script beside the plug-in declares; read is false when there
// was no script to read, and then nothing can be checked against it.
struct DialogDeclarations {
    bool read = false;
    std::vector<ParameterDefault> parameters;
    std::vector<std::string> tasks;
};

// A script that cannot be read is a warning: the parameters then start empty.
DialogDeclarations readDialogScript(const PluginLibrary& plugin, HostWarnings& warnings);

// The services must already answer the plug-in's calls (a ServiceAttachment)
// when the session starts, and go on doing so until it ends.
class PluginSession {
public:
    // Creates the object and calls initPlugin.
    PluginSession(const PluginLibrary& plugin, HostServices& services);
    // Deletes the object.
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    bool initialised() const { return initialised_; }
    // A call let an exception out (said on stderr); nothing more may be run.
    bool failed() const { return failed_; }

    // Sets the parameter "task" and calls execute; false when the plug-in let an exception out.
    bool execute(const std::string& task);

    // Deletes the object now, so that what its destructor does is seen before the
    // outcome is judged; the destructor does it otherwise.
    void end() { object_.reset(); }

private:
    HostServices& services_;
    std::unique_ptr<CVTSPluginInterface> object_;
    bool initialised_ = false;
    bool failed_ = false;
};

} // namespace corvantis
