// "Corvantis info": the plug-in's six texts, and one object created and deleted.
#include <iostream>

#include "host/commands/Command.h"
#include "host/commands/CommandLine.h"
#include "host/commands/OutputCheck.h"
#include "host/core/ExecutablePath.h"
#include "host/core/HostServices.h"
#include "host/core/PluginLibrary.h"
#include "host/core/ServiceExports.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Usage: Corvantis info [--plugin PATH] [--trace FILE]

Loads the plug-in (default: the Quorvex library beside this program) and prints
each of its six texts as NAME: "TEXT", calling every text function twice: a
function whose second call hands out another pointer or another text is an
error. Then it calls createPlugin and deletes the object at once, with no
document open; whatever the plug-in calls meanwhile goes to the log pane
(stdout), the message box (stderr) and the trace as in a run.

Exit status: 0 when all is well, 1 when a text breaks the rule or the plug-in
cannot be loaded, 2 for a mistake in the command line.
)";

const std::vector<OptionSpec> kOptions = {{"plugin", true}, {"trace", true}};

int showInfo(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << kHelp << std::flush;
        return 0;
    }
    if (!line.operands.empty()) {
        throw UsageError("info takes no operands, not " + inQuotes(line.operands.front()));
    }
    const std::string pluginPath = line.value("plugin").value_or(defaultPluginPath().string());
    if (line.has("trace")) refuseOutputOverInput("--trace", *line.value("trace"), {pluginPath});
    Trace trace = line.has("trace") ? Trace(*line.value("trace")) : Trace();
    const PluginLibrary plugin(pluginPath);
    for (const char* name : kPluginTextExports) {
        const PluginTextFunction function = plugin.textFunction(name);
        const char* first = function();
        const std::string firstText = first == nullptr ? std::string() : std::string(first);
        const char* second = function();
        if (first == nullptr || second != first || std::string(second) != firstText) {
            std::cerr << "Corvantis: error: " << name << " does not return the same text on every call" << std::endl;
            return 1;
        }
        std::cout << name << ": " << quoted(first) << '\n';
    }
    std::cout << std::flush;
    HostServices services(HostSimulation{}, std::nullopt, Parameters{}, {}, HostChannels{std::cout, std::cerr, trace});
    const ServiceAttachment attachment(services);
    plugin.create().reset();
    trace.finish();
    return services.messageBoxShown() ? 1 : 0;
}

} // namespace

extern const Command kInfoCommand;
const Command kInfoCommand = {"info", "show the plug-in's texts; create and delete one object", kHelp, &kOptions,
                              &showInfo};

} // namespace corvantis
