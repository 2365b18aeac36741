// The default command: one plug-in run from loading to destruction.
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "host/commands/CommandLine.h"
#include "host/core/DialogScript.h"
#include "host/core/ExecutablePath.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"
#include "host/core/HostServices.h"
#include "host/commands/HostVariant.h"
#include "host/core/PluginLibrary.h"
#include "host/core/RunDocument.h"
#include "host/core/ServiceExports.h"
#ifdef QUORVEX_HOST_NIFTI
#include "host/core/NiftiOutputs.h"
#endif
#include "host/commands/Command.h"
#include "host/commands/OutputCheck.h"
#include "host/formats/RunFiles.h"

namespace corvantis {

namespace {

const char kHelp[] = R"(Corvantis - a stand-in for the Corvantis host: it loads a plug-in, gives it one
document and answers its service calls, all from the command line.

Usage:
  Corvantis [OPTIONS] [TASK]...
  Corvantis run [OPTIONS] [TASK]...     the same, for a first task named like a command

The run loads the plug-in, reads its six texts, calls createPlugin and then
initPlugin; when that succeeds it sets the parameter "task" to each TASK in
turn and calls execute; at the end it deletes the plug-in object.

The document:
  --fmr PATH            open this .fmr and its .stc, or a 4D NIfTI-1 run (.nii
                        or .nii.gz, any stored type, scaled to float32), as the
                        current document; without it there is no current
                        document. A NIfTI run's outputs are named as for the
                        .fmr beside it (run.nii.gz: run.fmr)
  --document-type N     the type the host reports for it (default 1, an FMR)
  --document-id N       its id (default 1); a negative id means "no document"

The plug-in and its parameters:
  --plugin PATH         the plug-in library (default: the Quorvex library
                        beside this program)
  --set NAME=VALUE      set a parameter (repeatable; the last one wins). Before
                        that, every param("name", "default"); line of the
                        plug-in's dialog script (beside the plug-in) sets one
  --open-file PATH      the answer of the next file dialog (repeatable); when
                        none is left the dialog is cancelled, which leaves the
                        caller's buffer as it was

Simulating other hosts:
  --host-version X.Y.Z  the version the host reports (default 2.8.0); each
                        part is a signed number, as in 2.8.-1
  --without NAME        run the same host built without the service NAME:
                        exports are fixed at link time, so the build makes
                        without-NAME/Corvantis beside this program for each
                        of the 20 services, and this option hands the run to it
  --map-null            cvGetMAPOfCurrentFMR fails and returns no slices
  --map-dims X,Y,Z      new maps get these extents instead of the document's
  --read-only           every save fails (reported as a warning)

Output:
  --nifti               also write every saved map and FMR/STC pair as NIfTI-1
                        beside it (same name, .nii.gz), with the run's geometry
  --trace FILE          one line per service call, in call order, with its
                        arguments (texts quoted) and its result after "->";
                        put in place when the run ends. FILE must not be the
                        run, its .stc, a design or the plug-in
  --help                this text

The log pane is stdout: each cvLogText text as received, then a newline. The
message box is stderr: each cvMessageBox text, then a newline. The host's own
warnings and errors go to stderr too and start with "Corvantis:".

Exit status: 0 when initPlugin succeeded and no message box was shown; 1 when a
message box was shown, initPlugin failed, or the document or the plug-in could
not be loaded; 2 for a mistake in the command line.

Files:
  .fmr  text, one "Key: value" per line; blank lines and lines starting with #
        are skipped; unknown keys are kept and written back on save. Required:
        NrOfVolumes, DimX, DimY, DimZ, DataType (2 = float32, 1 = int16) and
        STCFile (relative to the .fmr's folder); optional TR, VoxelSizeX/Y/Z.
  .stc  raw little-endian values, volume by volume, voxels in the order
        (z * DimY + y) * DimX + x; exactly NrOfVolumes * DimX * DimY * DimZ.
  .map  "CVMAP01\n", the 64-byte map header, then DimZ slices of DimY * DimX
        float32 values, x fastest. A new map's header holds the run's extents
        and the values 101, 102.5, 103.5, 104, 105, 106, 107 in its words from
        byte 12 on, bytes 0xA0, 0xA1, ... from byte 40; its values start at 0.
  Saves write a temporary file beside the target and rename it into place.
)";

const std::vector<OptionSpec> kOptions = {
    {"plugin", true},     {"fmr", true},           {"set", true},         {"open-file", true},
    {"host-version", true}, {"trace", true},       {"document-type", true}, {"document-id", true},
    {"map-null", false},  {"map-dims", true},      {"read-only", false},  {"without", true},
    {"nifti", false},
};

int32_t int32Option(const CommandLine& line, const std::string& name, int32_t fallback) {
    const std::optional<std::string> text = line.value(name);
    if (!text) {
        return fallback;
    }
    const std::optional<int32_t> value = parseInt32(*text);
    if (!value) {
        throw UsageError("--" + name + " takes a whole number, not " + inQuotes(*text));
    }
    return *value;
}

std::vector<int32_t> numberList(const std::string& option, const std::string& text, char separator,
                                const std::string& form) {
    std::vector<int32_t> numbers;
    for (const std::string& part : splitAt(text, separator)) {
        const std::optional<int32_t> value = parseInt32(part);
        if (!value) {
            throw UsageError("--" + option + " takes " + form + ", not " + inQuotes(text));
        }
        numbers.push_back(*value);
    }
    if (numbers.size() != 3) {
        throw UsageError("--" + option + " takes " + form + ", not " + inQuotes(text));
    }
    return numbers;
}

MapExtents mapExtentsOf(const std::string& text) {
    const std::vector<int32_t> dims = numberList("map-dims", text, ',', "X,Y,Z");
    const long long voxels = static_cast<long long>(dims[0]) * dims[1] * dims[2];
    if (dims[0] < 0 || dims[1] < 0 || dims[2] < 0 || voxels > 2147483647LL) {
        throw UsageError("--map-dims takes extents from 0 up, at most 2147483647 voxels, not " + inQuotes(text));
    }
    return MapExtents{dims[0], dims[1], dims[2]};
}

HostSimulation simulationOf(const CommandLine& line) {
    HostSimulation simulation;
    if (const std::optional<std::string> version = line.value("host-version")) {
        const std::vector<int32_t> parts = numberList("host-version", *version, '.', "X.Y.Z");
        simulation.major = parts[0];
        simulation.minor = parts[1];
        simulation.revision = parts[2];
    }
    simulation.documentId = int32Option(line, "document-id", simulation.documentId);
    simulation.documentType = int32Option(line, "document-type", simulation.documentType);
    simulation.mapNull = line.has("map-null");
    if (const std::optional<std::string> dims = line.value("map-dims")) {
        simulation.mapExtents = mapExtentsOf(*dims);
    }
    simulation.readOnly = line.has("read-only");
    return simulation;
}

std::vector<ParameterDefault> parameterSettings(const CommandLine& line) {
    std::vector<ParameterDefault> settings;
    for (const std::string& setting : line.values("set")) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw UsageError("--set takes NAME=VALUE, not " + inQuotes(setting));
        }
        settings.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    }
    return settings;
}

Parameters startingParameters(const PluginLibrary& plugin, const std::vector<ParameterDefault>& settings) {
    Parameters parameters;
    const std::filesystem::path script =
        std::filesystem::path(plugin.path()).parent_path() / plugin.text("getGUIScript");
    std::ifstream in(script, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        for (const ParameterDefault& entry : parseDialogDefaults(text.str())) {
            parameters.set(entry.first, entry.second);
        }
    } else {
        std::cerr << "Corvantis: warning: no dialog script " << inQuotes(script.string())
                  << "; the parameters start empty" << std::endl;
    }
    for (const ParameterDefault& entry : settings) {
        parameters.set(entry.first, entry.second);
    }
    return parameters;
}

// The arguments for the host without a service: the same run, spelled out.
std::vector<std::string> argumentsForVariant(const CommandLine& line) {
    std::vector<std::string> args = {"run"};
    if (!line.has("plugin")) {
        args.push_back("--plugin=" + defaultPluginPath().string());
    }
    for (const ParsedOption& option : line.options) {
        if (option.name != "without") {
            args.push_back("--" + option.name);
            const bool isSwitch = option.name == "map-null" || option.name == "read-only" || option.name == "nifti";
            if (!isSwitch) {
                args.push_back(option.value);
            }
        }
    }
    args.push_back("--");
    args.insert(args.end(), line.operands.begin(), line.operands.end());
    return args;
}

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

// The plug-in's whole life on the opened document; the exit status.
int runWithDocument(const CommandLine& line, const HostSimulation& simulation,
                    const std::vector<ParameterDefault>& settings, std::optional<FmrDocument> document,
                    Trace& trace) {
    const PluginLibrary plugin(line.value("plugin").value_or(defaultPluginPath().string()));
    for (const char* text : kPluginTextExports) {
        plugin.text(text);
    }
    const std::vector<std::string> openFiles = line.values("open-file");
    HostServices services(simulation, std::move(document), startingParameters(plugin, settings),
                          std::deque<std::string>(openFiles.begin(), openFiles.end()),
                          HostChannels{std::cout, std::cerr, trace});
    const ServiceAttachment attachment(services);
    if (line.has("nifti")) {
#ifdef QUORVEX_HOST_NIFTI
        services.setSaveHooks(niftiCopyHooks());
#else
        throw UsageError("--nifti: this Corvantis is built without NIfTI support");
#endif
    }

    std::unique_ptr<CVTSPluginInterface> object = plugin.create();
    bool failed = false;
    const bool initialised = callPlugin("initPlugin", [&] { return object->initPlugin(); }, failed);
    for (std::size_t i = 0; initialised && !failed && i < line.operands.size(); ++i) {
        services.parameters().set("task", line.operands[i]);
        callPlugin("execute", [&] { return object->execute(); }, failed);
    }
    object.reset();
    return initialised && !failed && !services.messageBoxShown() ? 0 : 1;
}

// The files named on the command line that the run reads: the run, the plug-in
// and the two designs.
std::vector<std::string> namedInputs(const CommandLine& line, const std::vector<ParameterDefault>& settings) {
    std::vector<std::string> inputs = {line.value("plugin").value_or(defaultPluginPath().string())};
    if (const std::optional<std::string> fmr = line.value("fmr")) inputs.push_back(*fmr);
    for (const ParameterDefault& setting : settings) {
        if (setting.first == "sdmfile1" || setting.first == "sdmfile2") inputs.push_back(setting.second);
    }
    return inputs;
}

// The error that ended the run is the one main reports; a trace that could not
// be completed is said first.
void finishAfterError(Trace& trace) {
    try {
        trace.finish();
    } catch (const SaveError& error) {
        std::cerr << "Corvantis: error: " << error.what() << std::endl;
    }
}

int runPlugin(const std::vector<std::string>& args) {
    const CommandLine line = parseCommandLine(args, kOptions);
    if (line.helpRequested) {
        std::cout << helpText(defaultCommand()) << std::flush;
        return 0;
    }
    const HostSimulation simulation = simulationOf(line);
    const std::vector<ParameterDefault> settings = parameterSettings(line);
    if (line.values("without").size() > 1) {
        throw UsageError("a host lacks one service at a time: give --without once");
    }
    if (const std::optional<std::string> service = line.value("without")) {
        execHostVariant(hostVariantWithout(*service), argumentsForVariant(line));
    }

    const std::optional<std::string> tracePath = line.value("trace");
    if (tracePath) refuseOutputOverInput("--trace", *tracePath, namedInputs(line, settings));
    std::optional<FmrDocument> document;
    if (const std::optional<std::string> fmr = line.value("fmr")) {
        try {
            document = openRunDocument(*fmr);
        } catch (const DocumentError& error) {
            std::cerr << "Corvantis: error: " << error.what() << std::endl;
            // The trace of a run without its document is empty, and still written.
            if (tracePath) Trace(*tracePath).finish();
            return 1;
        }
        if (tracePath) refuseOutputOverInput("--trace", *tracePath, runFiles(*fmr, *document));
    }
    Trace trace = tracePath ? Trace(*tracePath) : Trace();
    int status = 1;
    try {
        status = runWithDocument(line, simulation, settings, std::move(document), trace);
    } catch (...) {
        finishAfterError(trace);
        throw;
    }
    trace.finish();
    return status;
}

} // namespace

extern const Command kRunCommand;
const Command kRunCommand = {"run", "run the plug-in on a document (the default command)", kHelp, &kOptions,
                             &runPlugin};

} // namespace corvantis
