// A design built from what researchers have for one run: the confounds table
// of a preprocessing pipeline (with its JSON sidecar), a confound strategy, a
// task's events, columns of interest from tables. Columns of interest come
// first (one per condition, each followed by its temporal derivative when
// asked for, then the tables' columns of interest), then the confounds in the
// order of strategyComponents(), then the custom columns, then a constant.
// Every non-constant column is z-scored unless standardize is off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/formats/ConfoundTable.h"
#include "host/formats/DesignTable.h"
#include "host/formats/EventsTable.h"
#include "host/research/ConfoundStrategy.h"
#include "host/research/PipelineSidecar.h"

namespace corvantis {

struct DesignInputs {
    // The tables the strategy's columns come from; the first is the pipeline's
    // confounds table. Every table has one row per volume.
    std::vector<ConfoundTable> tables;
    // The first table's sidecar: needed by compcor=anat_* and by fractions of variance.
    std::optional<PipelineSidecar> sidecar;
    std::optional<EventsTable> events;
    std::optional<double> tr;       // seconds; needed with events
    std::optional<int32_t> volumes; // the run's; needed without tables
    // Table columns of interest (names or glob patterns), before the confounds.
    std::vector<std::string> interest;
    // Table confound columns (names or glob patterns), after the strategy's own.
    std::vector<std::string> confounds;
    // Names or patterns among the chosen columns: add the first difference
    // and the square (and the square of the difference when both are asked).
    std::vector<std::string> derivatives;
    std::vector<std::string> squares;
    bool standardize = true;
    bool hrfDerivative = false;
};

// How one column of the design came about, for the design's record.
struct ColumnRecord {
    std::string name;
    std::string role;           // "interest", "confound" or "constant"
    std::string source;         // "table", "events", "scrub" or "constant"
    std::string file;           // the table or events file it comes from; empty for the constant
    std::string from;           // the table column or the condition it is made from
    std::string transformation; // e.g. "as in the table", "first difference, computed", "convolved with the HRF"
    std::size_t filled = 0;     // "n/a" values filled ...
    double fillValue = 0.0;     // ... with the mean of the defined ones
    bool standardized = false;
    double mean = 0.0; // subtracted, then ...
    double sd = 1.0;   // ... divided by (divisor n); both in the column's own units
};

struct BuiltDesign {
    DesignTable table;
    std::vector<ColumnRecord> columns; // one per column of table, in order
    std::string strategyText;          // as given
    std::string strategyExpanded;      // ConfoundStrategy::expanded()
    std::vector<std::string> warnings; // e.g. a fraction of variance the sidecar cannot tell
    // Columns taken out again as linear combinations of the columns before
    // them (the comparison does so before a rank-deficient design is fitted).
    std::vector<std::string> leftOut;
};

// Throws DocumentError (naming the table, the column, the row) for a column a
// component needs that the table lacks, an unknown custom column or a pattern
// that matches none (listing the components and presets), a column chosen
// twice, rows that differ from the run's volumes, a column with no defined
// value, a column that is constant (nothing to standardize: the design's
// constant already stands for it), a value that is not a finite float, events
// without a TR, and a condition whose regressor is zero throughout the run.
BuiltDesign buildStrategyDesign(const DesignInputs& inputs, const ConfoundStrategy& strategy);

// The volumes the strategy's scrub censors (0-based, ascending): those whose
// framewise_displacement or std_dvars exceeds its threshold ("n/a" never does),
// then those in runs of kept volumes shorter than the minimum segment.
std::vector<int32_t> censoredVolumes(const ConfoundTable& table, const ScrubChoice& scrub);

} // namespace corvantis
