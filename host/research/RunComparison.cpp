#include "host/research/RunComparison.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "host/core/AnalysedVoxels.h"
#include "host/core/ExecutablePath.h"
#include "host/core/HostServices.h"
#include "host/core/HostWarnings.h"
#include "host/core/NiftiOutputs.h"
#include "host/core/PluginSession.h"
#include "host/core/RunDocument.h"
#include "host/core/ServiceExports.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/FileIdentity.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiRun.h"
#include "host/formats/RunFiles.h"
#include "host/formats/SdmWriter.h"
#include "host/research/ComparisonNames.h"
#include "host/research/DesignCheck.h"
#include "host/research/DesignRecord.h"
#include "host/research/FTestSignificance.h"
#include "host/research/RunTiming.h"
#include "host/research/StrategyDesign.h"
#include "host/research/VoxelSelection.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The maps the plug-in saves, in its saving order: its switch, the summary's
// key and how the plug-in names the file from the two designs' stems.
struct MapOutput {
    const char* switchName;
    const char* key;
    bool model2Stem;
    const char* infix;
    bool namesModel1;
};
constexpr MapOutput kMapOutputs[] = {
    {"tSNR1", "tsnr1", false, "_tSNR_residuals", false},
    {"tSNR2", "tsnr2", true, "_tSNR_residuals", false},
    {"tSNR3", "delta_tsnr", true, "_tSNR_diff_", true},
    {"R2adj1", "r2adj1", false, "_R2adj", false},
    {"R2adj2", "r2adj2", true, "_R2adj", false},
    {"R2adj3", "delta_r2adj", true, "_R2adj_diff_", true},
    {"Fmap", "f", true, "_Fval_diff_", true},
};
const char* const kResidualSwitches[] = {"residuals1", "residuals2"};
const char kFMapSwitch[] = "Fmap";

std::string mapStem(const MapOutput& map, const std::string& stem1, const std::string& stem2) {
    return (map.model2Stem ? stem2 : stem1) + map.infix + (map.namesModel1 ? stem1 : "");
}

// A hidden folder in the output folder where everything is made; removed with
// whatever it still holds when it goes.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& outDir) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::ostringstream name;
            name << ".compare-" << std::hex << random() << random();
            std::error_code error;
            if (fs::create_directory(outDir / name.str(), error)) {
                path_ = outDir / name.str();
                return;
            }
            if (error) throw SaveError("cannot make a folder in " + inQuotes(outDir.string()) + ": " + error.message());
        }
        throw SaveError("cannot make a working folder in " + inQuotes(outDir.string()));
    }
    ~StagingFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct Model {
    std::string strategy;
    std::string stem; // the design's file name without ".sdm"
    BuiltDesign built;
};

struct Designs {
    DesignInputs inputs;
    Model model[2];
    DesignPairCheck check;
    // Nested, and model 2 has more columns: the plug-in makes its F map only then.
    bool fTest = false;
    std::vector<std::string> warnings; // the designs', the checks', then this comparison's
};

DesignInputs designInputs(const CompareRequest& request, const FmrDocument& run) {
    DesignInputs inputs;
    inputs.tables.push_back(readConfoundTable(request.confounds));
    inputs.sidecar = findPipelineSidecar(request.confounds);
    if (request.events) inputs.events = readEventsTable(*request.events);
    inputs.tr = runRepetitionTime(run);
    inputs.volumes = run.layout().nrOfVolumes;
    inputs.standardize = request.standardize;
    return inputs;
}

BuiltDesign buildModel(const DesignInputs& inputs, const std::string& strategy, int which) {
    try {
        return buildStrategyDesign(inputs, parseConfoundStrategy(strategy));
    } catch (const StrategyError& error) {
        throw DocumentError("model " + std::to_string(which) + "'s strategy " + inQuotes(strategy) + ": " +
                            error.what());
    }
}

Designs buildDesigns(const CompareRequest& request, const FmrDocument& run, std::ostream& progress) {
    Designs designs;
    designs.inputs = designInputs(request, run);
    const std::string stem = runStem(request.run);
    const std::string strategies[2] = {request.model1, request.model2};
    for (int i = 0; i < 2; ++i) {
        designs.model[i].strategy = strategies[i];
        designs.model[i].stem = stem + "_" + strategyLabel(strategies[i]);
        designs.model[i].built = buildModel(designs.inputs, strategies[i], i + 1);
    }
    if (designs.model[0].stem == designs.model[1].stem) {
        throw DesignRefusal("model 1 and model 2 are both " + inQuotes(request.model1) +
                            "; compare two different strategies");
    }
    designs.check = checkDesignPair(designs.model[0].built.table, designs.model[1].built.table);
    for (const Model& model : designs.model) {
        designs.warnings.insert(designs.warnings.end(), model.built.warnings.begin(), model.built.warnings.end());
    }
    designs.warnings.insert(designs.warnings.end(), designs.check.warnings.begin(), designs.check.warnings.end());
    designs.fTest = designs.check.nested && designs.check.model2.predictors > designs.check.model1.predictors;
    if (designs.check.nested && !designs.fTest) {
        designs.warnings.push_back(
            "model 2 has no more columns than model 1 although it spans more, so no F map "
            "can be made; leave out model 1's redundant columns for an F test");
    }
    for (int i = 0; i < 2; ++i) {
        const DesignCheck& c = i == 0 ? designs.check.model1 : designs.check.model2;
        progress << "Model " << i + 1 << " (" << strategies[i] << "): " << c.predictors << " predictors, rank "
                 << c.rank << ", " << c.residualDf << " residual df, condition number " << c.conditionNumber << "\n";
    }
    progress << (designs.fTest
                     ? "The models are nested: F(" + std::to_string(designs.check.numeratorDf) + ", " +
                           std::to_string(designs.check.denominatorDf) + ")"
                     : std::string(designs.check.nested ? "No F test" : "The models are not nested: no F test"))
             << "\n";
    return designs;
}

struct VoxelChoice {
    std::string method; // "mask" or "threshold"
    float threshold = 0.0f;
    std::vector<unsigned char> analysed;
    int64_t count = 0;
    std::vector<std::string> warnings;
};

std::string numberText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

VoxelChoice chooseVoxels(const CompareRequest& request, FmrDocument& run, std::ostream& progress) {
    VoxelChoice choice;
    TimeCourses& courses = run.timeCourses();
    if (request.mask) {
        const BrainMask mask = readBrainMask(*request.mask, run.layout(), request.run);
        const MaskHandover handover = handOverMask(courses, mask);
        choice.method = "mask";
        choice.threshold = handover.threshold;
        if (mask.warning) choice.warnings.push_back(*mask.warning);
        if (std::isnan(handover.outsideValue)) {
            choice.warnings.push_back(
                "the run has values at or below 0 inside the mask; voxels outside the mask are "
                "NaN in the cleaned runs");
        }
        if (handover.insideUnusable > 0) {
            choice.warnings.push_back(std::to_string(handover.insideUnusable) +
                                      " voxels inside the mask have no usable time course (NaN in the first "
                                      "volume, or -inf) and are not analysed");
        }
    } else if (request.threshold) {
        choice.method = "threshold";
        choice.threshold = *request.threshold;
    } else {
        const AutomaticThreshold automatic = automaticThreshold(courses);
        choice.method = "threshold";
        choice.threshold = automatic.threshold;
        progress << "Automatic threshold " << automatic.threshold << " (10% of the way from the mean image's 2nd "
                 << "percentile " << automatic.lowPercentile << " to its 98th " << automatic.highPercentile << ")\n";
    }
    choice.analysed = analysedVoxelMask(courses, choice.threshold);
    for (const unsigned char inside : choice.analysed) choice.count += inside;
    progress << choice.count << " of " << courses.voxels() << " voxels analysed"
             << (choice.method == "mask" ? " (inside the mask)" : " (above the threshold in every volume)") << "\n";
    if (choice.count == 0) {
        throw DocumentError("no voxel of " + inQuotes(request.run) + " is selected " +
                            (request.mask ? "inside the mask " + inQuotes(*request.mask)
                                          : "by the threshold " + numberText(choice.threshold)) +
                            "; nothing to compare");
    }
    return choice;
}

// The threshold as a text that cvGetFloatParameter reads back as the same float.
std::string floatText(float value) {
    std::ostringstream text;
    text.precision(9);
    text << value;
    return text.str();
}

Parameters comparisonParameters(const DialogDeclarations& dialog, const Designs& designs, const fs::path& staging,
                                float threshold, const CleanedRuns& cleaned) {
    Parameters parameters;
    for (const ParameterDefault& entry : dialog.parameters) parameters.set(entry.first, entry.second);
    for (const MapOutput& map : kMapOutputs) parameters.set(map.switchName, "1");
    if (!designs.fTest) parameters.set(kFMapSwitch, "0");
    const bool wanted[2] = {cleaned.model1, cleaned.model2};
    for (int i = 0; i < 2; ++i) parameters.set(kResidualSwitches[i], wanted[i] ? "1" : "0");
    parameters.set("sdmfile1", (staging / (designs.model[0].stem + ".sdm")).string());
    parameters.set("sdmfile2", (staging / (designs.model[1].stem + ".sdm")).string());
    parameters.set("fmr_threshold", floatText(threshold));
    return parameters;
}

struct KeptMap {
    std::string path;
    MapHeader header{};
    std::vector<float> values;
};

// What the plug-in saved, and the staged files to keep.
struct PluginOutputs {
    std::vector<KeptMap> maps;
    std::vector<std::string> files;
};

bool openedFromNifti(const FmrDocument& run) { return run.text().find(kNiftiSourceKey) != nullptr; }

NiftiOutputOptions niftiOptions(const CompareRequest& request) {
    return NiftiOutputOptions{true, request.threads, request.durability};
}

// For a NIfTI run the outputs are written as NIfTI only; for an .fmr run as
// the host's .map and .fmr/.stc. Either way each map's values are kept.
SaveHooks recordingHooks(PluginOutputs& outputs, bool nifti, const NiftiOutputOptions& options) {
    SaveHooks hooks;
    hooks.hostFormats = !nifti;
    hooks.durability = options.durability;
    hooks.map = [&outputs, nifti, options](const MapImage& map, const FmrDocument& run, const std::string& path) {
        if (nifti) writeMapAsNifti(map, run, path, options);
        outputs.maps.push_back(KeptMap{path, map.header(), map.values()});
        outputs.files.push_back(nifti ? niftiOutputPath(path) : path);
    };
    hooks.run = [&outputs, nifti, options](const FmrDocument& run, const std::string& fmrPath) {
        if (nifti) {
            writeRunAsNifti(run, fmrPath, options);
            outputs.files.push_back(niftiOutputPath(fmrPath));
            return;
        }
        outputs.files.push_back(fmrPath);
        const std::string* stc = run.text().find("STCFile");
        if (stc != nullptr) outputs.files.push_back((fs::path(fmrPath).parent_path() / *stc).string());
    };
    return hooks;
}

// The values of the analysed voxels.
std::vector<double> analysedValues(const std::vector<float>& values, const std::vector<unsigned char>& analysed) {
    std::vector<double> picked;
    for (std::size_t l = 0; l < values.size() && l < analysed.size(); ++l) {
        if (analysed[l]) picked.push_back(values[l]);
    }
    return picked;
}

const KeptMap* findMap(const PluginOutputs& outputs, const fs::path& path) {
    for (const KeptMap& map : outputs.maps) {
        if (fs::path(map.path) == path) return &map;
    }
    return nullptr;
}

// The F test's -log10(p) over the analysed voxels (0 elsewhere). The plug-in's F
// divides by column counts; with ranks below them the test's degrees of freedom
// are the ranks', so F is rescaled to them first.
std::vector<float> negLog10PValues(const KeptMap& fMap, const Designs& designs,
                                   const std::vector<unsigned char>& analysed, std::vector<double>& tested) {
    const DesignPairCheck& c = designs.check;
    const double n = c.model1.volumes;
    const double columnRatio = (c.model2.predictors - c.model1.predictors) / static_cast<double>(c.numeratorDf) *
                               (c.denominatorDf / (n - c.model2.predictors));
    std::vector<float> values(fMap.values.size(), 0.0f);
    for (std::size_t l = 0; l < values.size(); ++l) {
        if (!analysed[l]) continue;
        const double p = negLog10FTailProbability(fMap.values[l] * columnRatio, c.numeratorDf, c.denominatorDf);
        values[l] = static_cast<float>(p);
        tested.push_back(p);
    }
    return values;
}

MapImage negLog10PMap(const std::vector<float>& values, const RunLayout& layout, const FdrCut& cut) {
    MapImage map(MapExtents{layout.dimX, layout.dimY, layout.dimZ});
    MapHeader header = map.header();
    header.MapType = kMapTypePlain;
    header.LowerThreshold = static_cast<float>(cut.negLog10PThreshold.value_or(-std::log10(0.05)));
    float largest = 0.0f;
    for (const float v : values) largest = std::max(largest, v);
    header.UpperThreshold = std::max(largest, header.LowerThreshold);
    header.DF1 = 0;
    header.DF2 = 0;
    map.takeParameters(header);
    const std::size_t sliceSize = static_cast<std::size_t>(layout.dimX) * static_cast<std::size_t>(layout.dimY);
    for (int32_t z = 0; z < layout.dimZ; ++z) {
        std::copy(values.begin() + static_cast<std::ptrdiff_t>(z * sliceSize),
                  values.begin() + static_cast<std::ptrdiff_t>((z + 1) * sliceSize), map.slices()[z]);
    }
    return map;
}

// Writes the -log10(p) map beside the F map, as NIfTI (intent log10 p-value)
// for a NIfTI run and as a .map otherwise; returns the file written.
std::string writeNegLog10PMap(const MapImage& map, const FmrDocument& run, const fs::path& fMapPath,
                              const NiftiOutputOptions& options) {
    const fs::path stem = fMapPath.parent_path() / (fMapPath.stem().string() + "_neglog10p");
    if (openedFromNifti(run)) {
        NiftiImagePtr image = mapAsNiftiImage(map, run);
        image->intent_code = NIFTI_INTENT_LOG10PVAL;
        const std::string path = stem.string() + ".nii.gz";
        writeNiftiMapImage(*image, run, path, options);
        return path;
    }
    const std::string path = stem.string() + ".map";
    writeFileAtomically(
        path, [&map](std::ostream& out) { map.writeTo(out); }, options.durability);
    return path;
}

double shareOf(int64_t part, int64_t whole) { return whole == 0 ? 0.0 : static_cast<double>(part) / whole; }

// The maps' quartiles, the shares and the F test's significance.
void measure(const PluginOutputs& outputs, const Designs& designs, const VoxelChoice& choice, const fs::path& staging,
             const FmrDocument& run, const CompareRequest& request, ComparisonSummary& summary,
             std::vector<std::string>& files) {
    const std::string& stem1 = designs.model[0].stem;
    const std::string& stem2 = designs.model[1].stem;
    std::map<std::string, const KeptMap*> byKey;
    for (const MapOutput& output : kMapOutputs) {
        const std::string stem = mapStem(output, stem1, stem2);
        const KeptMap* saved = findMap(outputs, staging / (stem + ".map"));
        if (saved == nullptr) continue;
        byKey[output.key] = saved;
        MapQuartiles q = quartilesOf(analysedValues(saved->values, choice.analysed));
        q.file = stem + (openedFromNifti(run) ? ".nii.gz" : ".map");
        summary.maps[output.key] = q;
    }
    for (const char* key : {"tsnr1", "tsnr2", "delta_tsnr", "r2adj1", "r2adj2", "delta_r2adj"}) {
        if (byKey.count(key) == 0) throw std::runtime_error(std::string("the plug-in saved no ") + key + " map");
    }
    int64_t raised = 0;
    const std::vector<float>& t1 = byKey["tsnr1"]->values;
    const std::vector<float>& t2 = byKey["tsnr2"]->values;
    for (std::size_t l = 0; l < choice.analysed.size(); ++l) raised += choice.analysed[l] && t2[l] > t1[l];
    summary.shareTsnrRaised = shareOf(raised, choice.count);
    summary.medianDeltaTsnr = summary.maps["delta_tsnr"].median;
    summary.medianDeltaR2adj = summary.maps["delta_r2adj"].median;
    if (!designs.fTest) return;
    if (byKey.count("f") == 0) throw std::runtime_error("the plug-in saved no F map for nested models");
    std::vector<double> tested;
    const std::vector<float> p = negLog10PValues(*byKey["f"], designs, choice.analysed, tested);
    const FdrCut cut = benjaminiHochberg(tested, request.fdrQ);
    summary.fdrNegLog10PThreshold = cut.negLog10PThreshold;
    summary.fdrSurviving = cut.surviving;
    summary.shareFSurvivesFdr = shareOf(cut.surviving, choice.count);
    const std::string written =
        writeNegLog10PMap(negLog10PMap(p, run.layout(), cut), run,
                          staging / (mapStem(kMapOutputs[6], stem1, stem2) + ".map"), niftiOptions(request));
    files.push_back(written);
    MapQuartiles q = quartilesOf(tested);
    q.file = fs::path(written).filename().string();
    summary.maps["neglog10p"] = q;
}

void writeDesigns(const Designs& designs, const fs::path& staging, Durability durability,
                  std::vector<std::string>& files) {
    for (const Model& model : designs.model) {
        const std::string sdm = (staging / (model.stem + ".sdm")).string();
        writeSdmFile(sdm, model.built.table, durability);
        writeDesignRecord(designRecordPath(sdm), model.built, designs.inputs, durability);
        files.push_back(sdm);
        files.push_back(designRecordPath(sdm));
    }
}

// Runs the plug-in on the document, then measures what it saved while the
// host still holds the document (its geometry names the NIfTI outputs').
void runPluginAndMeasure(const CompareRequest& request, const Designs& designs, const VoxelChoice& choice,
                         const fs::path& staging, FmrDocument document, std::ostream& progress,
                         ComparisonSummary& summary, std::vector<std::string>& files, Clock::time_point& measured) {
    HostWarnings warnings(std::cerr);
    const PluginLibrary plugin(request.plugin.empty() ? defaultPluginPath().string() : request.plugin);
    const DialogDeclarations dialog = readDialogScript(plugin, warnings);
    const bool nifti = openedFromNifti(document);
    Trace trace;
    HostServices services(HostSimulation{}, std::move(document),
                          comparisonParameters(dialog, designs, staging, choice.threshold, request.cleanedRuns), {},
                          HostChannels{progress, std::cerr, trace});
    PluginOutputs outputs;
    services.setSaveHooks(recordingHooks(outputs, nifti, niftiOptions(request)));
    const ServiceAttachment attachment(services);
    {
        PluginSession session(plugin, services);
        if (!session.initialised() || !session.execute("start")) {
            throw std::runtime_error("the plug-in " + inQuotes(plugin.path()) + " failed");
        }
    }
    if (services.messageBoxShown()) throw std::runtime_error("the plug-in reported an error (above); nothing is kept");
    if (warnings.count() > 0) {
        throw std::runtime_error(
            "the host could not carry out all of the plug-in's requests (warnings above); "
            "nothing is kept");
    }
    measured = Clock::now();
    files.insert(files.end(), outputs.files.begin(), outputs.files.end());
    measure(outputs, designs, choice, staging, *services.document(), request, summary, files);
}

// The files a comparison reads, which no output may replace.
std::vector<std::string> inputsOf(const CompareRequest& request, const FmrDocument& run) {
    std::vector<std::string> inputs = runFiles(request.run, run);
    inputs.push_back(request.confounds);
    inputs.push_back(sidecarPathOfTable(request.confounds));
    if (request.events) inputs.push_back(*request.events);
    if (request.mask) inputs.push_back(*request.mask);
    return inputs;
}

// Moves the staged files into the output folder, every target (and the
// summary's) checked first; the names of all of them, the summary's last.
std::vector<std::string> moveIntoPlace(const std::vector<std::string>& staged, const fs::path& outDir,
                                       const std::vector<std::string>& inputs) {
    std::vector<std::string> names;
    for (const std::string& file : staged) names.push_back(fs::path(file).filename().string());
    names.push_back(kSummaryFileName);
    for (const std::string& name : names) {
        const fs::path target = outDir / name;
        if (const std::optional<std::string> input = inputSameAs(target.string(), inputs)) {
            throw SaveError("the output " + inQuotes(target.string()) + " would replace the input " + inQuotes(*input) +
                            "; choose another output folder");
        }
    }
    for (const std::string& file : staged) {
        std::error_code error;
        fs::rename(file, outDir / fs::path(file).filename(), error);
        if (error) {
            throw SaveError("cannot move " + inQuotes(file) + " into " + inQuotes(outDir.string()) + ": " +
                            error.message());
        }
    }
    return names;
}

ModelFacts modelFacts(const Model& model, const DesignCheck& check) {
    ModelFacts facts;
    facts.strategy = model.strategy;
    facts.design = model.stem + ".sdm";
    facts.predictors = check.predictors;
    facts.rank = check.rank;
    facts.conditionNumber = check.conditionNumber;
    facts.residualDf = check.residualDf;
    facts.columns = model.built.table.names;
    return facts;
}

void describeInputs(const CompareRequest& request, const Designs& designs, const RunLayout& layout,
                    ComparisonSummary& summary) {
    summary.run = request.run;
    summary.confounds = request.confounds;
    summary.events = request.events;
    summary.mask = request.mask;
    summary.model1 = modelFacts(designs.model[0], designs.check.model1);
    summary.model2 = modelFacts(designs.model[1], designs.check.model2);
    summary.volumes = layout.nrOfVolumes;
    summary.voxelsTotal = layout.voxels();
    summary.nested = designs.check.nested;
    if (designs.fTest) summary.fDf = {designs.check.numeratorDf, designs.check.denominatorDf};
    summary.fdrQ = request.fdrQ;
    summary.warnings = designs.warnings;
}

} // namespace

namespace {

struct CleanedRunsChoice {
    const char* text;
    CleanedRuns choice;
};
constexpr CleanedRunsChoice kCleanedRunsTable[] = {
    {"none", {false, false}}, {"model1", {true, false}}, {"model2", {false, true}}, {"both", {true, true}}};

} // namespace

std::optional<CleanedRuns> parseCleanedRuns(const std::string& text) {
    for (const CleanedRunsChoice& entry : kCleanedRunsTable) {
        if (text == entry.text) return entry.choice;
    }
    return std::nullopt;
}

std::string cleanedRunsChoices() {
    std::string texts;
    for (const CleanedRunsChoice& entry : kCleanedRunsTable)
        texts += (texts.empty() ? "" : "|") + std::string(entry.text);
    return texts;
}

std::string cleanedRunsText(const CleanedRuns& choice) {
    for (const CleanedRunsChoice& entry : kCleanedRunsTable) {
        if (choice == entry.choice) return entry.text;
    }
    return "both";
}

CompareResult compareRun(const CompareRequest& request, std::ostream& progress) {
    const Clock::time_point start = Clock::now();
    if (!(request.fdrQ > 0.0 && request.fdrQ < 1.0))
        throw DocumentError("the false discovery rate q must lie between 0 and 1");
    progress << "Reading " << request.run << "\n" << std::flush;
    FmrDocument run = openRunDocument(request.run, request.threads);
    if (run.layout().dataType != kDataTypeFloat32) {
        throw DocumentError(inQuotes(request.run) + " holds 16-bit values; compare needs a float32 run");
    }
    const std::vector<std::string> inputs = inputsOf(request, run);
    const Designs designs = buildDesigns(request, run, progress);
    CompareResult result;
    ComparisonSummary& summary = result.summary;
    describeInputs(request, designs, run.layout(), summary);
    for (const std::string& warning : summary.warnings) progress << "Warning: " << warning << "\n";
    summary.designSeconds = secondsSince(start);

    const fs::path outDir(request.outDir);
    std::error_code error;
    fs::create_directories(outDir, error);
    if (error || !fs::is_directory(outDir)) {
        throw SaveError("cannot make the output folder " + inQuotes(request.outDir) +
                        (error ? ": " + error.message() : ": a file of that name is in the way"));
    }
    const StagingFolder staging(outDir);
    std::vector<std::string> files;
    writeDesigns(designs, staging.path(), request.durability, files);

    VoxelChoice choice = chooseVoxels(request, run, progress);
    summary.selectionMethod = choice.method;
    if (choice.method == "threshold") summary.threshold = choice.threshold;
    summary.voxelsAnalysed = choice.count;
    summary.warnings.insert(summary.warnings.end(), choice.warnings.begin(), choice.warnings.end());
    for (const std::string& warning : choice.warnings) progress << "Warning: " << warning << "\n";

    // The document is named inside the working folder, so the cleaned runs are made there.
    const std::string runName = runStem(request.run);
    FmrText text = run.text();
    FmrDocument document = FmrDocument::fromParts((staging.path() / (runName + ".fmr")).string(), std::move(text),
                                                  std::move(run.timeCourses()));
    progress << "Comparing " << designs.model[1].strategy << " against " << designs.model[0].strategy << "\n"
             << std::flush;
    const Clock::time_point compared = Clock::now();
    Clock::time_point measured = compared;
    runPluginAndMeasure(request, designs, choice, staging.path(), std::move(document), progress, summary, files,
                        measured);
    summary.compareSeconds = std::chrono::duration<double>(measured - compared).count();
    if (summary.fDf) {
        progress << "FDR (q = " << request.fdrQ << "): "
                 << (summary.fdrSurviving == 0
                         ? std::string("no voxel survives")
                         : std::to_string(summary.fdrSurviving) +
                               " voxels survive, -log10(p) >= " + numberText(*summary.fdrNegLog10PThreshold))
                 << "\n";
    }
    summary.outputs = moveIntoPlace(files, outDir, inputs);
    summary.totalSeconds = secondsSince(start);
    summary.writeSeconds = summary.totalSeconds - summary.designSeconds - summary.compareSeconds;
    result.summaryPath = (outDir / kSummaryFileName).string();
    const std::string json = summaryJsonText(summary);
    writeFileAtomically(result.summaryPath, json.data(), json.size(), request.durability);
    progress << "Wrote " << summary.outputs.size() << " files into " << request.outDir << "\n" << std::flush;
    return result;
}

} // namespace corvantis
