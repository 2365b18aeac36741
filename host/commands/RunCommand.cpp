// The default command: one plug-in run from loading to destruction.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "host/commands/CommandLine.h"
#include "host/commands/HostVariant.h"
#include "host/core/AnalysedVoxels.h"
#include "host/core/DialogScript.h"
#include "host/core/ExecutablePath.h"
#include "host/core/HostServices.h"
#include "host/core/HostWarnings.h"
#include "host/core/ParameterKinds.h"
#include "host/core/PluginLibrary.h"
#include "host/core/PluginSession.h"
#include "host/core/RunDocument.h"
#include "host/core/ServiceExports.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"
#ifdef QUORVEX_HOST_NIFTI
#include "host/core/NiftiOutputs.h"
#include "host/formats/WorkerThreads.h"
#endif
#include "host/commands/Command.h"
#include "host/commands/OutputCheck.h"
#include "host/formats/RunFiles.h"
#include "host/formats/SafeInput.h"

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
                        .fmr beside it (run.nii.gz: run.fmr) and written as
                        NIfTI only: each map the plug-in saves as a 3D
                        .nii.gz, each run as a 4D .nii.gz, with the run's
                        qform/sform (see --nifti)
  --document-type N     the type the host reports for it (default 1, an FMR)
  --document-id N       its id (default 1); a negative id means "no document"

The plug-in and its parameters:
  --plugin PATH         the plug-in library (default: the Quorvex library
                        beside this program)
  --set NAME=VALUE      set a parameter (repeatable; the last one wins). Before
                        that, every param("name", "default"); line of the
                        plug-in's dialog script (beside the plug-in) sets one.
                        NAME must be one the script declares, and VALUE of the
                        kind its default marks: "0" or "1" an integer switch
                        (a whole number, blanks around it allowed), any other
                        number a finite number ("inf" and "nan" are not),
                        anything else, "" too, any text. Anything else is a
                        command-line mistake. Without a script nothing is checked
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
  --nifti               also write every saved map and FMR/STC pair of an .fmr
                        run as NIfTI-1 beside it (same name, .nii.gz), with the
                        run's geometry; a map's thresholds are its cal_min and
                        cal_max, an F map has an F-test intent with its degrees
                        of freedom
  --host-formats        a NIfTI run's outputs also as .map and .fmr/.stc
  --no-gzip             NIfTI outputs as .nii, uncompressed
  --threads N           compress and decompress .nii.gz with N threads (1 to
                        1024; default: the machine's cores); the files are the
                        same whatever N (the plug-in itself runs on one thread)
  --sync                flush every saved file to disk before it is renamed
                        into place, so that even a power loss cannot lose it;
                        by default each is written whole and checked, then
                        renamed (a killed run never leaves a cut file)
  --timing              at the end, say on stderr how long reading the run, the
                        plug-in's work and its saves took, wall-clock and
                        processor time (all threads)
  --trace FILE          one line per service call, in call order, with its
                        arguments (texts quoted) and its result after "->";
                        put in place when the run ends. FILE must not be the
                        run, its .stc, a design or the plug-in
  --strict              any warning fails the run (exit status 3), for scripts
  --help                this text

The log pane is stdout: each cvLogText text as received, then a newline. The
message box is stderr: each cvMessageBox text, then a newline. The host's own
lines go to stderr too and start with "Corvantis: " (warnings with
"Corvantis: warning: "). It warns of a TASK the dialog script never gives the
plug-in (the plug-in gets it all the same) and, before a start, of an empty
sdmfile1 or sdmfile2. After each start that shows no message box it says how
many voxels were analysed: those whose time course stays above fmr_threshold
(its smallest value, taken from the first volume on, is greater; a NaN in the
first volume fails a voxel, a later one is passed over), and warns when none was.

Exit status: 0 when initPlugin succeeded and no message box was shown; 1 when a
message box was shown, initPlugin failed, or the document or the plug-in could
not be loaded; 2 for a mistake in the command line; 3 with --strict when the
run would have ended with 0 but the host gave a warning.

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
  .nii.gz outputs are gzip in members of 256 KiB of data each, which any gzip
        reader reads; each member's header says its length, so Corvantis
        inflates them on several threads.

Example (a NIfTI run, maps and model 2's cleaned run as .nii.gz, 2 threads):
  Corvantis --fmr run.nii.gz --set sdmfile1=m1.sdm --set sdmfile2=m2.sdm \
      --set residuals2=1 --threads 2 start
)";

const std::vector<OptionSpec> kOptions = {
    {"plugin", true},     {"fmr", true},           {"set", true},         {"open-file", true}, {"host-version", true},
    {"trace", true},      {"document-type", true}, {"document-id", true}, {"map-null", false}, {"map-dims", true},
    {"read-only", false}, {"without", true},       {"nifti", false},      {"strict", false},   {"host-formats", false},
    {"no-gzip", false},   {"threads", true},       {"timing", false},     {"sync", false},
};

// The exit status of a run that gave a warning under --strict.
constexpr int kStrictWarningStatus = 3;

// The task that compares the models, and the parameters it reads that the host checks first.
const char kStartTask[] = "start";
const char* const kDesignParameters[] = {"sdmfile1", "sdmfile2"};
const char kThresholdParameter[] = "fmr_threshold";

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

// The largest --threads: far beyond any machine's gain, and it bounds what a typo costs.
constexpr int32_t kMaxThreads = 1024;

int threadsOf(const CommandLine& line) {
    const std::optional<std::string> text = line.value("threads");
    if (!text) {
#ifdef QUORVEX_HOST_NIFTI
        return machineThreads();
#else
        return 1;
#endif
    }
    const std::optional<int32_t> value = parseInt32(*text);
    if (!value || *value < 1 || *value > kMaxThreads) {
        throw UsageError("--threads takes a whole number from 1 to " + std::to_string(kMaxThreads) + ", not " +
                         inQuotes(*text));
    }
    return *value;
}

// Wall-clock and processor seconds since it was made.
class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()), cpuStart_(std::clock()) {}
    SaveTime elapsed() const {
        return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(),
                static_cast<double>(std::clock() - cpuStart_) / CLOCKS_PER_SEC};
    }

private:
    std::chrono::steady_clock::time_point start_;
    std::clock_t cpuStart_;
};

// Where the time of a run went, for --timing.
struct RunTimes {
    SaveTime read;   // opening the run
    SaveTime plugin; // the plug-in's tasks, its saves included
    SaveTime saves;  // the save services
};

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", value);
    return text;
}

void reportTimes(const RunTimes& times, HostWarnings& warnings) {
    warnings.note("time: read " + seconds(times.read.seconds) + ", compare " +
                  seconds(times.plugin.seconds - times.saves.seconds) + ", write " + seconds(times.saves.seconds) +
                  "; processor time: read " + seconds(times.read.cpuSeconds) + ", compare " +
                  seconds(times.plugin.cpuSeconds - times.saves.cpuSeconds) + ", write " +
                  seconds(times.saves.cpuSeconds));
}

// The current document and what it was read from.
struct OpenedDocument {
    std::optional<FmrDocument> document;
    bool fromNifti = false;
};

// A NIfTI run is saved as NIfTI only, unless asked for the host's formats too;
// an .fmr run gets NIfTI copies with --nifti.
Durability durabilityOf(const CommandLine& line) {
    return line.has("sync") ? Durability::Flushed : Durability::Complete;
}

void chooseOutputs(const CommandLine& line, bool fromNifti, int threads, HostServices& services) {
    const Durability durability = durabilityOf(line);
    if (!fromNifti && !line.has("nifti")) {
        SaveHooks hostFormatsOnly;
        hostFormatsOnly.durability = durability;
        services.setSaveHooks(hostFormatsOnly);
        return;
    }
#ifdef QUORVEX_HOST_NIFTI
    services.setSaveHooks(niftiSaveHooks(NiftiOutputOptions{!line.has("no-gzip"), threads, durability},
                                         !fromNifti || line.has("host-formats")));
#else
    static_cast<void>(threads);
    static_cast<void>(services);
    throw UsageError("--nifti: this Corvantis is built without NIfTI support");
#endif
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

// The dialog's defaults, then the settings, each of a declared parameter and of its kind.
Parameters startingParameters(const DialogDeclarations& dialog, const std::vector<ParameterDefault>& settings) {
    Parameters parameters;
    for (const ParameterDefault& entry : dialog.parameters) {
        parameters.set(entry.first, entry.second);
    }
    for (const ParameterDefault& entry : settings) {
        const std::optional<std::string> problem =
            dialog.read ? settingProblem(dialog.parameters, entry.first, entry.second) : std::nullopt;
        if (problem) {
            throw UsageError("--set: " + *problem);
        }
        parameters.set(entry.first, entry.second);
    }
    return parameters;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "none" : text;
}

// What the host can tell before a task that the plug-in would not say: a task
// its dialog never gives it (which it ignores), a start without a design.
void warnBeforeTask(const std::string& task, const DialogDeclarations& dialog, const Parameters& parameters,
                    HostWarnings& warnings) {
    if (dialog.read && std::find(dialog.tasks.begin(), dialog.tasks.end(), task) == dialog.tasks.end()) {
        warnings.warn("the dialog offers no task " + inQuotes(task) + " (it offers " + listed(dialog.tasks) +
                      "); the plug-in is given it all the same");
    }
    if (task != kStartTask) {
        return;
    }
    for (const char* name : kDesignParameters) {
        const std::string* value = parameters.find(name);
        if (value == nullptr || value->empty()) {
            warnings.warn(std::string("the parameter ") + name + " is empty: the start task has no design file for it");
        }
    }
}

// The plug-in opens its design files itself, blocking on a pipe and reading a
// device without end; the host refuses such a start before the plug-in sees it.
// The reason, or nullopt when each design file is a regular file or absent (the
// plug-in reports those itself).
std::optional<std::string> unreadableDesign(const Parameters& parameters) {
    for (const char* name : kDesignParameters) {
        const std::string* value = parameters.find(name);
        if (value == nullptr || value->empty()) continue;
        std::error_code ignored;
        const std::filesystem::file_status status = std::filesystem::status(*value, ignored);
        if (!std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) continue;
        const char* kind = std::filesystem::is_directory(status) ? "a folder" : "not a regular file";
        return "the design file " + inQuotes(*value) + " (" + name + ") is " + kind + "; the start is not run";
    }
    return std::nullopt;
}

// The shortest text that reads back as the same float: the threshold as typed, mostly.
std::string shortestText(float value) {
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

// The voxels a start analyses, counted on the run's data as the plug-in gets it.
struct StartCount {
    int64_t analysed = 0;
    int64_t voxels = 0;
    float threshold = 0.0f;
};

std::optional<StartCount> countBeforeStart(HostServices& services) {
    const std::optional<FmrDocument>& document = services.document();
    if (!document || document->timeCourses().dataType() != kDataTypeFloat32) {
        return std::nullopt;
    }
    // The threshold as cvGetFloatParameter answers it.
    const std::string* text = services.parameters().find(kThresholdParameter);
    const float threshold = text == nullptr ? 0.0f : parseFloatParameter(*text);
    return StartCount{countAnalysedVoxels(document->timeCourses(), threshold), document->timeCourses().voxels(),
                      threshold};
}

void reportStart(const StartCount& count, HostWarnings& warnings) {
    const std::string threshold = shortestText(count.threshold);
    warnings.note(std::to_string(count.analysed) + " of " + std::to_string(count.voxels) +
                  " voxels analysed (time course above the threshold " + threshold + " in every volume)");
    if (count.analysed == 0) {
        warnings.warn("no voxel's time course stays above the threshold " + threshold + "; every map is empty");
    }
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
            const auto declared = std::find_if(kOptions.begin(), kOptions.end(),
                                               [&](const OptionSpec& known) { return known.name == option.name; });
            if (declared != kOptions.end() && declared->takesValue) {
                args.push_back(option.value);
            }
        }
    }
    args.push_back("--");
    args.insert(args.end(), line.operands.begin(), line.operands.end());
    return args;
}

// The plug-in's whole life on the opened document; the exit status.
int runWithDocument(const CommandLine& line, const HostSimulation& simulation,
                    const std::vector<ParameterDefault>& settings, OpenedDocument opened, Trace& trace,
                    HostWarnings& warnings, RunTimes& times) {
    const PluginLibrary plugin(line.value("plugin").value_or(defaultPluginPath().string()));
    for (const char* text : kPluginTextExports) {
        plugin.text(text);
    }
    const DialogDeclarations dialog = readDialogScript(plugin, warnings);
    const std::vector<std::string> openFiles = line.values("open-file");
    HostServices services(simulation, std::move(opened.document), startingParameters(dialog, settings),
                          std::deque<std::string>(openFiles.begin(), openFiles.end()),
                          HostChannels{std::cout, std::cerr, trace});
    const ServiceAttachment attachment(services);
    chooseOutputs(line, opened.fromNifti, threadsOf(line), services);

    PluginSession session(plugin, services);
    bool failed = false;
    for (std::size_t i = 0; session.initialised() && !failed && i < line.operands.size(); ++i) {
        const std::string& task = line.operands[i];
        warnBeforeTask(task, dialog, services.parameters(), warnings);
        if (task == kStartTask) {
            if (const std::optional<std::string> reason = unreadableDesign(services.parameters())) {
                std::cerr << "Corvantis: error: " << *reason << std::endl;
                failed = true;
                break;
            }
        }
        const std::optional<StartCount> count = task == kStartTask ? countBeforeStart(services) : std::nullopt;
        const Stopwatch execution;
        failed = !session.execute(task);
        const SaveTime spent = execution.elapsed();
        times.plugin.seconds += spent.seconds;
        times.plugin.cpuSeconds += spent.cpuSeconds;
        // A start that ended in an error analysed nothing worth counting.
        if (count && !failed && !services.messageBoxShown()) reportStart(*count, warnings);
    }
    session.end();
    times.saves = services.saveTime();
    return session.initialised() && !session.failed() && !failed && !services.messageBoxShown() ? 0 : 1;
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

// Under --strict a run that gave any warning fails, for scripts that must not miss one.
int strictStatus(bool strict, int status, HostWarnings& warnings) {
    if (!strict || status != 0 || warnings.count() == 0) {
        return status;
    }
    const int count = warnings.count();
    warnings.note("error: --strict and " + std::to_string(count) + (count == 1 ? " warning" : " warnings") +
                  ": exit status " + std::to_string(kStrictWarningStatus));
    return kStrictWarningStatus;
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
    HostWarnings warnings(std::cerr);

    const std::optional<std::string> tracePath = line.value("trace");
    if (tracePath) refuseOutputOverInput("--trace", *tracePath, namedInputs(line, settings));
    const int threads = threadsOf(line);
    RunTimes times;
    OpenedDocument opened;
    if (const std::optional<std::string> fmr = line.value("fmr")) {
        const Stopwatch reading;
        try {
            opened.fromNifti = isNiftiRun(*fmr);
            opened.document = openRunDocument(*fmr, threads);
        } catch (const DocumentError& error) {
            std::cerr << "Corvantis: error: " << error.what() << std::endl;
            // The trace of a run without its document is empty, and still written.
            if (tracePath) Trace(*tracePath).finish();
            return 1;
        }
        times.read = reading.elapsed();
        if (tracePath) refuseOutputOverInput("--trace", *tracePath, runFiles(*fmr, *opened.document));
    }
    Trace trace = tracePath ? Trace(*tracePath, durabilityOf(line)) : Trace();
    int status = 1;
    try {
        status = runWithDocument(line, simulation, settings, std::move(opened), trace, warnings, times);
    } catch (...) {
        finishAfterError(trace);
        throw;
    }
    trace.finish();
    if (line.has("timing")) reportTimes(times, warnings);
    return strictStatus(line.has("strict"), status, warnings);
}

} // namespace

extern const Command kRunCommand;
const Command kRunCommand = {"run", "run the plug-in on a document (the default command)", kHelp, &kOptions,
                             &runPlugin};

} // namespace corvantis
