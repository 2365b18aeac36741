// What a preprocessing pipeline's JSON sidecar says about the columns of its
// confounds table (NAME_desc-confounds_timeseries.json beside the .tsv): for
// each CompCor component its mask, the variance it explains and whether it
// was retained.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace corvantis {

struct ComponentMetadata {
    std::string method;                                // "aCompCor", "tCompCor"
    std::string mask;                                  // "combined", "CSF", "WM"; empty when not given
    std::optional<double> varianceExplained;           // a fraction
    std::optional<double> cumulativeVarianceExplained; // likewise
    std::optional<bool> retained;
};

struct PipelineSidecar {
    std::string path;
    std::map<std::string, ComponentMetadata> columns; // by column name

    const ComponentMetadata* find(const std::string& column) const;
};

// The sidecar of a table named NAME.tsv: NAME.json beside it.
std::string sidecarPathOfTable(const std::string& tablePath);

// The sidecar beside the table (sidecarPathOfTable), read when such a file
// exists; nullopt when none does. Throws as readPipelineSidecar does.
std::optional<PipelineSidecar> findPipelineSidecar(const std::string& tablePath);

// Throws DocumentError naming the file: not JSON, not an object at the top, a
// key of a known kind with a value of another kind. Builds without a JSON
// reader (see QUORVEX_HOST_JSON) refuse every sidecar with that reason.
PipelineSidecar readPipelineSidecar(const std::string& path);
PipelineSidecar parsePipelineSidecar(const std::string& text, const std::string& path);

} // namespace corvantis
