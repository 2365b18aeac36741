#include "host/research/RunComparison.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "host/core/AnalysedVoxels.h"
#include "host/core/ExecutablePath.h"
#include "host/core/HostServices.h"
#include "host/core/HostWarnings.h"
#include "host/core/NiftiOutputs.h"
#include "host/core/PluginSession.h"
#include "host/core/RunDocument.h"
#include "host/core/ServiceExports.h"
#include "host/core/WorkFolder.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/FileIdentity.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiRun.h"
#include "host/formats/RunFiles.h"
#include "host/formats/SafeInput.h"
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

// The hidden folder in the output folder where everything is made (WorkFolder.h).
constexpr char kStagingPrefix[] = ".compare-";

const char kNegLog10PSuffix[] = "_neglog10p";
const MapOutput& fMapOutput() { return kMapOutputs[6]; }

// The short names the plug-in works under inside the staging folder, so that
// neither the run's name nor the output folder's length can make a path too
// long for what the plug-in is handed (the run's header holds 303 bytes, its
// texts 511); each file is renamed into place under its real name.
const char kStagedRun[] = "run";
const char* const kStagedModels[2] = {"model1", "model2"};
const char kStagedSummary[] = "summary.json";
const char kCleanedRunInfix[] = "_min_confounds_of_"; // how the plug-in names a cleaned run

struct Model {
    std::string strategy;
    std::string stem;   // the design's file name without ".sdm"
    std::string staged; // its short stem in the staging folder
    BuiltDesign built;
};

struct Designs {
    DesignInputs inputs;
    Model model[2];
    DesignPairCheck check;
    // Nested: the plug-in makes its F map then (model 2 has more columns).
    bool fTest = false;
    std::vector<std::string> warnings; // the designs', the checks', then this comparison's
};

// RUN in the outputs' names.
std::string outputRunName(const CompareRequest& request) {
    return request.name.empty() ? runStem(request.run) : request.name;
}

std::string modelStem(const std::string& runName, const std::string& strategy) {
    return runName + "_" + strategyLabel(strategy);
}

DesignInputs designInputs(const CompareRequest& request, const FmrDocument& run) {
    DesignInputs inputs;
    inputs.tables.push_back(readConfoundTable(request.confounds));
    inputs.sidecar = findPipelineSidecar(request.confounds);
    if (request.events) inputs.events = readEventsTable(*request.events);
    const RepetitionTime tr = chosenRepetitionTime(runRepetitionTime(run, request.run), request.tr);
    if (inputs.events && !tr.seconds) {
        throw DocumentError("the events of " + inQuotes(*request.events) + " need the run's repetition time (TR): " +
                            tr.source + "; give --tr SECONDS");
    }
    inputs.tr = tr.seconds;
    inputs.volumes = run.layout().nrOfVolumes;
    inputs.standardize = request.standardize;
    return inputs;
}

std::string quotedNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k) text += (k == 0 ? "" : ", ") + inQuotes(names[k]);
    return text;
}

// Drops the named columns from the design and their records, keeping the
// first confound predictor on the same column.
void dropColumns(BuiltDesign& built, const std::vector<std::string>& names) {
    for (std::size_t j = built.table.names.size(); j-- > 0;) {
        if (std::find(names.begin(), names.end(), built.table.names[j]) == names.end()) continue;
        if (static_cast<int32_t>(j) < built.table.firstConfoundPredictor - 1) --built.table.firstConfoundPredictor;
        built.table.names.erase(built.table.names.begin() + static_cast<std::ptrdiff_t>(j));
        built.table.columns.erase(built.table.columns.begin() + static_cast<std::ptrdiff_t>(j));
        built.columns.erase(built.columns.begin() + static_cast<std::ptrdiff_t>(j));
    }
    built.leftOut.insert(built.leftOut.end(), names.begin(), names.end());
}

// The plug-in fits in single precision with the columns it is given: near
// copies would split the fit between them at random, and its F counts columns,
// not the directions they span, so a rank-deficient design gives F values
// (even negative ones) no F distribution describes. The columns that are
// combinations of the columns before them are left out first; what is fitted
// is then full rank and spans what the design did, and the F test's degrees of
// freedom are those of the designs fitted. A full-rank design is left as built.
void leaveOutDependentColumns(BuiltDesign& built, const std::string& label) {
    DesignCheck check = checkDesign(built.table, label);
    const int32_t rank = check.rank;
    const int32_t predictors = check.predictors;
    while (!check.dependentColumns.empty()) {
        dropColumns(built, check.dependentColumns);
        check = checkDesign(built.table, label);
    }
    if (check.rank < check.predictors) {
        throw DesignRefusal(label + " is rank deficient (rank " + std::to_string(check.rank) + " of " +
                            std::to_string(check.predictors) +
                            " columns), but no column is a combination of the columns before it alone; "
                            "leave out columns that repeat others");
    }
    if (built.leftOut.empty()) return;
    const bool one = built.leftOut.size() == 1;
    built.warnings.push_back(label + " is rank deficient (rank " + std::to_string(rank) + " of " +
                             std::to_string(predictors) + " columns): " + quotedNames(built.leftOut) +
                             (one ? " is a linear combination" : " are linear combinations") +
                             " of the columns before " + (one ? "it" : "them") + " and " + (one ? "is" : "are") +
                             " left out, so the model is fitted with " +
                             std::to_string(built.table.columns.size()) + " columns");
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
    const std::string stem = outputRunName(request);
    const std::string strategies[2] = {request.model1, request.model2};
    for (int i = 0; i < 2; ++i) {
        designs.model[i].strategy = strategies[i];
        designs.model[i].stem = modelStem(stem, strategies[i]);
        designs.model[i].staged = kStagedModels[i];
        designs.model[i].built = buildModel(designs.inputs, strategies[i], i + 1);
        leaveOutDependentColumns(designs.model[i].built, "model " + std::to_string(i + 1));
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
    // Both full rank, and model 2 spans more when nested: it has more columns too.
    designs.fTest = designs.check.nested;
    for (int i = 0; i < 2; ++i) {
        const DesignCheck& c = i == 0 ? designs.check.model1 : designs.check.model2;
        progress << "Model " << i + 1 << " (" << strategies[i] << "): " << c.predictors << " predictors, rank "
                 << c.rank << ", " << c.residualDf << " residual df, condition number " << c.conditionNumber << "\n";
    }
    progress << (designs.fTest
                     ? "The models are nested: F(" + std::to_string(designs.check.numeratorDf) + ", " +
                           std::to_string(designs.check.denominatorDf) + ")"
                     : std::string("The models are not nested: no F test"))
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

fs::path stagedDesign(const fs::path& staging, const Model& model) { return staging / (model.staged + ".sdm"); }

// The plug-in reads a design's path from a text of at most this many bytes.
constexpr std::size_t kMaxPluginTextLength = kHostTextBufferSize - 1;

Parameters comparisonParameters(const DialogDeclarations& dialog, const Designs& designs, const fs::path& staging,
                                float threshold, const CleanedRuns& cleaned) {
    Parameters parameters;
    for (const ParameterDefault& entry : dialog.parameters) parameters.set(entry.first, entry.second);
    for (const MapOutput& map : kMapOutputs) parameters.set(map.switchName, "1");
    if (!designs.fTest) parameters.set(kFMapSwitch, "0");
    const bool wanted[2] = {cleaned.model1, cleaned.model2};
    for (int i = 0; i < 2; ++i) parameters.set(kResidualSwitches[i], wanted[i] ? "1" : "0");
    for (int i = 0; i < 2; ++i) {
        const std::string sdm = stagedDesign(staging, designs.model[i]).string();
        if (sdm.size() > kMaxPluginTextLength) {
            throw SaveError("the output folder's path is too long for the plug-in: the design " + inQuotes(sdm) +
                            " has " + std::to_string(sdm.size()) + " bytes, the plug-in reads at most " +
                            std::to_string(kMaxPluginTextLength) + "; choose an output folder with a shorter path");
        }
        parameters.set(i == 0 ? "sdmfile1" : "sdmfile2", sdm);
    }
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

// The F test's -log10(p) over the analysed voxels (0 elsewhere). The designs
// fitted are full rank (leaveOutDependentColumns), so the plug-in's F, which
// divides by column counts, has the test's degrees of freedom.
std::vector<float> negLog10PValues(const KeptMap& fMap, const Designs& designs,
                                   const std::vector<unsigned char>& analysed, std::vector<double>& tested) {
    const DesignPairCheck& c = designs.check;
    if (c.model1.rank != c.model1.predictors || c.model2.rank != c.model2.predictors ||
        c.numeratorDf != c.model2.predictors - c.model1.predictors) {
        throw std::logic_error("the F test's designs are not full rank");
    }
    std::vector<float> values(fMap.values.size(), 0.0f);
    for (std::size_t l = 0; l < values.size(); ++l) {
        if (!analysed[l]) continue;
        // Between nested models F is at least 0; below it only by rounding, where
        // model 2 explains nothing more: such an F gives p = 1 (-log10 p = 0 from
        // negLog10FTailProbability), never a p from a negative F.
        const double p = negLog10FTailProbability(fMap.values[l], c.numeratorDf, c.denominatorDf);
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
    const fs::path stem = fMapPath.parent_path() / (fMapPath.stem().string() + kNegLog10PSuffix);
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
    const std::string& staged1 = designs.model[0].staged;
    const std::string& staged2 = designs.model[1].staged;
    std::map<std::string, const KeptMap*> byKey;
    for (const MapOutput& output : kMapOutputs) {
        const KeptMap* saved = findMap(outputs, staging / (mapStem(output, staged1, staged2) + ".map"));
        if (saved == nullptr) continue;
        byKey[output.key] = saved;
        MapQuartiles q = quartilesOf(analysedValues(saved->values, choice.analysed));
        q.file = mapStem(output, stem1, stem2) + (openedFromNifti(run) ? ".nii.gz" : ".map");
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
                          staging / (mapStem(fMapOutput(), staged1, staged2) + ".map"), niftiOptions(request));
    files.push_back(written);
    MapQuartiles q = quartilesOf(tested);
    q.file = mapStem(fMapOutput(), stem1, stem2) + kNegLog10PSuffix + (openedFromNifti(run) ? ".nii.gz" : ".map");
    summary.maps["neglog10p"] = q;
}

void writeDesigns(const Designs& designs, const fs::path& staging, Durability durability,
                  std::vector<std::string>& files) {
    for (const Model& model : designs.model) {
        const std::string sdm = stagedDesign(staging, model).string();
        writeSdmFile(sdm, model.built.table, durability);
        writeDesignRecord(designRecordPath(sdm), model.built, designs.inputs, durability);
        files.push_back(sdm);
        files.push_back(designRecordPath(sdm));
    }
}

// The texts one after another, each without its line ends.
std::string joinedTexts(const std::vector<std::string>& texts) {
    std::string joined;
    for (std::string text : texts) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        joined += (joined.empty() ? "" : "; ") + text;
    }
    return joined.empty() ? "(no text)" : joined;
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
    if (services.messageBoxShown()) {
        throw std::runtime_error("the plug-in reported an error: " + joinedTexts(services.messageBoxTexts()) +
                                 "; nothing is kept");
    }
    if (warnings.count() > 0) {
        throw std::runtime_error("the host could not carry out all of the plug-in's requests: " +
                                 joinedTexts(warnings.messages()) + "; nothing is kept");
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
    inputs.push_back(runSidecarPath(request.run)); // where the TR may come from
    if (request.events) inputs.push_back(*request.events);
    if (request.mask) inputs.push_back(*request.mask);
    return inputs;
}

// Each short stem of the staging folder and the real one it stands for, for
// every file a comparison may write.
using StemRenames = std::vector<std::pair<std::string, std::string>>;

StemRenames stemRenames(const std::string& runName, const std::string& stem1, const std::string& stem2) {
    const std::string& staged1 = kStagedModels[0];
    const std::string& staged2 = kStagedModels[1];
    StemRenames stems;
    for (const auto& [staged, stem] : {std::pair(staged1, stem1), std::pair(staged2, stem2)}) {
        stems.emplace_back(staged, stem);
        stems.emplace_back(kStagedRun + (kCleanedRunInfix + staged), runName + kCleanedRunInfix + stem);
    }
    for (const MapOutput& map : kMapOutputs) {
        stems.emplace_back(mapStem(map, staged1, staged2), mapStem(map, stem1, stem2));
    }
    stems.emplace_back(mapStem(fMapOutput(), staged1, staged2) + kNegLog10PSuffix,
                       mapStem(fMapOutput(), stem1, stem2) + kNegLog10PSuffix);
    return stems;
}

// Every real name, each stem with the longest extension, and the summary's.
std::vector<std::string> longestNames(const StemRenames& stems, const std::string& summaryName) {
    std::vector<std::string> names{summaryName};
    for (const auto& renamed : stems) names.push_back(renamed.second + ".nii.gz");
    return names;
}

// The real name of a staged file: its stem replaced, its extension kept.
std::string realName(const std::string& staged, const StemRenames& stems) {
    for (const auto& [shortStem, stem] : stems) {
        if (staged.size() > shortStem.size() && staged.compare(0, shortStem.size(), shortStem) == 0 &&
            staged[shortStem.size()] == '.') {
            return stem + staged.substr(shortStem.size());
        }
    }
    throw std::runtime_error("the comparison made the unexpected file " + inQuotes(staged));
}

std::size_t nameLimit(const fs::path& folder) {
#ifndef _WIN32
    const long limit = pathconf(folder.string().c_str(), _PC_NAME_MAX);
    if (limit > 0) return static_cast<std::size_t>(limit);
#else
    (void)folder;
#endif
    return 255;
}

// Refused before anything runs: a real name the output folder cannot hold.
void checkNameLengths(const StemRenames& stems, const std::string& summaryName, const fs::path& outDir) {
    const std::size_t limit = nameLimit(outDir);
    for (const std::string& name : longestNames(stems, summaryName)) {
        if (name.size() > limit) {
            throw SaveError("the output " + inQuotes(name) + " would have " + std::to_string(name.size()) +
                            " bytes in its name, more than the " + std::to_string(limit) + " that " +
                            inQuotes(outDir.string()) + " takes; give the run a shorter file name");
        }
    }
}

// A file in the staging folder and its name in the output folder.
struct StagedFile {
    fs::path path;
    std::string name;
};

// The staged files under their real names; a cleaned .fmr run is rewritten to
// name its time courses' real file.
std::vector<StagedFile> namedOutputs(const std::vector<std::string>& files, const StemRenames& stems) {
    std::vector<StagedFile> named;
    for (const std::string& file : files) {
        const fs::path path(file);
        named.push_back(StagedFile{path, realName(path.filename().string(), stems)});
        if (path.extension() != ".fmr") continue;
        FmrText text = FmrText::parse(readTextFile(file), file);
        if (const std::string* stc = text.find("STCFile")) text.set("STCFile", realName(*stc, stems));
        const std::string formatted = text.format();
        writeFileAtomically(path, formatted.data(), formatted.size());
    }
    return named;
}

// No output may replace an input: every target is checked before any moves.
void checkInputsKept(const std::vector<StagedFile>& staged, const fs::path& outDir,
                     const std::vector<std::string>& inputs) {
    for (const StagedFile& file : staged) {
        const fs::path target = outDir / file.name;
        if (const std::optional<std::string> input = inputSameAs(target.string(), inputs)) {
            throw SaveError("the output " + inQuotes(target.string()) + " would replace the input " + inQuotes(*input) +
                            "; choose another output folder");
        }
    }
}

// Renames staged files into the output folder; a file already at a target is
// first set aside in the staging folder. Unless committed, every rename is
// undone when it ends, so that a failure leaves the output folder as it was.
class Placement {
public:
    explicit Placement(fs::path aside) : aside_(std::move(aside)) {}
    ~Placement() {
        if (!committed_) undo();
    }
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    void place(const fs::path& from, const fs::path& to) {
        Move move{from, to, {}};
        std::error_code error;
        const fs::file_status there = fs::symlink_status(to, error);
        if (fs::is_directory(there)) {
            throw SaveError("cannot write " + inQuotes(to.string()) + ": a folder of that name is in the way");
        }
        if (fs::exists(there)) {
            move.aside = aside_ / (".replaced-" + std::to_string(moves_.size()));
            fs::rename(to, move.aside, error);
            if (error) throw SaveError("cannot replace " + inQuotes(to.string()) + ": " + error.message());
        }
        fs::rename(from, to, error);
        if (error) {
            std::error_code ignored;
            if (!move.aside.empty()) fs::rename(move.aside, to, ignored);
            throw SaveError("cannot move " + inQuotes(from.string()) + " to " + inQuotes(to.string()) + ": " +
                            error.message());
        }
        moves_.push_back(std::move(move));
    }
    void commit() { committed_ = true; }

private:
    struct Move {
        fs::path from, to, aside;
    };
    void undo() noexcept {
        for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
            std::error_code ignored;
            fs::rename(move->to, move->from, ignored);
            if (!move->aside.empty()) fs::rename(move->aside, move->to, ignored);
        }
    }

    fs::path aside_;
    std::vector<Move> moves_;
    bool committed_ = false;
};

void placeAll(const std::vector<StagedFile>& staged, const fs::path& outDir, const fs::path& staging) {
    Placement placement(staging);
    for (const StagedFile& file : staged) placement.place(file.path, outDir / file.name);
    placement.commit();
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
    facts.columnsLeftOut = model.built.leftOut;
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

bool comparisonNamesFit(const std::string& runName, const std::string& model1, const std::string& model2,
                        std::size_t limit) {
    const StemRenames stems = stemRenames(runName, modelStem(runName, model1), modelStem(runName, model2));
    for (const std::string& name : longestNames(stems, summaryFileName(runName, model1, model2))) {
        if (name.size() > limit) return false;
    }
    return true;
}

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
        // Only an .fmr run keeps 16-bit values: a NIfTI run of any type is read as float32.
        throw DocumentError(inQuotes(request.run) +
                            " is an .fmr run of int16 values (DataType 1); compare takes .fmr runs of float32 "
                            "values (DataType 2) and NIfTI runs of any real type");
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
    const std::string name = outputRunName(request);
    const StemRenames stems = stemRenames(name, designs.model[0].stem, designs.model[1].stem);
    const std::string summaryName = summaryFileName(name, request.model1, request.model2);
    checkNameLengths(stems, summaryName, outDir);
    // What a killed comparison left here goes first: each holds a run's worth of files.
    removeStaleWorkFolders(outDir, kStagingPrefix);
    const WorkFolder staging(outDir, kStagingPrefix);
    std::vector<std::string> files;
    writeDesigns(designs, staging.path(), request.durability, files);

    VoxelChoice choice = chooseVoxels(request, run, progress);
    summary.selectionMethod = choice.method;
    if (choice.method == "threshold") summary.threshold = choice.threshold;
    summary.voxelsAnalysed = choice.count;
    summary.warnings.insert(summary.warnings.end(), choice.warnings.begin(), choice.warnings.end());
    for (const std::string& warning : choice.warnings) progress << "Warning: " << warning << "\n";

    // The document carries a short name inside the staging folder, so the cleaned runs are made there.
    FmrText text = run.text();
    FmrDocument document = FmrDocument::inFolder(staging.path().string(), std::string(kStagedRun) + ".fmr",
                                                 std::move(text), std::move(run.timeCourses()));
    progress << "Comparing " << designs.model[1].strategy << " (" << designs.model[1].staged << ".sdm) against "
             << designs.model[0].strategy << " (" << designs.model[0].staged << ".sdm)\n"
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
    // Everything, the summary last, is written in the staging folder before the first file moves into place.
    std::vector<StagedFile> staged = namedOutputs(files, stems);
    staged.push_back(StagedFile{staging.path() / kStagedSummary, summaryName});
    checkInputsKept(staged, outDir, inputs);
    for (const StagedFile& file : staged) summary.outputs.push_back(file.name);
    summary.totalSeconds = secondsSince(start);
    summary.writeSeconds = summary.totalSeconds - summary.designSeconds - summary.compareSeconds;
    const std::string json = summaryJsonText(summary);
    writeFileAtomically(staged.back().path, json.data(), json.size(), request.durability);
    placeAll(staged, outDir, staging.path());
    result.summaryPath = (outDir / summaryName).string();
    progress << "Wrote " << summary.outputs.size() << " files into " << request.outDir << "\n" << std::flush;
    return result;
}

} // namespace corvantis
