#include "host/research/StudyReport.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "host/formats/NiftiImage.h"
#include "host/formats/PngFile.h"
#include "host/research/MapPicture.h"

namespace corvantis {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string fixed(double value, int decimals) {
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << value;
    return out.str();
}

std::string shown(const std::optional<double>& value, int decimals) {
    return value && std::isfinite(*value) ? fixed(*value, decimals) : "n/a";
}

std::string percent(const std::optional<double>& share) {
    return share && std::isfinite(*share) ? fixed(100.0 * *share, 1) + " %" : "n/a";
}

std::string base64(const std::vector<unsigned char>& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = (uint32_t{bytes[i]} << 16) | (i + 1 < bytes.size() ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (i + 2 < bytes.size() ? uint32_t{bytes[i + 2]} : 0);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

const char* measureTitle(GroupMeasure m) {
    switch (m) {
    case GroupMeasure::ShareFSurvivesFdr: return "Share of voxels whose F test survives FDR";
    case GroupMeasure::MedianDeltaTsnr: return "Median tSNR gain (model 2 minus model 1)";
    case GroupMeasure::MedianDeltaR2adj: return "Median adjusted-R\xc2\xb2 gain (model 2 minus model 1)";
    }
    return "";
}

struct Spread {
    std::size_t runs = 0;
    double min = 0, median = 0, max = 0;
};

Spread spreadOf(const StudyGroup& group, GroupMeasure m) {
    std::vector<double> values;
    for (const GroupRow& row : group.rows) {
        if (const auto v = row.measure(m); v && std::isfinite(*v)) values.push_back(*v);
    }
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.runs = values.size();
    s.min = values.front();
    s.max = values.back();
    const std::size_t h = values.size() / 2;
    s.median = values.size() % 2 ? values[h] : 0.5 * (values[h - 1] + values[h]);
    return s;
}

std::string spreadText(const Spread& s, bool share) {
    if (s.runs == 0) return "no run has it";
    const auto f = [&](double v) { return share ? fixed(100.0 * v, 1) + " %" : fixed(v, 3); };
    return "median " + f(s.median) + ", from " + f(s.min) + " to " + f(s.max) + " over " + std::to_string(s.runs) +
           " runs";
}

// One dot per run on a line from the smallest to the largest value, the runs'
// median marked; outliers red and named; each dot's title gives run and value.
std::string stripPlot(const StudyGroup& group, GroupMeasure m) {
    const int width = 640, height = 110, left = 20, right = 620, axis = 60;
    const Spread s = spreadOf(group, m);
    std::ostringstream svg;
    svg << "<figure><figcaption>" << escaped(measureTitle(m)) << "</figcaption>"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << " " << height << "\" role=\"img\" aria-label=\"" << escaped(measureTitle(m))
        << "\">";
    if (s.runs == 0) {
        svg << "<text x=\"" << left << "\" y=\"" << axis << "\">no run has this measure</text></svg></figure>";
        return svg.str();
    }
    const bool share = m == GroupMeasure::ShareFSurvivesFdr;
    double low = std::min(s.min, 0.0), high = std::max(s.max, 0.0);
    if (share) high = std::max(high, 1.0);
    if (high - low < 1e-12) high = low + 1.0;
    const auto x = [&](double v) { return left + (right - left) * (v - low) / (high - low); };
    const auto label = [&](double v) { return share ? fixed(100.0 * v, 0) + "%" : fixed(v, 3); };
    svg << "<line x1=\"" << left << "\" y1=\"" << axis << "\" x2=\"" << right << "\" y2=\"" << axis
        << "\" stroke=\"#888\"/>";
    for (double v : {low, 0.0, high}) {
        svg << "<line x1=\"" << fixed(x(v), 1) << "\" y1=\"" << axis - 4 << "\" x2=\"" << fixed(x(v), 1) << "\" y2=\""
            << axis + 4 << "\" stroke=\"#888\"/><text x=\"" << fixed(x(v), 1) << "\" y=\"" << axis + 20
            << "\" text-anchor=\"middle\" class=\"tick\">" << label(v) << "</text>";
    }
    svg << "<line x1=\"" << fixed(x(s.median), 1) << "\" y1=\"" << axis - 26 << "\" x2=\"" << fixed(x(s.median), 1)
        << "\" y2=\"" << axis + 8
        << "\" stroke=\"#1f5fa8\" stroke-width=\"2\"><title>median of the runs: " << label(s.median)
        << "</title></line>";
    int jitter = 0;
    for (const GroupRow& row : group.rows) {
        const auto v = row.measure(m);
        if (!v || !std::isfinite(*v)) continue;
        const bool outlier = std::find(row.outlierIn.begin(), row.outlierIn.end(), m) != row.outlierIn.end();
        const double y = axis - 8 - 6 * (jitter++ % 3);
        svg << "<circle cx=\"" << fixed(x(*v), 1) << "\" cy=\"" << fixed(y, 1) << "\" r=\"5\" fill=\""
            << (outlier ? "#c0392b" : "#2c7fb8") << "\" fill-opacity=\"0.8\"><title>" << escaped(row.run.id) << ": "
            << label(*v) << "</title></circle>";
        if (outlier) {
            // Named beside its dot, inside the plot whichever end it lies at.
            const double at = x(*v);
            const char* anchor = at > 0.7 * width ? "end" : at < 0.3 * width ? "start" : "middle";
            svg << "<text x=\"" << fixed(at, 1) << "\" y=\"" << fixed(y - 10, 1) << "\" text-anchor=\"" << anchor
                << "\" class=\"outlier-label\">" << escaped(row.run.id) << "</text>";
        }
    }
    svg << "</svg></figure>";
    return svg.str();
}

// A 3D map's values and extents; the report only pictures maps of one volume.
struct MapValues {
    int nx = 0, ny = 0, nz = 0;
    std::vector<float> values;
};

MapValues readMapValues(const std::string& path) {
    const NiftiImagePtr image = readNiftiImage(path, true);
    MapValues map{static_cast<int>(image->nx), static_cast<int>(image->ny), static_cast<int>(image->nz), {}};
    const std::size_t count = static_cast<std::size_t>(map.nx) * map.ny * map.nz;
    map.values.resize(count);
    for (std::size_t i = 0; i < count; ++i) map.values[i] = static_cast<float>(scaledValue(*image, i));
    return map;
}

// A picture of one map over the model-1 tSNR map in grey, as a data: URL.
std::string mosaic(const std::string& title, const MapValues& map, const std::vector<float>& background, float lower,
                   float upper) {
    MapPanel panel;
    panel.name = title;
    panel.map.header.DimX = map.nx;
    panel.map.header.DimY = map.ny;
    panel.map.header.DimZ = map.nz;
    panel.map.header.LowerThreshold = lower;
    panel.map.header.UpperThreshold = upper;
    panel.map.values = map.values;
    const std::vector<float>& grey = background.size() == map.values.size() ? background : std::vector<float>();
    return "data:image/png;base64," + base64(encodePng(renderMaps({panel}, grey, 2)));
}

float largestMagnitude(const std::vector<float>& values) {
    float m = 0.0f;
    for (float v : values) {
        if (std::isfinite(v)) m = std::max(m, std::fabs(v));
    }
    return m;
}

// The row's pictures, or why there are none (also added to warnings).
std::string mapPictures(const GroupRow& row, std::vector<std::string>& warnings) {
    std::string html;
    std::vector<float> background;
    try {
        if (!row.tsnrMap.empty()) background = readMapValues(row.tsnrMap).values;
    } catch (const std::exception&) {
        background.clear();
    }
    const auto picture = [&](const std::string& path, const std::string& title, bool isF) {
        if (path.empty()) return;
        try {
            const MapValues map = readMapValues(path);
            const float top = largestMagnitude(map.values);
            float lower = isF ? static_cast<float>(row.fdrThreshold && *row.fdrThreshold > 0 ? *row.fdrThreshold : 1.3)
                              : std::max(top / 10.0f, 1e-6f);
            const float upper = std::max(top, lower * 1.01f);
            html += "<img alt=\"" + escaped(title + " of " + row.run.id) + "\" src=\"" +
                    mosaic(title, map, background, lower, upper) + "\">";
        } catch (const std::exception& e) {
            warnings.push_back(row.run.id + ": the map " + path + " cannot be pictured: " + e.what());
        }
    };
    picture(row.fMap, "-log10 p of F", true);
    picture(row.deltaTsnrMap, "tSNR gain", false);
    return html.empty() ? "<span class=\"none\">no maps</span>" : html;
}

const char kStyle[] =
    R"(body{font-family:system-ui,-apple-system,"Segoe UI",sans-serif;margin:2em;color:#222}
h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #ccc;padding-bottom:.2em;margin-top:1.6em}
#decision{background:#eef4fb;border:1px solid #b7cde6;border-radius:6px;padding:.8em 1.2em}
.verdict{font-size:1.3em;font-weight:600;margin:.3em 0}
table{border-collapse:collapse;font-size:.9em}th,td{border:1px solid #ddd;padding:.3em .5em;text-align:right;vertical-align:top}
th{background:#f4f4f4}td.name{text-align:left;font-family:monospace}tr.failed td{background:#fdecea}
tr.outlier td.name{color:#c0392b;font-weight:600}td.maps{text-align:left;white-space:nowrap}td.maps img{display:inline-block;margin:.2em .3em .2em 0;image-rendering:pixelated}td.name{white-space:nowrap}
figure{margin:.6em 0}figcaption{font-weight:600;font-size:.95em}.tick{font-size:11px;fill:#555}.outlier-label{font-size:11px;fill:#c0392b}
.warnings li{margin:.2em 0}.warnings .failed{color:#b03020}.none{color:#888}.note{color:#555;font-size:.9em;margin:0 0 .4em}code{background:#f4f4f4;padding:0 .2em})";

std::string decisionSection(const StudyGroup& group) {
    std::ostringstream html;
    html << "<section id=\"decision\"><h2>Decision</h2><p class=\"verdict\">" << escaped(studyDecision(group))
         << "</p><p class=\"note\">A run counts when the median over its voxels of model 2's tSNR minus model "
            "1's is above 0.</p><ul>";
    for (GroupMeasure m : groupMeasures()) {
        html << "<li>" << escaped(measureTitle(m)) << ": "
             << escaped(spreadText(spreadOf(group, m), m == GroupMeasure::ShareFSurvivesFdr)) << ".</li>";
    }
    std::vector<std::string> outliers;
    for (const GroupRow& row : group.rows) {
        if (row.outlierIn.empty()) continue;
        std::string measures;
        for (GroupMeasure m : row.outlierIn) measures += std::string(measures.empty() ? "" : ", ") + measureName(m);
        outliers.push_back("<b>" + escaped(row.run.id) + "</b> (" + measures + ")");
    }
    html << "<li>Run-level outliers (Tukey's fences): ";
    if (outliers.empty()) html << "none";
    for (std::size_t i = 0; i < outliers.size(); ++i) html << (i ? "; " : "") << outliers[i];
    html << ".</li>";
    const std::size_t notDone = group.runsNotDone();
    html << "<li>Runs without results: " << notDone
         << (notDone ? " (see <a href=\"#warnings\">warnings</a>)" : std::string()) << ".</li></ul></section>";
    return html.str();
}

std::string runTable(const StudyGroup& group, std::vector<std::string>& warnings) {
    std::ostringstream html;
    html << "<section id=\"runs\"><h2>Runs</h2><table><thead><tr><th>run</th><th>status</th><th>voxels</th>"
            "<th>predictors</th><th>F df</th><th>F survives FDR</th><th>median tSNR 1 &rarr; 2</th>"
            "<th>median tSNR gain</th><th>tSNR raised in</th><th>median adj. R&sup2; gain</th><th>warnings</th>"
            "<th>maps</th></tr></thead><tbody>";
    for (const GroupRow& row : group.rows) {
        const bool done = row.status == "done";
        html << "<tr id=\"run-" << escaped(row.run.id) << "\" class=\"" << (done ? "" : "failed")
             << (row.outlierIn.empty() ? "" : " outlier") << "\"><td class=\"name\">" << escaped(row.run.id)
             << "</td><td>" << escaped(row.status) << "</td>";
        if (!done) {
            html << "<td colspan=\"10\" style=\"text-align:left\">" << escaped(row.error) << "</td></tr>";
            continue;
        }
        html << "<td>" << shown(row.voxelsAnalysed, 0) << "</td><td>" << shown(row.predictors1, 0) << " / "
             << shown(row.predictors2, 0) << "</td><td>"
             << (row.fDf1 ? shown(row.fDf1, 0) + ", " + shown(row.fDf2, 0) : "not nested") << "</td><td>"
             << percent(row.shareFSurvivesFdr) << "</td><td>" << shown(row.medianTsnr1, 2) << " &rarr; "
             << shown(row.medianTsnr2, 2) << "</td><td>" << shown(row.medianDeltaTsnr, 3) << "</td><td>"
             << percent(row.shareTsnrRaised) << "</td><td>" << shown(row.medianDeltaR2adj, 4) << "</td><td>"
             << row.warnings.size() << "</td><td class=\"maps\">" << mapPictures(row, warnings) << "</td></tr>";
    }
    html << "</tbody></table></section>";
    return html.str();
}

std::string warningList(const StudyGroup& group, const std::vector<std::string>& pictureWarnings) {
    std::ostringstream html;
    html << "<section id=\"warnings\" class=\"warnings\"><h2>Warnings</h2><ul>";
    std::size_t count = 0;
    for (const GroupRow& row : group.rows) {
        if (row.status == "failed") {
            html << "<li class=\"failed\"><b>" << escaped(row.run.id) << "</b> failed: " << escaped(row.error)
                 << "</li>";
            ++count;
        } else if (row.status != "done") {
            html << "<li class=\"failed\"><b>" << escaped(row.run.id)
                 << "</b> has not run (no record of it in the output folder)</li>";
            ++count;
        }
        for (const std::string& w : row.warnings) {
            html << "<li><b>" << escaped(row.run.id) << "</b>: " << escaped(w) << "</li>";
            ++count;
        }
    }
    for (const std::string& w : pictureWarnings) {
        html << "<li>" << escaped(w) << "</li>";
        ++count;
    }
    if (count == 0) html << "<li>none</li>";
    html << "</ul></section>";
    return html.str();
}

std::string runCount(std::size_t count) { return std::to_string(count) + (count == 1 ? " run" : " runs"); }

// Nothing to decide on: says why, and where each failed run's error is.
std::string noResultDecision(const StudyGroup& group) {
    const std::size_t runs = group.rows.size();
    const std::size_t failed = group.failedRuns();
    const std::size_t notRun = group.runsNotDone() - failed;
    const std::size_t withoutMedian = runs - group.runsNotDone();
    if (runs == 0) return "No run was selected, so nothing is decided.";
    std::string why;
    if (failed == runs) {
        why = runs == 1 ? "the run failed" : "all " + runCount(runs) + " failed";
    } else if (notRun == runs) {
        why = runs == 1 ? "the run has not run" : "none of the " + runCount(runs) + " has run";
    } else {
        std::vector<std::string> parts;
        if (failed > 0) parts.push_back(runCount(failed) + " failed");
        if (notRun > 0) parts.push_back(runCount(notRun) + (notRun == 1 ? " has" : " have") + " not run");
        if (withoutMedian > 0) parts.push_back(runCount(withoutMedian) + " gave no median tSNR gain");
        for (std::size_t i = 0; i < parts.size(); ++i) {
            why += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
        }
        why += " (of " + runCount(runs) + ")";
    }
    return "No run has a result, so nothing is decided: " + why +
           (failed > 0   ? "; each failed run's error is in the error column of group.tsv and under Warnings in the "
                           "report."
            : notRun > 0 ? "; run the participant level first."
                         : ".");
}

std::string runsWithoutResult(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " run has" : " runs have") + " no result";
}

} // namespace

std::string studyDecision(const StudyGroup& group) {
    std::size_t raised = 0, known = 0;
    for (const GroupRow& row : group.rows) {
        if (!row.medianDeltaTsnr || !std::isfinite(*row.medianDeltaTsnr)) continue;
        ++known;
        raised += *row.medianDeltaTsnr > 0.0;
    }
    if (known == 0) return noResultDecision(group);
    return "Model 2 (" + group.models.model2 + ") raises the median tSNR over model 1 (" + group.models.model1 +
           ") in " + std::to_string(raised) + " of " + std::to_string(known) + " runs" +
           (known == group.rows.size() ? std::string(".") : "; " + runsWithoutResult(group.rows.size() - known) + ".");
}

std::string studyReportHtml(const StudyGroup& group) {
    std::vector<std::string> pictureWarnings;
    const std::string runs = runTable(group, pictureWarnings);
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Study report: "
         << escaped(group.models.model1) << " against " << escaped(group.models.model2) << "</title><style>" << kStyle
         << "</style></head><body>\n<h1>Confound models compared over " << group.rows.size() << " runs: model 1 <code>"
         << escaped(group.models.model1) << "</code> against model 2 <code>" << escaped(group.models.model2)
         << "</code></h1>\n"
         << decisionSection(group) << "\n<section id=\"plots\"><h2>Across runs</h2>";
    for (GroupMeasure m : groupMeasures()) html << stripPlot(group, m);
    html << "</section>\n" << runs << "\n" << warningList(group, pictureWarnings) << "\n</body></html>\n";
    return html.str();
}

} // namespace corvantis
