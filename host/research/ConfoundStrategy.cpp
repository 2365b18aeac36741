#include "host/research/ConfoundStrategy.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace corvantis {

namespace {

// The tables below are built on first use: the help pages that read them are
// made while other files' globals are still being initialised.

// The presets researchers cite, as the strategies they stand for.
const std::vector<StrategyPreset>& presetTable() {
    static const std::vector<StrategyPreset> presets = {
        {"6P", "motion=basic", "the six rigid-body motion parameters"},
        {"9P", "motion=basic,wm_csf=basic,global_signal=basic", "6P with the white-matter, CSF and global signals"},
        {"24P", "motion=full", "the motion parameters, their first differences and the squares of both"},
        {"36P", "motion=full,wm_csf=full,global_signal=full", "9P expanded the same way"},
        {"simple", "motion=full,wm_csf=basic,high_pass", "24P with the white-matter and CSF signals and the drifts"},
        {"scrubbing", "motion=full,wm_csf=full,scrub=fd:0.5:dvars:1.5:segment:5,high_pass",
         "24P, wm_csf expanded, censoring of high-motion volumes, the drifts"},
        {"compcor", "motion=full,compcor=anat_combined:0.5,high_pass",
         "24P with the anatomical CompCor components of the combined mask and the drifts"},
    };
    return presets;
}

const std::vector<std::string>& componentTable() {
    static const std::vector<std::string> components = {"motion",    "wm_csf", "global_signal",   "compcor",
                                                        "high_pass", "scrub",  "non_steady_state"};
    return components;
}

struct LevelName {
    ExpansionLevel level;
    const char* name;
};
const LevelName kLevels[] = {{ExpansionLevel::Basic, "basic"},
                             {ExpansionLevel::Derivatives, "derivatives"},
                             {ExpansionLevel::Power2, "power2"},
                             {ExpansionLevel::Full, "full"}};

struct KindName {
    CompCorKind kind;
    const char* name;
};
const KindName kCompCorKinds[] = {{CompCorKind::AnatomicalCombined, "anat_combined"},
                                  {CompCorKind::AnatomicalSeparate, "anat_separated"},
                                  {CompCorKind::Temporal, "temporal"}};

// The components a bare name stands for; compcor alone is the preset.
const char kScrubDefault[] = "fd:0.5:dvars:1.5:segment:5";

std::string joined(const std::vector<std::string>& names, const std::string& separator) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k) text += (k == 0 ? "" : separator) + names[k];
    return text;
}

std::string presetNames() {
    std::vector<std::string> names;
    for (const StrategyPreset& preset : presetTable()) names.push_back(preset.name);
    return joined(names, ", ");
}

std::string valid() {
    return "; the presets are " + presetNames() + "; the components are " + joined(componentTable(), ", ") +
           "; any other item names a table column or a glob pattern of columns";
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The shortest decimal that reads back as the same double, in fixed notation:
// the expanded strategy gives the very thresholds it was parsed from.
std::string numberText(double value) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, result.ptr);
}

// A fraction keeps its decimal point, which tells it from a count.
std::string fractionText(double value) {
    const std::string text = numberText(value);
    return text.find('.') == std::string::npos ? text + ".0" : text;
}

double positiveNumber(const std::string& text, const std::string& what) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value <= 0.0) {
        throw StrategyError(what + " must be a number above 0, not \"" + text + "\"");
    }
    return value;
}

int32_t wholeNumber(const std::string& text, const std::string& what, int32_t least) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < least) {
        throw StrategyError(what + " must be a whole number of at least " + std::to_string(least) + ", not \"" + text +
                            "\"");
    }
    return value;
}

ExpansionLevel levelOf(const std::string& component, const std::string& option) {
    for (const LevelName& level : kLevels) {
        if (option == level.name) return level.level;
    }
    throw StrategyError("the level of " + component + " is basic, derivatives, power2 or full, not \"" + option + "\"");
}

const char* levelName(ExpansionLevel level) {
    for (const LevelName& name : kLevels) {
        if (name.level == level) return name.name;
    }
    return "";
}

const char* kindName(CompCorKind kind) {
    for (const KindName& name : kCompCorKinds) {
        if (name.kind == kind) return name.name;
    }
    return "";
}

CompCorChoice compcorOf(const std::vector<std::string>& options) {
    CompCorChoice choice;
    bool known = false;
    for (const KindName& kind : kCompCorKinds) {
        if (options.front() == kind.name) {
            choice.kind = kind.kind;
            known = true;
        }
    }
    if (!known || options.size() > 2) {
        throw StrategyError(
            "compcor is compcor=KIND[:AMOUNT] with KIND anat_combined, anat_separated or temporal, "
            "not \"compcor=" +
            joined(options, ":") + "\"");
    }
    const std::string amount = options.size() == 2 ? options[1] : "0.5";
    if (amount.find('.') != std::string::npos) {
        const double fraction = positiveNumber(amount, "the compcor fraction of variance explained");
        if (fraction > 1.0) {
            throw StrategyError("the compcor fraction of variance explained is at most 1, not \"" + amount + "\"");
        }
        choice.varianceFraction = fraction;
    } else {
        choice.components = wholeNumber(amount, "the number of compcor components", 1);
    }
    return choice;
}

ScrubChoice scrubOf(const std::vector<std::string>& options) {
    ScrubChoice scrub;
    if (options.size() == 1 && options.front() == "outliers") {
        scrub.tableOutliers = true;
        return scrub;
    }
    if (options.size() % 2 != 0) {
        throw StrategyError(
            "scrub is scrub=outliers or scrub=KEY:VALUE[:KEY:VALUE...] with the keys fd, dvars and "
            "segment, not \"scrub=" +
            joined(options, ":") + "\"");
    }
    for (std::size_t k = 0; k < options.size(); k += 2) {
        const std::string& key = options[k];
        const std::string& value = options[k + 1];
        if (key == "fd" && !scrub.framewiseDisplacement) {
            scrub.framewiseDisplacement = positiveNumber(value, "the scrub threshold fd");
        } else if (key == "dvars" && !scrub.standardizedDvars) {
            scrub.standardizedDvars = positiveNumber(value, "the scrub threshold dvars");
        } else if (key == "segment" && k == options.size() - 2) {
            scrub.minimumSegment = wholeNumber(value, "the scrub minimum segment", 0);
        } else {
            throw StrategyError("scrub takes fd, dvars and segment (last), each once, not \"" + key +
                                "\" in \"scrub=" + joined(options, ":") + "\"");
        }
    }
    if (!scrub.framewiseDisplacement && !scrub.standardizedDvars) {
        throw StrategyError("scrub needs a threshold, fd or dvars, or the table's outliers (scrub=outliers)");
    }
    return scrub;
}

template <typename T>
void setOnce(std::optional<T>& slot, const T& value, const std::string& component) {
    if (slot) throw StrategyError("the strategy gives " + component + " twice");
    slot = value;
}

void setOnce(bool& slot, const std::string& component) {
    if (slot) throw StrategyError("the strategy gives " + component + " twice");
    slot = true;
}

void noOptions(const std::string& component, const std::vector<std::string>& options) {
    if (!options.empty()) {
        throw StrategyError(component + " takes no options, not \"" + component + "=" + joined(options, ":") + "\"");
    }
}

void addComponent(ConfoundStrategy& strategy, const std::string& name, const std::vector<std::string>& options) {
    const auto level = [&] { return options.empty() ? ExpansionLevel::Basic : levelOf(name, options.front()); };
    if ((name == "motion" || name == "wm_csf" || name == "global_signal") && options.size() > 1) {
        throw StrategyError(name + " takes one level, not \"" + name + "=" + joined(options, ":") + "\"");
    }
    if (name == "motion") {
        setOnce(strategy.motion, level(), name);
    } else if (name == "wm_csf") {
        setOnce(strategy.wmCsf, level(), name);
    } else if (name == "global_signal") {
        setOnce(strategy.globalSignal, level(), name);
    } else if (name == "compcor") {
        setOnce(strategy.compcor, compcorOf(options), name);
    } else if (name == "scrub") {
        setOnce(strategy.scrub, scrubOf(options.empty() ? split(kScrubDefault, ':') : options), name);
    } else if (name == "high_pass") {
        noOptions(name, options);
        setOnce(strategy.highPass, name);
    } else if (name == "non_steady_state") {
        noOptions(name, options);
        setOnce(strategy.nonSteadyState, name);
    }
}

bool isComponent(const std::string& name) {
    return std::find(componentTable().begin(), componentTable().end(), name) != componentTable().end();
}

const StrategyPreset* findPreset(const std::string& name) {
    for (const StrategyPreset& preset : presetTable()) {
        if (name == preset.name) return &preset;
    }
    return nullptr;
}

void addItem(ConfoundStrategy& strategy, const std::string& item, bool inPreset) {
    if (item.empty()) {
        throw StrategyError("the strategy \"" + strategy.text + "\" has an empty item" + valid());
    }
    const std::size_t equals = item.find('=');
    const std::string name = item.substr(0, equals);
    if (equals == std::string::npos && !inPreset) {
        if (const StrategyPreset* preset = findPreset(item)) {
            for (const std::string& part : split(preset->strategy, ',')) addItem(strategy, part, true);
            return;
        }
    }
    if (isComponent(name) && !(name == "compcor" && equals == std::string::npos)) {
        std::vector<std::string> options;
        if (equals != std::string::npos) {
            options = split(item.substr(equals + 1), ':');
            if (std::any_of(options.begin(), options.end(), [](const std::string& o) { return o.empty(); })) {
                throw StrategyError("the strategy item \"" + item + "\" has an empty option");
            }
        }
        addComponent(strategy, name, options);
        return;
    }
    if (equals != std::string::npos || item.find(':') != std::string::npos) {
        throw StrategyError("the strategy item \"" + item + "\" is no preset and no component" + valid());
    }
    if (std::find(strategy.columns.begin(), strategy.columns.end(), item) != strategy.columns.end()) {
        throw StrategyError("the strategy gives the column \"" + item + "\" twice");
    }
    strategy.columns.push_back(item);
}

std::string amountText(const CompCorChoice& choice) {
    return choice.components ? std::to_string(*choice.components) : fractionText(*choice.varianceFraction);
}

std::string scrubText(const ScrubChoice& scrub) {
    if (scrub.tableOutliers) return "outliers";
    std::vector<std::string> parts;
    if (scrub.framewiseDisplacement) parts.push_back("fd:" + numberText(*scrub.framewiseDisplacement));
    if (scrub.standardizedDvars) parts.push_back("dvars:" + numberText(*scrub.standardizedDvars));
    parts.push_back("segment:" + std::to_string(scrub.minimumSegment));
    return joined(parts, ":");
}

std::string signalDescription(const std::string& component, ExpansionLevel level) {
    const std::vector<std::string> suffixes = levelSuffixes(level);
    std::string text = joined(signalColumns(component), " ");
    if (suffixes.size() > 1) {
        std::vector<std::string> extra(suffixes.begin() + 1, suffixes.end());
        text += ", each also as NAME" + joined(extra, ", NAME");
    }
    const std::size_t count = signalColumns(component).size() * suffixes.size();
    return text + " (" + std::to_string(count) + " column" + (count == 1 ? "" : "s") + ")";
}

std::string compcorDescription(const CompCorChoice& choice) {
    std::string columns;
    switch (choice.kind) {
    case CompCorKind::AnatomicalCombined: columns = "a_comp_cor_NN of the sidecar's \"combined\" mask"; break;
    case CompCorKind::AnatomicalSeparate: columns = "a_comp_cor_NN of the \"WM\" mask, then of the \"CSF\" mask"; break;
    case CompCorKind::Temporal: columns = "t_comp_cor_NN"; break;
    }
    const std::string each = choice.kind == CompCorKind::AnatomicalSeparate ? " of each mask" : "";
    if (choice.components) return columns + ": the first " + std::to_string(*choice.components) + each;
    return columns + ": the first" + each + " up to " + numberText(*choice.varianceFraction * 100.0) +
           "% cumulative variance explained (the first 5 when the sidecar does not give it)";
}

std::string scrubDescription(const ScrubChoice& scrub) {
    if (scrub.tableOutliers) return "the table's motion_outlierNN columns";
    std::vector<std::string> rules;
    if (scrub.framewiseDisplacement)
        rules.push_back("framewise_displacement > " + numberText(*scrub.framewiseDisplacement) + " mm");
    if (scrub.standardizedDvars) rules.push_back("std_dvars > " + numberText(*scrub.standardizedDvars));
    std::string text =
        "one spike column (scrub_volume_N, N the volume from 1) per volume with " + joined(rules, " or ");
    if (scrub.minimumSegment > 1) {
        text += ", and per volume in a run of fewer than " + std::to_string(scrub.minimumSegment) + " kept volumes";
    }
    return text;
}

// The text in lines of at most 79 characters, each after indent, the first after lead.
std::string wrapped(const std::string& text, const std::string& lead, const std::string& indent) {
    std::string out = lead;
    std::size_t width = lead.size();
    bool lineStart = true;
    for (const std::string& word : split(text, ' ')) {
        if (!lineStart && width + 1 + word.size() > 79) {
            out += "\n" + indent;
            width = indent.size();
            lineStart = true;
        }
        if (!lineStart) {
            out += " ";
            ++width;
        }
        out += word;
        width += word.size();
        lineStart = false;
    }
    return out + "\n";
}

} // namespace

const std::vector<StrategyPreset>& strategyPresets() { return presetTable(); }

const std::vector<std::string>& strategyComponents() { return componentTable(); }

const std::vector<std::string>& signalColumns(const std::string& component) {
    static const std::vector<std::string> motion = {"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z"};
    static const std::vector<std::string> wmCsf = {"white_matter", "csf"};
    static const std::vector<std::string> global = {"global_signal"};
    static const std::vector<std::string> none;
    if (component == "motion") return motion;
    if (component == "wm_csf") return wmCsf;
    if (component == "global_signal") return global;
    return none;
}

std::vector<std::string> levelSuffixes(ExpansionLevel level) {
    switch (level) {
    case ExpansionLevel::Basic: return {""};
    case ExpansionLevel::Derivatives: return {"", "_derivative1"};
    case ExpansionLevel::Power2: return {"", "_power2"};
    case ExpansionLevel::Full: break;
    }
    return {"", "_derivative1", "_power2", "_derivative1_power2"};
}

ConfoundStrategy parseConfoundStrategy(const std::string& text) {
    ConfoundStrategy strategy;
    strategy.text = text;
    if (trimmed(text).empty()) {
        throw StrategyError("the strategy is empty" + valid());
    }
    for (const std::string& item : split(text, ',')) addItem(strategy, trimmed(item), false);
    return strategy;
}

bool ConfoundStrategy::empty() const {
    return !motion && !wmCsf && !globalSignal && !compcor && !highPass && !scrub && !nonSteadyState && columns.empty();
}

std::string ConfoundStrategy::expanded() const {
    std::vector<std::string> items;
    if (motion) items.push_back(std::string("motion=") + levelName(*motion));
    if (wmCsf) items.push_back(std::string("wm_csf=") + levelName(*wmCsf));
    if (globalSignal) items.push_back(std::string("global_signal=") + levelName(*globalSignal));
    if (compcor) items.push_back(std::string("compcor=") + kindName(compcor->kind) + ":" + amountText(*compcor));
    if (highPass) items.push_back("high_pass");
    if (scrub) items.push_back("scrub=" + scrubText(*scrub));
    if (nonSteadyState) items.push_back("non_steady_state");
    items.insert(items.end(), columns.begin(), columns.end());
    return joined(items, ",");
}

std::vector<std::string> describeColumns(const ConfoundStrategy& strategy) {
    std::vector<std::string> lines;
    if (strategy.motion) lines.push_back(signalDescription("motion", *strategy.motion));
    if (strategy.wmCsf) lines.push_back(signalDescription("wm_csf", *strategy.wmCsf));
    if (strategy.globalSignal) lines.push_back(signalDescription("global_signal", *strategy.globalSignal));
    if (strategy.compcor) lines.push_back(compcorDescription(*strategy.compcor));
    if (strategy.highPass) lines.push_back("every cosineNN column (the pipeline's discrete cosine drifts)");
    if (strategy.scrub) lines.push_back(scrubDescription(*strategy.scrub));
    if (strategy.nonSteadyState) lines.push_back("every non_steady_state_outlierNN column");
    for (const std::string& column : strategy.columns) lines.push_back("the column(s) " + column);
    return lines;
}

std::string strategyHelp() {
    std::string text =
        "A strategy is a comma-separated list of presets, components and columns\n"
        "(NN stands for the pipeline's numbering: cosine00, cosine01, ...):\n"
        "  motion=LEVEL         trans_x trans_y trans_z rot_x rot_y rot_z\n"
        "  wm_csf=LEVEL         white_matter csf\n"
        "  global_signal=LEVEL  global_signal\n"
        "      LEVEL: basic (the columns), derivatives (and NAME_derivative1), power2\n"
        "      (and NAME_power2), full (all of them and NAME_derivative1_power2);\n"
        "      a bare motion, wm_csf or global_signal is basic\n"
        "  compcor=KIND[:AMOUNT] KIND anat_combined (a_comp_cor_NN of the sidecar's\n"
        "      \"combined\" mask), anat_separated (those of the \"WM\" mask, then the\n"
        "      \"CSF\" mask) or temporal (t_comp_cor_NN); AMOUNT a number of components\n"
        "      (5) or, with a decimal point, a fraction of variance explained (0.5,\n"
        "      the default): the first components whose cumulative variance explained\n"
        "      (the sidecar's CumulativeVarianceExplained) reaches it, per mask\n"
        "  high_pass            every cosineNN column\n"
        "  scrub[=fd:MM:dvars:SD:segment:N]  one spike column per volume whose\n"
        "      framewise_displacement exceeds MM or whose std_dvars exceeds SD (either\n"
        "      may be left out; \"n/a\" exceeds neither), and per volume in a run of\n"
        "      fewer than N kept volumes; a bare scrub is\n"
        "      scrub=" +
        std::string(kScrubDefault) +
        "\n"
        "  scrub=outliers       the table's motion_outlierNN columns instead\n"
        "  non_steady_state     every non_steady_state_outlierNN column\n"
        "  COLUMN or PATTERN    a column by name, or every column a glob pattern\n"
        "      matches (a_comp_cor_0*: * any text, ? one character, [..] a set)\n"
        "Each component may be given once; the bare word compcor is the preset.\n"
        "Presets (their exact columns; every preset may be combined with more\n"
        "components or columns, e.g. simple,global_signal or 24P,a_comp_cor_0*):\n";
    for (const StrategyPreset& preset : presetTable()) {
        text += "  " + std::string(preset.name) + " = " + preset.strategy + "\n";
        text += wrapped(std::string(preset.description) + ":", "      ", "      ");
        for (const std::string& line : describeColumns(parseConfoundStrategy(preset.strategy))) {
            text += wrapped(line, "      - ", "        ");
        }
    }
    return text;
}

} // namespace corvantis
