// Confound strategies in the vocabulary researchers cite: components of a
// preprocessing pipeline's confounds table (motion, wm_csf, global_signal,
// compcor, high_pass, scrub, non_steady_state), presets by their usual names
// (6P, 9P, 24P, 36P, simple, scrubbing, compcor) and custom columns by name or
// glob pattern. One text grammar serves every command that takes a strategy:
//
//   STRATEGY := ITEM[,ITEM...]
//   ITEM     := PRESET | COMPONENT | COMPONENT=OPTION[:OPTION...] | COLUMN-OR-PATTERN
//
// The presets are rows of one table, which both the parser and the help read.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvantis {

// A mistake in a strategy text; the message lists the valid names.
class StrategyError : public std::invalid_argument {
public:
    explicit StrategyError(const std::string& message) : std::invalid_argument(message) {}
};

// How much of a signal's expansion: the base columns, with their first
// differences, with their squares, or all four (base, difference, square, square of the difference).
enum class ExpansionLevel { Basic, Derivatives, Power2, Full };

enum class CompCorKind {
    AnatomicalCombined, // a_comp_cor_NN whose sidecar mask is "combined"
    AnatomicalSeparate, // a_comp_cor_NN of the "WM" and the "CSF" masks, each chosen alike
    Temporal,           // t_comp_cor_NN
};

struct CompCorChoice {
    CompCorKind kind = CompCorKind::AnatomicalCombined;
    // Exactly one of these: a count of components per mask (from the first),
    // or the smallest leading set whose cumulative variance explained reaches the fraction.
    std::optional<int32_t> components;
    std::optional<double> varianceFraction; // in (0, 1]
};

// Spike regressors: one column per censored volume.
struct ScrubChoice {
    // The table's motion_outlierNN columns instead of thresholds.
    bool tableOutliers = false;
    std::optional<double> framewiseDisplacement; // mm; volumes above it are censored
    std::optional<double> standardizedDvars;     // likewise for std_dvars
    // Runs of kept volumes shorter than this are censored too (0: none).
    int32_t minimumSegment = 0;
};

struct ConfoundStrategy {
    std::string text; // as given
    std::optional<ExpansionLevel> motion;
    std::optional<ExpansionLevel> wmCsf;
    std::optional<ExpansionLevel> globalSignal;
    std::optional<CompCorChoice> compcor;
    bool highPass = false;
    std::optional<ScrubChoice> scrub;
    bool nonSteadyState = false;
    // Custom columns of the tables, names or glob patterns, in the order given.
    std::vector<std::string> columns;

    // The strategy in components only, presets expanded: the same text for the
    // same columns, e.g. "motion=full,wm_csf=basic,high_pass".
    std::string expanded() const;
    bool empty() const;
};

// Throws StrategyError for an empty text or item, an unknown component or
// option, a component given twice (also through a preset) and values out of range.
ConfoundStrategy parseConfoundStrategy(const std::string& text);

struct StrategyPreset {
    const char* name;
    const char* strategy;    // in the grammar above
    const char* description; // what it is for, one line
};

// The presets, in the order the help lists them.
const std::vector<StrategyPreset>& strategyPresets();

// The component names, in the order their columns enter a design.
const std::vector<std::string>& strategyComponents();

// The pipeline table's columns the components read.
struct PipelineColumns {
    static constexpr const char* kAnatomicalCompCor = "a_comp_cor_";
    static constexpr const char* kTemporalCompCor = "t_comp_cor_";
    static constexpr const char* kCosine = "cosine";
    static constexpr const char* kNonSteadyState = "non_steady_state_outlier";
    static constexpr const char* kMotionOutlier = "motion_outlier";
    static constexpr const char* kFramewiseDisplacement = "framewise_displacement";
    static constexpr const char* kStandardizedDvars = "std_dvars";
};

// The base columns of motion, wm_csf and global_signal (empty for another name).
const std::vector<std::string>& signalColumns(const std::string& component);

// The suffixes of a level's columns, in the order they enter a design:
// "" (the base), "_derivative1", "_power2", "_derivative1_power2".
std::vector<std::string> levelSuffixes(ExpansionLevel level);

// What a strategy puts in a design, one line per component, with the exact
// column names or the rule that picks them.
std::vector<std::string> describeColumns(const ConfoundStrategy& strategy);

// The help's description of the grammar, the components and each preset with
// its exact columns, generated from the tables the parser reads.
std::string strategyHelp();

} // namespace corvantis
