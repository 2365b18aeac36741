#include "host/research/StudyGroup.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"
#include "host/research/PrintableText.h"
#include "host/research/SortedQuantile.h"
#include "host/research/StudyOutputs.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::optional<double> number(const Json& json, const std::string& key) {
    if (!json.is_object() || !json.contains(key) || !json[key].is_number()) return std::nullopt;
    return json[key].get<double>();
}

std::optional<double> mapMedian(const Json& summary, const std::string& key) {
    if (!summary.contains("maps") || !summary["maps"].is_object() || !summary["maps"].contains(key)) {
        return std::nullopt;
    }
    return number(summary["maps"][key], "median");
}

std::string mapFile(const Json& summary, const std::string& key, const fs::path& folder) {
    if (!summary.contains("maps") || !summary["maps"].contains(key)) return {};
    const Json& map = summary["maps"][key];
    if (!map.is_object() || !map.contains("file") || !map["file"].is_string()) return {};
    return (folder / map["file"].get<std::string>()).string();
}

void readSummary(GroupRow& row, const Json& summary, const fs::path& folder) {
    row.volumes = number(summary, "volumes");
    row.voxelsAnalysed = number(summary, "voxels_analysed");
    if (summary.contains("model1")) {
        row.predictors1 = number(summary["model1"], "predictors");
        row.residualDf1 = number(summary["model1"], "residual_df");
    }
    if (summary.contains("model2")) {
        row.predictors2 = number(summary["model2"], "predictors");
        row.residualDf2 = number(summary["model2"], "residual_df");
    }
    if (summary.contains("nested") && summary["nested"].is_boolean()) row.nested = summary["nested"].get<bool>();
    if (summary.contains("f_df") && summary["f_df"].is_array() && summary["f_df"].size() == 2) {
        row.fDf1 = summary["f_df"][0].get<double>();
        row.fDf2 = summary["f_df"][1].get<double>();
    }
    if (summary.contains("fdr")) {
        row.fdrThreshold = number(summary["fdr"], "neglog10p_threshold");
        row.voxelsSurviving = number(summary["fdr"], "voxels_surviving");
    }
    row.shareFSurvivesFdr = number(summary, "share_f_survives_fdr");
    row.shareTsnrRaised = number(summary, "share_tsnr_raised");
    row.medianDeltaTsnr = number(summary, "median_delta_tsnr");
    row.medianDeltaR2adj = number(summary, "median_delta_r2adj");
    row.medianTsnr1 = mapMedian(summary, "tsnr1");
    row.medianTsnr2 = mapMedian(summary, "tsnr2");
    if (summary.contains("warnings") && summary["warnings"].is_array()) {
        for (const Json& w : summary["warnings"]) {
            if (w.is_string()) row.warnings.push_back(w.get<std::string>());
        }
    }
    row.fMap = mapFile(summary, "neglog10p", folder);
    row.deltaTsnrMap = mapFile(summary, "delta_tsnr", folder);
    row.tsnrMap = mapFile(summary, "tsnr1", folder);
}

GroupRow collectRow(const PreprocessedRun& run, const StudyModels& models, const std::string& outputRoot) {
    GroupRow row;
    row.run = run;
    row.status = "not run";
    const fs::path folder = fs::path(outputRoot) / run.folder;
    row.folder = folder.string();
    const fs::path recordPath = runRecordPath(run, models, outputRoot);
    std::error_code error;
    if (!fs::is_regular_file(recordPath, error)) return row;
    Json record;
    try {
        record = Json::parse(readTextFile(recordPath.string()));
    } catch (const std::exception& e) {
        row.status = "failed";
        row.error = "the run's record " + inQuotes(recordPath.string()) + " cannot be read: " + e.what();
        return row;
    }
    if (record.value("status", std::string()) != "done") {
        row.status = "failed";
        row.error = record.value("error", std::string("no error recorded"));
        return row;
    }
    const fs::path summaryPath = folder / studyOutputName(run.id, modelLabel(models.model1, models.model2), "summary");
    try {
        readSummary(row, Json::parse(readTextFile(summaryPath.string())), folder);
    } catch (const std::exception& e) {
        row.status = "failed";
        row.error = "the summary " + inQuotes(summaryPath.string()) + " cannot be read: " + e.what();
        return row;
    }
    row.status = "done";
    return row;
}

std::string formatNumber(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value)) return "n/a";
    std::ostringstream out;
    out.precision(6);
    out << *value;
    return out.str();
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : separator) + p;
    return text;
}

struct GroupColumn {
    const char* name;
    const char* what;
    std::function<std::string(const GroupRow&)> text;
};

const std::vector<GroupColumn>& groupColumns() {
    static const std::vector<GroupColumn> columns = {
        {"run_id", "the run's name", [](const GroupRow& r) { return tableCell(r.run.id); }},
        {"subject", "sub label", [](const GroupRow& r) { return tableCell(r.run.subject); }},
        {"session", "ses label", [](const GroupRow& r) { return tableCell(r.run.session); }},
        {"task", "task label", [](const GroupRow& r) { return tableCell(r.run.task); }},
        {"run", "run label", [](const GroupRow& r) { return tableCell(r.run.run); }},
        {"space", "space label", [](const GroupRow& r) { return tableCell(r.run.space); }},
        {"status", "done, failed or not run", [](const GroupRow& r) { return tableCell(r.status); }},
        {"volumes", "volumes of the run", [](const GroupRow& r) { return formatNumber(r.volumes); }},
        {"voxels_analysed", "voxels compared", [](const GroupRow& r) { return formatNumber(r.voxelsAnalysed); }},
        {"model1_predictors", "columns of model 1", [](const GroupRow& r) { return formatNumber(r.predictors1); }},
        {"model2_predictors", "columns of model 2", [](const GroupRow& r) { return formatNumber(r.predictors2); }},
        {"model2_residual_df", "residual df of model 2", [](const GroupRow& r) { return formatNumber(r.residualDf2); }},
        {"nested", "model 1 lies in model 2's column space",
         [](const GroupRow& r) { return r.nested ? std::string(*r.nested ? "true" : "false") : "n/a"; }},
        {"f_df1", "numerator df of the F test", [](const GroupRow& r) { return formatNumber(r.fDf1); }},
        {"f_df2", "denominator df of the F test", [](const GroupRow& r) { return formatNumber(r.fDf2); }},
        {"fdr_neglog10p_threshold", "-log10 p that survives FDR",
         [](const GroupRow& r) { return formatNumber(r.fdrThreshold); }},
        {"voxels_surviving_fdr", "voxels whose F survives FDR",
         [](const GroupRow& r) { return formatNumber(r.voxelsSurviving); }},
        {"share_f_survives_fdr", "their share of the voxels analysed",
         [](const GroupRow& r) { return formatNumber(r.shareFSurvivesFdr); }},
        {"median_tsnr1", "median tSNR of model 1", [](const GroupRow& r) { return formatNumber(r.medianTsnr1); }},
        {"median_tsnr2", "median tSNR of model 2", [](const GroupRow& r) { return formatNumber(r.medianTsnr2); }},
        {"median_delta_tsnr", "median of model 2's tSNR minus model 1's",
         [](const GroupRow& r) { return formatNumber(r.medianDeltaTsnr); }},
        {"share_tsnr_raised", "share of voxels where model 2 raises tSNR",
         [](const GroupRow& r) { return formatNumber(r.shareTsnrRaised); }},
        {"median_delta_r2adj", "median of model 2's adjusted R2 minus model 1's",
         [](const GroupRow& r) { return formatNumber(r.medianDeltaR2adj); }},
        {"outlier_in", "measures where the run is an outlier (Tukey's fences)",
         [](const GroupRow& r) {
             std::vector<std::string> names;
             for (GroupMeasure m : r.outlierIn) names.push_back(measureName(m));
             return tableCell(joined(names, ","));
         }},
        {"warnings", "the comparison's warnings, joined by \"; \"",
         [](const GroupRow& r) { return tableCell(joined(r.warnings, "; ")); }},
        {"error", "why the run failed", [](const GroupRow& r) { return tableCell(r.error); }},
    };
    return columns;
}

} // namespace

std::optional<double> GroupRow::measure(GroupMeasure which) const {
    switch (which) {
    case GroupMeasure::ShareFSurvivesFdr: return shareFSurvivesFdr;
    case GroupMeasure::MedianDeltaTsnr: return medianDeltaTsnr;
    case GroupMeasure::MedianDeltaR2adj: return medianDeltaR2adj;
    }
    return std::nullopt;
}

std::size_t StudyGroup::failedRuns() const {
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [](const GroupRow& r) { return r.status == "failed"; }));
}

std::size_t StudyGroup::runsNotDone() const {
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [](const GroupRow& r) { return r.status != "done"; }));
}

const char* measureName(GroupMeasure which) {
    switch (which) {
    case GroupMeasure::ShareFSurvivesFdr: return "share_f_survives_fdr";
    case GroupMeasure::MedianDeltaTsnr: return "median_delta_tsnr";
    case GroupMeasure::MedianDeltaR2adj: return "median_delta_r2adj";
    }
    return "";
}

const std::vector<GroupMeasure>& groupMeasures() {
    static const std::vector<GroupMeasure> measures = {GroupMeasure::ShareFSurvivesFdr, GroupMeasure::MedianDeltaTsnr,
                                                       GroupMeasure::MedianDeltaR2adj};
    return measures;
}

StudyGroup collectStudyGroup(const std::vector<PreprocessedRun>& runs, const StudyModels& models,
                             const std::string& outputRoot) {
    StudyGroup group;
    group.models = models;
    for (const PreprocessedRun& run : runs) group.rows.push_back(collectRow(run, models, outputRoot));
    markOutliers(group);
    return group;
}

void markOutliers(StudyGroup& group) {
    for (GroupRow& row : group.rows) row.outlierIn.clear();
    for (GroupMeasure m : groupMeasures()) {
        std::vector<double> values;
        for (const GroupRow& row : group.rows) {
            if (const auto v = row.measure(m); v && std::isfinite(*v)) values.push_back(*v);
        }
        if (values.size() < 4) continue;
        std::sort(values.begin(), values.end());
        const double q1 = sortedQuantile(values, 0.25), q3 = sortedQuantile(values, 0.75);
        const double low = q1 - 1.5 * (q3 - q1), high = q3 + 1.5 * (q3 - q1);
        for (GroupRow& row : group.rows) {
            const auto v = row.measure(m);
            if (v && std::isfinite(*v) && (*v < low || *v > high)) row.outlierIn.push_back(m);
        }
    }
}

std::string groupTableText(const StudyGroup& group) {
    std::string text;
    for (const GroupColumn& column : groupColumns()) text += std::string(text.empty() ? "" : "\t") + column.name;
    text += "\n";
    for (const GroupRow& row : group.rows) {
        std::string line;
        for (const GroupColumn& column : groupColumns()) {
            line += (line.empty() ? "" : "\t") + column.text(row);
        }
        text += line + "\n";
    }
    return text;
}

std::string groupTableHelp() {
    std::string text;
    for (const GroupColumn& column : groupColumns()) {
        std::string name = column.name;
        name.resize(std::max<std::size_t>(name.size() + 2, 26), ' ');
        text += "    " + name + column.what + "\n";
    }
    return text;
}

} // namespace corvantis
