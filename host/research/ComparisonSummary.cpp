#include "host/research/ComparisonSummary.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "host/research/PrintableText.h"
#include "host/research/SortedQuantile.h"

namespace corvantis {

namespace {

using nlohmann::ordered_json;

template <class T>
ordered_json orNull(const std::optional<T>& value) {
    return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json modelJson(const ModelFacts& model) {
    return ordered_json{{"strategy", model.strategy},
                        {"design", model.design},
                        {"predictors", model.predictors},
                        {"rank", model.rank},
                        {"condition_number", model.conditionNumber},
                        {"residual_df", model.residualDf},
                        {"columns", model.columns},
                        {"columns_left_out", model.columnsLeftOut}};
}

ordered_json mapsJson(const std::map<std::string, MapQuartiles>& maps) {
    // In the order a reader meets them: each model, the differences, the test.
    static const char* const kOrder[] = {"tsnr1",      "tsnr2",       "r2adj1", "r2adj2",
                                         "delta_tsnr", "delta_r2adj", "f",      "neglog10p"};
    ordered_json json = ordered_json::object();
    for (const char* key : kOrder) {
        const auto found = maps.find(key);
        if (found == maps.end()) continue;
        const MapQuartiles& m = found->second;
        json[key] = ordered_json{{"file", m.file}, {"min", m.min}, {"q1", m.q1},        {"median", m.median},
                                 {"q3", m.q3},     {"max", m.max}, {"voxels", m.voxels}};
    }
    return json;
}

} // namespace

MapQuartiles quartilesOf(std::vector<double> values) {
    MapQuartiles q;
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
                 values.end());
    q.voxels = static_cast<int64_t>(values.size());
    if (values.empty()) return q;
    std::sort(values.begin(), values.end());
    q.min = values.front();
    q.q1 = sortedQuantile(values, 0.25);
    q.median = sortedQuantile(values, 0.5);
    q.q3 = sortedQuantile(values, 0.75);
    q.max = values.back();
    return q;
}

std::string summaryJsonText(const ComparisonSummary& s) {
    ordered_json json;
    json["run"] = s.run;
    json["confounds"] = s.confounds;
    json["events"] = orNull(s.events);
    json["mask"] = orNull(s.mask);
    json["model1"] = modelJson(s.model1);
    json["model2"] = modelJson(s.model2);
    json["volumes"] = s.volumes;
    json["voxels_total"] = s.voxelsTotal;
    json["voxels_analysed"] = s.voxelsAnalysed;
    json["voxel_selection"] = {{"method", s.selectionMethod}, {"threshold", orNull(s.threshold)}};
    json["nested"] = s.nested;
    json["f_df"] = s.fDf ? ordered_json{(*s.fDf)[0], (*s.fDf)[1]} : ordered_json(nullptr);
    json["fdr"] = {
        {"q", s.fdrQ}, {"neglog10p_threshold", orNull(s.fdrNegLog10PThreshold)}, {"voxels_surviving", s.fdrSurviving}};
    json["maps"] = mapsJson(s.maps);
    json["share_tsnr_raised"] = s.shareTsnrRaised;
    json["share_f_survives_fdr"] = orNull(s.shareFSurvivesFdr);
    json["median_delta_tsnr"] = s.medianDeltaTsnr;
    json["median_delta_r2adj"] = s.medianDeltaR2adj;
    json["warnings"] = s.warnings;
    json["timings"] = {{"design_s", s.designSeconds},
                       {"compare_s", s.compareSeconds},
                       {"write_s", s.writeSeconds},
                       {"total_s", s.totalSeconds}};
    json["outputs"] = s.outputs;
    return printableJsonText(json);
}

} // namespace corvantis
