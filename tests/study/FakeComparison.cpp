#include "FakeComparison.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "host/formats/AtomicFile.h"
#include "host/formats/ConfoundTable.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiWriter.h"
#include "host/research/ComparisonNames.h"

namespace studytest {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

Json statistics(std::vector<float> values, const std::string& file) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * (values.size() - 1))]; };
    return {{"file", file},   {"min", at(0)}, {"q1", at(0.25)},         {"median", at(0.5)},
            {"q3", at(0.75)}, {"max", at(1)}, {"voxels", values.size()}};
}

void writeMap(const nifti_image& run, const std::vector<float>& values, const fs::path& path) {
    const corvantis::NiftiImagePtr map = corvantis::newImage(run.nx, run.ny, run.nz, 1, DT_FLOAT32);
    std::memcpy(map->data, values.data(), values.size() * sizeof(float));
    map->dx = map->pixdim[1] = run.dx;
    map->dy = map->pixdim[2] = run.dy;
    map->dz = map->pixdim[3] = run.dz;
    corvantis::writeNiftiImage(*map, path.string());
}

void compare(const corvantis::StudyRunRequest& request) {
    const corvantis::NiftiImagePtr run = corvantis::readNiftiImage(request.bold, true);
    const corvantis::ConfoundTable table = corvantis::readConfoundTable(request.confounds);
    const std::size_t voxels = static_cast<std::size_t>(run->nx) * run->ny * run->nz;
    const std::size_t volumes = static_cast<std::size_t>(run->nt);
    if (table.rows() != volumes) throw corvantis::DocumentError("the table's rows are not the run's volumes");
    std::vector<float> maps[5];
    for (std::vector<float>& m : maps) m.assign(voxels, 0.0f);
    std::vector<float> inside[5];
    for (std::size_t l = 0; l < voxels; ++l) {
        double sum = 0, squares = 0;
        for (std::size_t t = 0; t < volumes; ++t) sum += corvantis::scaledValue(*run, t * voxels + l);
        const double mean = sum / volumes;
        if (mean < 1000.0) continue;
        for (std::size_t t = 0; t < volumes; ++t) {
            const double d = corvantis::scaledValue(*run, t * voxels + l) - mean;
            squares += d * d;
        }
        const double tsnr = mean / std::sqrt(squares / volumes);
        const float values[5] = {static_cast<float>(tsnr), static_cast<float>(tsnr * 1.1),
                                 static_cast<float>(0.1 * tsnr), static_cast<float>(tsnr / 10.0),
                                 static_cast<float>(tsnr / 20.0)};
        for (int k = 0; k < 5; ++k) {
            maps[k][l] = values[k];
            inside[k].push_back(values[k]);
        }
    }
    const fs::path out(request.outputFolder);
    const char* const keys[5] = {"tsnr1", "tsnr2", "delta_tsnr", "f", "neglog10p"};
    Json summary = {{"run", request.bold},
                    {"confounds", request.confounds},
                    {"model1", {{"strategy", request.model1}, {"predictors", 25}, {"residual_df", volumes - 25}}},
                    {"model2", {{"strategy", request.model2}, {"predictors", 37}, {"residual_df", volumes - 37}}},
                    {"volumes", volumes},
                    {"voxels_analysed", inside[0].size()},
                    {"nested", true},
                    {"f_df", {12, volumes - 37}},
                    {"fdr", {{"q", 0.05}, {"neglog10p_threshold", 2.5}, {"voxels_surviving", 7}}}};
    for (int k = 0; k < 5; ++k) {
        const std::string file = std::string("fake_") + keys[k] + ".nii.gz";
        writeMap(*run, maps[k], out / file);
        summary["maps"][keys[k]] = statistics(inside[k], file);
    }
    const double medianTsnr = summary["maps"]["tsnr1"]["median"].get<double>();
    summary["share_tsnr_raised"] = 1.0;
    summary["share_f_survives_fdr"] = std::fmod(medianTsnr, 1.0);
    summary["median_delta_tsnr"] = 0.1 * medianTsnr;
    summary["median_delta_r2adj"] = medianTsnr / 1000.0;
    summary["warnings"] = Json::array({"fake comparison of " + fs::path(request.bold).filename().string()});
    summary["timings"] = {{"total_seconds", 0.123}};
    const std::string design = "designs of " + request.model1 + " and " + request.model2 + "\n";
    corvantis::writeFileAtomically(out / "model1.sdm", design.data(), design.size());
    const std::string text = summary.dump(2) + "\n";
    const std::string name = corvantis::summaryFileName(request.comparisonName, request.model1, request.model2);
    corvantis::writeFileAtomically(out / name, text.data(), text.size());
}

} // namespace

corvantis::RunComparison fakeComparison(std::atomic<int>* calls) {
    return [calls](const corvantis::StudyRunRequest& request) {
        if (calls != nullptr) ++*calls;
        compare(request);
    };
}

} // namespace studytest
