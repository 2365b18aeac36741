#include "host/research/DesignRecord.h"

#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"
#include "host/research/HemodynamicResponse.h"
#include "host/research/PrintableText.h"

#ifdef QUORVEX_HOST_JSON
#include <nlohmann/json.hpp>
#endif

namespace corvantis {

std::string designRecordPath(const std::string& sdmPath) {
    const std::string suffix = ".sdm";
    if (sdmPath.size() > suffix.size() && sdmPath.compare(sdmPath.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return sdmPath.substr(0, sdmPath.size() - suffix.size()) + ".json";
    }
    return sdmPath + ".json";
}

#ifdef QUORVEX_HOST_JSON

namespace {

using Json = nlohmann::ordered_json;

Json columnJson(const ColumnRecord& column, std::size_t index) {
    Json json;
    json["index"] = index;
    json["name"] = column.name;
    json["role"] = column.role;
    json["source"] = column.source;
    json["file"] = column.file.empty() ? Json() : Json(column.file);
    json["from"] = column.from.empty() ? Json() : Json(column.from);
    json["transformation"] = column.transformation;
    json["filled"] = column.filled;
    json["fill_value"] = column.filled > 0 ? Json(column.fillValue) : Json();
    json["standardized"] = column.standardized;
    json["mean"] = column.role == "constant" ? Json() : Json(column.mean);
    json["sd"] = column.role == "constant" ? Json() : Json(column.sd);
    return json;
}

Json eventsJson(const DesignInputs& inputs) {
    if (!inputs.events) return Json();
    Json events;
    events["file"] = inputs.events->path;
    events["events"] = inputs.events->events.size();
    events["conditions"] = inputs.events->conditions();
    Json hrf;
    hrf["model"] = "double gamma";
    hrf["peak_shape"] = CanonicalHrf::kPeakShape;
    hrf["undershoot_shape"] = CanonicalHrf::kUndershootShape;
    hrf["undershoot_ratio"] = CanonicalHrf::kUndershootRatio;
    hrf["scale_seconds"] = CanonicalHrf::kScaleSeconds;
    hrf["length_seconds"] = CanonicalHrf::kLengthSeconds;
    hrf["normalised"] = "to an integral of 1 over its length";
    hrf["oversampling_per_tr"] = CanonicalHrf::kOversampling;
    hrf["volume_time"] = "k * TR + TR / 2 (the middle of each volume's acquisition), k from 0";
    hrf["temporal_derivative"] = inputs.hrfDerivative;
    events["hrf"] = hrf;
    return events;
}

} // namespace

std::string designRecordJson(const BuiltDesign& design, const DesignInputs& inputs) {
    Json record;
    record["volumes"] = design.table.columns.empty() ? 0 : design.table.columns.front().size();
    record["tr_seconds"] = inputs.tr ? Json(*inputs.tr) : Json();
    Json tables = Json::array();
    for (const ConfoundTable& table : inputs.tables) tables.push_back(table.path);
    record["tables"] = tables;
    record["table_sidecar"] = inputs.sidecar ? Json(inputs.sidecar->path) : Json();
    Json strategy;
    strategy["given"] = design.strategyText;
    strategy["expanded"] = design.strategyExpanded;
    record["strategy"] = strategy;
    record["interest"] = inputs.interest;
    record["confounds"] = inputs.confounds;
    record["derivatives"] = inputs.derivatives;
    record["squares"] = inputs.squares;
    record["events"] = eventsJson(inputs);
    record["standardize"] = inputs.standardize;
    record["standardization"] =
        "every column but the constant: mean subtracted, divided by its standard deviation "
        "(divisor n), after n/a is filled with the mean of the defined values";
    record["predictors"] = design.table.columns.size();
    record["first_confound_predictor"] = design.table.firstConfoundPredictor;
    Json columns = Json::array();
    for (std::size_t j = 0; j < design.columns.size(); ++j) columns.push_back(columnJson(design.columns[j], j + 1));
    record["columns"] = columns;
    record["columns_left_out"] = design.leftOut;
    record["warnings"] = design.warnings;
    // Names from tables in another encoding than UTF-8 are carried escaped.
    return printableJsonText(record);
}

bool designRecordsSupported() { return true; }

#else

std::string designRecordJson(const BuiltDesign&, const DesignInputs&) {
    throw SaveError("this build of Corvantis writes no JSON; use a native build");
}

bool designRecordsSupported() { return false; }

#endif

void writeDesignRecord(const std::string& path, const BuiltDesign& design, const DesignInputs& inputs,
                       Durability durability) {
    const std::string text = designRecordJson(design, inputs);
    writeFileAtomically(path, text.data(), text.size(), durability);
}

} // namespace corvantis
