#include "host/research/StrategyDesign.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "host/formats/HostErrors.h"
#include "host/research/GlobPattern.h"
#include "host/research/HemodynamicResponse.h"

namespace corvantis {

namespace {

using Defined = std::vector<std::optional<double>>;
using Column = std::vector<double>;

// A column on its way into the design, in double precision.
struct Draft {
    ColumnRecord record;
    Column values;
};

struct Context {
    explicit Context(const DesignInputs& designInputs) : inputs(designInputs) {}
    const DesignInputs& inputs;
    std::size_t volumes = 0;
    std::vector<Draft> drafts;
    std::vector<std::string> taken; // table columns in the design, each at most once
    std::vector<std::string> warnings;
};

struct Found {
    const ConfoundTable* table = nullptr;
    const Defined* values = nullptr;
};

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string presetAndComponentList() {
    std::string presets;
    for (const StrategyPreset& preset : strategyPresets())
        presets += (presets.empty() ? "" : ", ") + std::string(preset.name);
    std::string components;
    for (const std::string& name : strategyComponents()) components += (components.empty() ? "" : ", ") + name;
    return "; a strategy item that is no column must be a preset (" + presets + ") or a component (" + components + ")";
}

std::optional<Found> lookUp(const std::vector<ConfoundTable>& tables, const std::string& name) {
    std::optional<Found> found;
    for (const ConfoundTable& table : tables) {
        if (const Defined* column = table.column(name)) {
            if (found) throw DocumentError("the column " + inQuotes(name) + " is in more than one table");
            found = Found{&table, column};
        }
    }
    return found;
}

Found need(const Context& context, const std::string& name, const std::string& neededBy) {
    if (const std::optional<Found> found = lookUp(context.inputs.tables, name)) return *found;
    throw DocumentError("no table has a column " + inQuotes(name) + neededBy);
}

// An undefined value becomes the mean of the defined ones, so it adds nothing
// the column's own level does not already explain.
Column filledInto(const Defined& values, const std::string& name, ColumnRecord& record) {
    double sum = 0.0;
    std::size_t defined = 0;
    for (const std::optional<double>& v : values) {
        if (v) {
            sum += *v;
            ++defined;
        }
    }
    if (defined == 0) {
        throw DocumentError("the column " + inQuotes(name) + " holds no defined value");
    }
    record.fillValue = sum / static_cast<double>(defined);
    record.filled = values.size() - defined;
    Column column;
    for (const std::optional<double>& v : values) column.push_back(v ? *v : record.fillValue);
    return column;
}

void take(Context& context, const std::string& column) {
    if (std::find(context.taken.begin(), context.taken.end(), column) != context.taken.end()) {
        throw DocumentError("the column " + inQuotes(column) + " is chosen twice");
    }
    context.taken.push_back(column);
}

ColumnRecord recordOf(const std::string& name, const std::string& role, const std::string& source,
                      const std::string& file, const std::string& from, const std::string& transformation) {
    ColumnRecord record;
    record.name = name;
    record.role = role;
    record.source = source;
    record.file = file;
    record.from = from;
    record.transformation = transformation;
    return record;
}

void addDefined(Context& context, ColumnRecord record, const Defined& values) {
    Draft draft;
    draft.values = filledInto(values, record.name, record);
    draft.record = std::move(record);
    context.drafts.push_back(std::move(draft));
}

void addTableColumn(Context& context, const std::string& name, const std::string& role, const Found& found) {
    take(context, name);
    addDefined(context, recordOf(name, role, "table", found.table->path, name, "as in the table"), *found.values);
}

// First differences as the pipelines write them: undefined where either volume is.
Defined differenced(const Defined& x) {
    Defined d(x.size());
    for (std::size_t t = 1; t < x.size(); ++t) {
        if (x[t] && x[t - 1]) d[t] = *x[t] - *x[t - 1];
    }
    return d;
}

Defined squaredDefined(Defined x) {
    for (std::optional<double>& v : x) {
        if (v) *v = *v * *v;
    }
    return x;
}

// motion, wm_csf, global_signal: the table's expanded columns where it has
// them, computed from the base column where not.
void addSignal(Context& context, const std::string& component, ExpansionLevel level) {
    for (const std::string& suffix : levelSuffixes(level)) {
        for (const std::string& base : signalColumns(component)) {
            const std::string name = base + suffix;
            if (const std::optional<Found> found = lookUp(context.inputs.tables, name)) {
                addTableColumn(context, name, "confound", *found);
                continue;
            }
            const Found source = need(context, base, ", which " + component + " needs");
            take(context, name);
            const Defined& x = *source.values;
            Defined values;
            std::string transformation;
            if (suffix == "_derivative1") {
                values = differenced(x);
                transformation = "first difference (computed; the first volume undefined)";
            } else if (suffix == "_power2") {
                values = squaredDefined(x);
                transformation = "square (computed)";
            } else {
                values = squaredDefined(differenced(x));
                transformation = "square of the first difference (computed; the first volume undefined)";
            }
            addDefined(context, recordOf(name, "confound", "table", source.table->path, base, transformation), values);
        }
    }
}

// The pipeline's numbered columns of a kind: the prefix and then digits only
// (cosine00, a_comp_cor_03), in table order.
std::vector<std::pair<const ConfoundTable*, std::string>> numberedColumns(const Context& context,
                                                                          const std::string& prefix) {
    std::vector<std::pair<const ConfoundTable*, std::string>> columns;
    for (const ConfoundTable& table : context.inputs.tables) {
        for (const std::string& name : table.names) {
            if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                name.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
                columns.emplace_back(&table, name);
            }
        }
    }
    return columns;
}

bool sameMask(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The cumulative variance explained by each column in order, when the sidecar
// gives it for all of them (directly or as each one's share).
std::optional<Column> cumulativeVariance(const PipelineSidecar* sidecar, const std::vector<std::string>& columns) {
    if (sidecar == nullptr) return std::nullopt;
    Column cumulative;
    double sum = 0.0;
    for (const std::string& column : columns) {
        const ComponentMetadata* metadata = sidecar->find(column);
        if (metadata == nullptr) return std::nullopt;
        if (metadata->cumulativeVarianceExplained) {
            cumulative.push_back(*metadata->cumulativeVarianceExplained);
        } else if (metadata->varianceExplained) {
            sum += *metadata->varianceExplained;
            cumulative.push_back(sum);
        } else {
            return std::nullopt;
        }
    }
    return cumulative;
}

// Components chosen when a fraction is asked for and the sidecar cannot tell the variance.
constexpr std::size_t kCompCorFallback = 5;

std::vector<std::string> chooseComponents(Context& context, const CompCorChoice& choice,
                                          const std::vector<std::string>& columns, const std::string& what) {
    if (choice.components) {
        const std::size_t wanted = static_cast<std::size_t>(*choice.components);
        if (columns.size() < wanted) {
            throw DocumentError("compcor asks for " + std::to_string(wanted) + " components, but the tables have " +
                                std::to_string(columns.size()) + " " + what);
        }
        return std::vector<std::string>(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(wanted));
    }
    const double fraction = *choice.varianceFraction;
    const std::optional<Column> cumulative =
        cumulativeVariance(context.inputs.sidecar ? &*context.inputs.sidecar : nullptr, columns);
    if (!cumulative) {
        const std::size_t count = std::min(columns.size(), kCompCorFallback);
        context.warnings.push_back("compcor: the sidecar gives no variance explained for the " + what +
                                   ", so the first " + std::to_string(count) + " are used instead of those reaching " +
                                   numberText(fraction * 100.0) + "%");
        return std::vector<std::string>(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(count));
    }
    for (std::size_t k = 0; k < columns.size(); ++k) {
        if ((*cumulative)[k] >= fraction) {
            return std::vector<std::string>(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(k + 1));
        }
    }
    context.warnings.push_back("compcor: the " + what + " explain " + numberText(cumulative->back() * 100.0) +
                               "% of the variance together, less than " + numberText(fraction * 100.0) +
                               "%; all of them are used");
    return columns;
}

void addCompCor(Context& context, const CompCorChoice& choice) {
    const bool temporal = choice.kind == CompCorKind::Temporal;
    const std::string prefix = temporal ? PipelineColumns::kTemporalCompCor : PipelineColumns::kAnatomicalCompCor;
    const PipelineSidecar* sidecar = context.inputs.sidecar ? &*context.inputs.sidecar : nullptr;
    if (!temporal && sidecar == nullptr) {
        throw DocumentError(
            "compcor=" +
            std::string(choice.kind == CompCorKind::AnatomicalCombined ? "anat_combined" : "anat_separated") +
            " needs the confounds table's JSON sidecar, which tells the masks of the " + prefix + "NN columns apart");
    }
    std::vector<std::string> masks = {""};
    if (choice.kind == CompCorKind::AnatomicalCombined) masks = {"combined"};
    if (choice.kind == CompCorKind::AnatomicalSeparate) masks = {"WM", "CSF"};
    const auto candidates = numberedColumns(context, prefix);
    for (const std::string& mask : masks) {
        std::vector<std::string> columns;
        for (const auto& [table, name] : candidates) {
            const ComponentMetadata* metadata = sidecar != nullptr ? sidecar->find(name) : nullptr;
            if (!mask.empty() && (metadata == nullptr || !sameMask(metadata->mask, mask))) continue;
            if (metadata != nullptr && metadata->retained == false) continue;
            columns.push_back(name);
        }
        const std::string what = prefix + "NN columns" + (mask.empty() ? "" : " of the " + inQuotes(mask) + " mask");
        if (columns.empty()) {
            throw DocumentError("compcor: the tables have no " + what +
                                (sidecar != nullptr ? " (as " + inQuotes(sidecar->path) + " tells them)" : ""));
        }
        for (const std::string& name : chooseComponents(context, choice, columns, what)) {
            addTableColumn(context, name, "confound", need(context, name, ""));
        }
    }
}

void addNumberedColumns(Context& context, const std::string& prefix, const std::string& component, bool required) {
    const auto columns = numberedColumns(context, prefix);
    if (columns.empty() && required) {
        throw DocumentError(component + ": no table has a " + prefix + "NN column");
    }
    if (columns.empty()) {
        context.warnings.push_back(component + ": no table has a " + prefix + "NN column; none is added");
    }
    for (const auto& [table, name] : columns) {
        addTableColumn(context, name, "confound", Found{table, table->column(name)});
    }
}

struct Censored {
    int32_t volume;
    std::string reason;
};

std::vector<Censored> censoredWithReasons(const ConfoundTable& table, const ScrubChoice& scrub) {
    const std::size_t n = table.rows();
    std::vector<std::string> reasons(n);
    const auto flag = [&](const char* column, const std::optional<double>& threshold, const std::string& component) {
        if (!threshold) return;
        const Defined* values = table.column(column);
        if (values == nullptr) {
            throw DocumentError("the confounds table " + inQuotes(table.path) + " has no column " + inQuotes(column) +
                                ", which " + component + " needs");
        }
        for (std::size_t t = 0; t < n; ++t) {
            if ((*values)[t] && *(*values)[t] > *threshold && reasons[t].empty()) {
                reasons[t] = std::string(column) + " " + numberText(*(*values)[t]) + " above " + numberText(*threshold);
            }
        }
    };
    flag(PipelineColumns::kFramewiseDisplacement, scrub.framewiseDisplacement, "scrub=fd");
    flag(PipelineColumns::kStandardizedDvars, scrub.standardizedDvars, "scrub=dvars");
    // Runs of kept volumes too short to stand on their own.
    for (std::size_t start = 0; start < n;) {
        if (!reasons[start].empty()) {
            ++start;
            continue;
        }
        std::size_t end = start;
        while (end < n && reasons[end].empty()) ++end;
        if (end - start < static_cast<std::size_t>(scrub.minimumSegment)) {
            for (std::size_t t = start; t < end; ++t) {
                reasons[t] = "in a run of " + std::to_string(end - start) + " kept volumes, fewer than " +
                             std::to_string(scrub.minimumSegment);
            }
        }
        start = end;
    }
    std::vector<Censored> censored;
    for (std::size_t t = 0; t < n; ++t) {
        if (!reasons[t].empty()) censored.push_back({static_cast<int32_t>(t), reasons[t]});
    }
    return censored;
}

void addScrub(Context& context, const ScrubChoice& scrub) {
    if (scrub.tableOutliers) {
        addNumberedColumns(context, PipelineColumns::kMotionOutlier, "scrub=outliers", false);
        return;
    }
    const ConfoundTable& table = context.inputs.tables.front();
    for (const Censored& censored : censoredWithReasons(table, scrub)) {
        const std::string name = "scrub_volume_" + std::to_string(censored.volume + 1);
        Draft draft;
        draft.record = recordOf(name, "confound", "scrub", table.path, "volume " + std::to_string(censored.volume + 1),
                                "spike: 1 at this volume, 0 elsewhere (" + censored.reason + ")");
        draft.values.assign(context.volumes, 0.0);
        draft.values[static_cast<std::size_t>(censored.volume)] = 1.0;
        context.drafts.push_back(std::move(draft));
    }
}

std::vector<std::string> resolved(const Context& context, const std::vector<std::string>& items, bool fromStrategy) {
    std::vector<std::string> names;
    for (const std::string& item : items) {
        if (lookUp(context.inputs.tables, item)) {
            names.push_back(item);
            continue;
        }
        if (!isGlobPattern(item)) {
            throw DocumentError("no table has a column " + inQuotes(item) +
                                (fromStrategy ? presetAndComponentList() : ""));
        }
        const std::size_t before = names.size();
        for (const ConfoundTable& table : context.inputs.tables) {
            for (const std::string& name : table.names) {
                if (globMatches(item, name)) names.push_back(name);
            }
        }
        if (names.size() == before) {
            throw DocumentError("no column of the tables matches the pattern " + inQuotes(item));
        }
    }
    return names;
}

// Names or patterns of derivatives and squares, matched among the columns chosen by name.
std::vector<std::string> expansionsOf(const std::vector<std::string>& items, const std::vector<std::string>& chosen) {
    std::vector<std::string> names;
    for (const std::string& item : items) {
        bool any = false;
        for (const std::string& name : chosen) {
            if (name == item || (isGlobPattern(item) && globMatches(item, name))) {
                names.push_back(name);
                any = true;
            }
        }
        if (!any) {
            throw DocumentError("the column " + inQuotes(item) +
                                " is to be expanded but is neither of interest nor a confound");
        }
    }
    return names;
}

bool listed(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Columns chosen by name: their first differences and squares computed from the
// filled column, after the block, as make-sdm has always made them.
void addNamedBlock(Context& context, const std::vector<std::string>& names, const std::string& role,
                   const std::vector<std::string>& derivatives, const std::vector<std::string>& squares) {
    const std::size_t first = context.drafts.size();
    for (const std::string& name : names) addTableColumn(context, name, role, need(context, name, ""));
    const auto base = [&](std::size_t k) { return context.drafts[first + k]; };
    const auto derived = [&](std::size_t k, const std::string& suffix, const std::string& transformation,
                             Column values) {
        const Draft source = base(k);
        Draft draft;
        draft.record = recordOf(source.record.name + suffix, role, "table", source.record.file, source.record.name,
                                transformation);
        draft.values = std::move(values);
        context.drafts.push_back(std::move(draft));
    };
    const auto difference = [&](const Column& x, const std::string& name) {
        Defined d(x.size());
        for (std::size_t t = 1; t < x.size(); ++t) d[t] = x[t] - x[t - 1];
        ColumnRecord ignored;
        return filledInto(d, name + " derivative", ignored);
    };
    const auto square = [](Column x) {
        for (double& v : x) v *= v;
        return x;
    };
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (listed(derivatives, names[k])) {
            derived(k, " derivative", "first difference of the filled column (the first volume its mean)",
                    difference(base(k).values, names[k]));
        }
    }
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (!listed(squares, names[k])) continue;
        derived(k, " squared", "square of the filled column", square(base(k).values));
        if (listed(derivatives, names[k])) {
            derived(k, " derivative squared", "square of its first difference",
                    square(difference(base(k).values, names[k])));
        }
    }
}

void addEvents(Context& context) {
    const EventsTable& events = *context.inputs.events;
    if (!context.inputs.tr) {
        throw DocumentError("the events of " + inQuotes(events.path) +
                            " need the run's repetition time (TR) to become regressors");
    }
    const EventTiming timing{*context.inputs.tr, static_cast<int32_t>(context.volumes)};
    for (const std::string& condition : events.conditions()) {
        Draft draft;
        draft.record = recordOf(condition, "interest", "events", events.path, condition,
                                "boxcar of its events convolved with the canonical HRF");
        draft.values = conditionRegressor(events.events, condition, timing, false);
        if (std::all_of(draft.values.begin(), draft.values.end(), [](double v) { return v == 0.0; })) {
            throw DocumentError("the condition " + inQuotes(condition) + " of " + inQuotes(events.path) +
                                " has no event within reach of the run's " + std::to_string(context.volumes) +
                                " volumes (TR " + numberText(timing.tr) + " s); its regressor would be zero");
        }
        context.drafts.push_back(std::move(draft));
        if (context.inputs.hrfDerivative) {
            Draft slope;
            slope.record = recordOf(condition + "_derivative", "interest", "events", events.path, condition,
                                    "boxcar of its events convolved with the time derivative of the canonical HRF");
            slope.values = conditionRegressor(events.events, condition, timing, true);
            context.drafts.push_back(std::move(slope));
        }
    }
}

std::size_t checkedVolumes(const DesignInputs& inputs) {
    if (inputs.tables.empty()) {
        if (!inputs.volumes || *inputs.volumes < 1) {
            throw DocumentError("without a table the run's number of volumes must be given");
        }
        return static_cast<std::size_t>(*inputs.volumes);
    }
    const ConfoundTable& first = inputs.tables.front();
    if (first.rows() == 0) {
        throw DocumentError(inQuotes(first.path) + " holds no rows below its header");
    }
    for (const ConfoundTable& table : inputs.tables) {
        const std::size_t expected = inputs.volumes ? static_cast<std::size_t>(*inputs.volumes) : first.rows();
        if (table.rows() != expected) {
            throw DocumentError(inQuotes(table.path) + " has " + std::to_string(table.rows()) + " rows; " +
                                (inputs.volumes ? "the run has " + std::to_string(*inputs.volumes) + " volumes"
                                                : inQuotes(first.path) + " has " + std::to_string(expected)));
        }
    }
    return first.rows();
}

void checkNames(const std::vector<Draft>& drafts) {
    for (std::size_t j = 0; j < drafts.size(); ++j) {
        const std::string& name = drafts[j].record.name;
        if (name.empty() || name.find_first_of("\"\r\n") != std::string::npos) {
            throw DocumentError(
                "the column name " + inQuotes(name) +
                " cannot name a predictor of a design file (empty, or holding a quote or a line break)");
        }
        for (std::size_t k = 0; k < j; ++k) {
            if (drafts[k].record.name == name) {
                throw DocumentError("the design would have two columns named " + inQuotes(name));
            }
        }
    }
}

// Mean and standard deviation (divisor n); a column whose deviation is nothing
// beside its size is constant: the design's own constant already stands for it.
void standardizeInPlace(Draft& draft, bool standardize) {
    // A difference or a square beyond the range of a double is no number to scale.
    for (std::size_t t = 0; t < draft.values.size(); ++t) {
        if (!std::isfinite(draft.values[t])) {
            throw DocumentError("the column " + inQuotes(draft.record.name) + " holds " + numberText(draft.values[t]) +
                                " in row " + std::to_string(t + 1) + ", which is not a finite float");
        }
    }
    const double n = static_cast<double>(draft.values.size());
    double mean = 0.0;
    double largest = 0.0;
    for (double v : draft.values) {
        mean += v;
        largest = std::max(largest, std::abs(v));
    }
    mean /= n;
    double squares = 0.0;
    for (double v : draft.values) squares += (v - mean) * (v - mean);
    const double sd = std::sqrt(squares / n);
    if (!(sd > 1e-12 * largest)) {
        throw DocumentError("the column " + inQuotes(draft.record.name) + " is constant (every value " +
                            numberText(draft.values.front()) +
                            "): the design's constant already stands for it; leave it out");
    }
    draft.record.mean = mean;
    draft.record.sd = sd;
    if (!standardize) return;
    draft.record.standardized = true;
    for (double& v : draft.values) v = (v - mean) / sd;
}

// The plug-in reads the design as floats: a value that is not a finite float
// (a square or a difference beyond its range) would end every run that uses it.
std::vector<float> floatColumn(const std::string& name, const Column& values) {
    std::vector<float> column(values.begin(), values.end());
    for (std::size_t t = 0; t < column.size(); ++t) {
        if (!std::isfinite(column[t])) {
            throw DocumentError("the column " + inQuotes(name) + " holds " + numberText(values[t]) + " in row " +
                                std::to_string(t + 1) + ", which is not a finite float");
        }
    }
    return column;
}

} // namespace

std::vector<int32_t> censoredVolumes(const ConfoundTable& table, const ScrubChoice& scrub) {
    std::vector<int32_t> volumes;
    for (const Censored& censored : censoredWithReasons(table, scrub)) volumes.push_back(censored.volume);
    return volumes;
}

BuiltDesign buildStrategyDesign(const DesignInputs& inputs, const ConfoundStrategy& strategy) {
    if (inputs.tables.empty() && (!strategy.empty() || !inputs.interest.empty() || !inputs.confounds.empty())) {
        throw DocumentError("the strategy and the columns of interest need a table");
    }
    if (inputs.tr && !(std::isfinite(*inputs.tr) && *inputs.tr > 0.0)) {
        throw DocumentError("the repetition time must be a number of seconds above 0, not " + numberText(*inputs.tr));
    }
    Context context(inputs);
    context.volumes = checkedVolumes(inputs);
    if (!inputs.events && inputs.interest.empty() && inputs.confounds.empty() && strategy.empty()) {
        throw DocumentError("no columns are chosen");
    }
    const std::vector<std::string> interest = resolved(context, inputs.interest, false);
    std::vector<std::string> custom = resolved(context, strategy.columns, true);
    const std::vector<std::string> confounds = resolved(context, inputs.confounds, false);
    custom.insert(custom.end(), confounds.begin(), confounds.end());
    std::vector<std::string> named = interest;
    named.insert(named.end(), custom.begin(), custom.end());
    const std::vector<std::string> derivatives = expansionsOf(inputs.derivatives, named);
    const std::vector<std::string> squares = expansionsOf(inputs.squares, named);

    if (inputs.events) addEvents(context);
    addNamedBlock(context, interest, "interest", derivatives, squares);
    const std::size_t interestColumns = context.drafts.size();
    if (strategy.motion) addSignal(context, "motion", *strategy.motion);
    if (strategy.wmCsf) addSignal(context, "wm_csf", *strategy.wmCsf);
    if (strategy.globalSignal) addSignal(context, "global_signal", *strategy.globalSignal);
    if (strategy.compcor) addCompCor(context, *strategy.compcor);
    if (strategy.highPass) addNumberedColumns(context, PipelineColumns::kCosine, "high_pass", true);
    if (strategy.scrub) addScrub(context, *strategy.scrub);
    if (strategy.nonSteadyState) {
        addNumberedColumns(context, PipelineColumns::kNonSteadyState, "non_steady_state", false);
    }
    addNamedBlock(context, custom, "confound", derivatives, squares);
    checkNames(context.drafts);

    BuiltDesign built;
    built.strategyText = strategy.text;
    built.strategyExpanded = strategy.expanded();
    for (Draft& draft : context.drafts) {
        standardizeInPlace(draft, inputs.standardize);
        built.table.names.push_back(draft.record.name);
        built.table.columns.push_back(floatColumn(draft.record.name, draft.values));
        built.columns.push_back(draft.record);
    }
    built.table.firstConfoundPredictor = static_cast<int32_t>(interestColumns) + 1;
    built.table.names.push_back("Constant");
    built.table.columns.emplace_back(context.volumes, 1.0f);
    built.columns.push_back(recordOf("Constant", "constant", "constant", "", "", "1 at every volume"));
    built.warnings = std::move(context.warnings);
    return built;
}

} // namespace corvantis
