// make-sdm on a pipeline's outputs for one run: a strategy, the run's events and
// TR, the sidecar found beside the table, the record written beside the design,
// and what is refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "HostTestSupport.h"
#include "design/SDMReader.h"

namespace {

using hosttest::Outcome;
using hosttest::TempDir;
using Json = nlohmann::json;
using Names = std::vector<std::string>;

const std::string kData = QUORVEX_DESIGN_FIXTURES;
const char kPrefix[] = "sub-01_task-go";

Outcome corvantis(const std::vector<std::string>& args) {
    return hosttest::runProgram(hosttest::corvantisProgram(), args);
}

// The pipeline's files copied into a folder of their own, with an 80-volume run of TR 2 s.
struct PipelineRun {
    TempDir dir;
    std::string table, sidecar, events, fmr;

    PipelineRun() {
        for (const char* suffix :
             {"_desc-confounds_timeseries.tsv", "_desc-confounds_timeseries.json", "_events.tsv"}) {
            std::filesystem::copy_file(kData + "/" + kPrefix + suffix, dir.file(kPrefix + std::string(suffix)));
        }
        table = dir.file(std::string(kPrefix) + "_desc-confounds_timeseries.tsv");
        sidecar = dir.file(std::string(kPrefix) + "_desc-confounds_timeseries.json");
        events = dir.file(std::string(kPrefix) + "_events.tsv");
        fmr = hosttest::writeRun(dir.path(), "run", 2, 1, 1, 80, 2, hosttest::floatBytes(std::vector<float>(160, 1.0f)),
                                 "TR: 2000\n");
    }
};

TEST(MakeSdmStrategy, WritesTheDesignAndItsRecord) {
    PipelineRun run;
    const std::string sdm = run.dir.file("compcor.sdm");
    const Outcome o = corvantis({"make-sdm", "--fmr", run.fmr, "--table", run.table, "--events", run.events,
                                 "--hrf-derivative", "--strategy", "compcor", "--output", sdm});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const SDMFile read = readSDMFile(sdm);
    Names expected = {"go", "go_derivative", "stop", "stop_derivative"};
    for (const char* suffix : {"", "_derivative1", "_power2", "_derivative1_power2"}) {
        for (const char* base : {"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z"}) {
            expected.push_back(std::string(base) + suffix);
        }
    }
    for (const char* name : {"a_comp_cor_00", "a_comp_cor_01", "a_comp_cor_02", "a_comp_cor_03", "cosine00", "cosine01",
                             "cosine02", "cosine03", "Constant"}) {
        expected.push_back(name);
    }
    EXPECT_EQ(read.predictorNames, expected);
    EXPECT_EQ(read.firstConfoundPredictor.value, 5);
    const std::string said = "Wrote " + sdm +
                             " (37 predictors, first confound 5, 80 data points; rank 37, 43 residual "
                             "degrees of freedom, condition number ";
    EXPECT_EQ(o.out.rfind(said, 0), 0u) << o.out;
    const std::string end = ") and " + run.dir.file("compcor.json") + "\n";
    EXPECT_EQ(o.out.substr(o.out.size() - std::min(o.out.size(), end.size())), end) << o.out;

    const Json record = Json::parse(hosttest::readFile(run.dir.file("compcor.json")));
    EXPECT_EQ(record["volumes"], 80);
    EXPECT_EQ(record["tr_seconds"], 2.0);
    EXPECT_EQ(record["tables"], Json::array({run.table}));
    EXPECT_EQ(record["table_sidecar"], run.sidecar);
    EXPECT_EQ(record["strategy"]["given"], "compcor");
    EXPECT_EQ(record["strategy"]["expanded"], "motion=full,compcor=anat_combined:0.5,high_pass");
    EXPECT_EQ(record["events"]["file"], run.events);
    EXPECT_EQ(record["events"]["conditions"], Json::array({"go", "stop"}));
    EXPECT_EQ(record["events"]["events"], 14);
    EXPECT_EQ(record["events"]["hrf"]["peak_shape"], 6.0);
    EXPECT_EQ(record["events"]["hrf"]["undershoot_shape"], 16.0);
    EXPECT_EQ(record["events"]["hrf"]["temporal_derivative"], true);
    EXPECT_EQ(record["standardize"], true);
    EXPECT_EQ(record["first_confound_predictor"], 5);
    const Json& columns = record["columns"];
    ASSERT_EQ(columns.size(), 37u);
    for (std::size_t j = 0; j < columns.size(); ++j) {
        EXPECT_EQ(columns[j]["index"], j + 1);
        EXPECT_EQ(columns[j]["name"], expected[j]);
    }
    EXPECT_EQ(columns[0]["source"], "events");
    EXPECT_EQ(columns[0]["role"], "interest");
    EXPECT_EQ(columns[0]["from"], "go");
    const Json& derivative = columns[10]; // trans_x_derivative1, "n/a" in its first row
    EXPECT_EQ(derivative["name"], "trans_x_derivative1");
    EXPECT_EQ(derivative["role"], "confound");
    EXPECT_EQ(derivative["file"], run.table);
    EXPECT_EQ(derivative["transformation"], "as in the table");
    EXPECT_EQ(derivative["filled"], 1);
    EXPECT_NEAR(derivative["fill_value"].get<double>(), derivative["mean"].get<double>(), 1e-15);
    EXPECT_EQ(derivative["standardized"], true);
    EXPECT_GT(derivative["sd"].get<double>(), 0.0);
    EXPECT_EQ(columns[4]["filled"], 0);
    EXPECT_TRUE(columns[4]["fill_value"].is_null());
    EXPECT_EQ(columns[36]["role"], "constant");
    EXPECT_TRUE(columns[36]["mean"].is_null());
    EXPECT_EQ(record["warnings"], Json::array());
}

TEST(MakeSdmStrategy, ScrubbingNamesItsSpikesAndTheRecordSaysWhy) {
    PipelineRun run;
    const std::string sdm = run.dir.file("s.sdm");
    const Outcome o = corvantis({"make-sdm", "--volumes", "80", "--table", run.table, "--strategy",
                                 "6P,scrub=fd:0.5:segment:0,a_comp_cor_1*", "--output", sdm});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(readSDMFile(sdm).predictorNames,
              (Names{"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z", "scrub_volume_10", "scrub_volume_11",
                     "scrub_volume_15", "scrub_volume_18", "a_comp_cor_10", "Constant"}));
    const Json record = Json::parse(hosttest::readFile(run.dir.file("s.json")));
    EXPECT_EQ(record["columns"][6]["transformation"],
              "spike: 1 at this volume, 0 elsewhere (framewise_displacement 0.81 above 0.5)");
    EXPECT_EQ(record["columns"][6]["source"], "scrub");
    EXPECT_TRUE(record["tr_seconds"].is_null());
    EXPECT_TRUE(record["table_sidecar"].is_null()); // no compcor component: the sidecar is not read
}

TEST(MakeSdmStrategy, EventsAloneMakeADesignOfTheirConditions) {
    PipelineRun run;
    const std::string sdm = run.dir.file("events.sdm");
    const Outcome o = corvantis(
        {"make-sdm", "--events", run.events, "--volumes", "80", "--tr", "2", "--no-standardize", "--output", sdm});
    ASSERT_EQ(o.status, 0) << o.err;
    const SDMFile read = readSDMFile(sdm);
    EXPECT_EQ(read.predictorNames, (Names{"go", "stop", "Constant"}));
    EXPECT_EQ(read.firstConfoundPredictor.value, 3);
    // Raw, a regressor is the response's integral over the events: 0 before the first event's response.
    EXPECT_EQ(read.predictorValues[1][0], 0.0f);
    EXPECT_GT(read.predictorValues[1][5], 0.1f);
    const Json record = Json::parse(hosttest::readFile(run.dir.file("events.json")));
    EXPECT_EQ(record["standardize"], false);
    EXPECT_EQ(record["columns"][0]["standardized"], false);
    EXPECT_EQ(record["tables"], Json::array());

    const Outcome none = corvantis({"make-sdm", "--volumes", "80", "--output", sdm});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("Corvantis: make-sdm needs at least one --table FILE or --events FILE\n", 0), 0u)
        << none.err;
}

TEST(MakeSdmStrategy, RefusesBeforeWritingAnything) {
    PipelineRun run;
    const std::string sdm = run.dir.file("m.sdm");
    const auto nothingWritten = [&] {
        EXPECT_FALSE(hosttest::fileExists(sdm));
        EXPECT_FALSE(hosttest::fileExists(run.dir.file("m.json")));
    };
    Outcome o = corvantis({"make-sdm", "--table", run.table, "--strategy", "24P,motoin=full", "--output", sdm});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("Corvantis: --strategy: the strategy item \"motoin=full\" is no preset and no component; "
                          "the presets are 6P, 9P, 24P, 36P, simple, scrubbing, compcor; the components are motion, "
                          "wm_csf, global_signal, compcor, high_pass, scrub, non_steady_state; any other item names a "
                          "table column or a glob pattern of columns\n\nUsage: Corvantis make-sdm",
                          0),
              0u)
        << o.err;
    nothingWritten();

    o = corvantis({"make-sdm", "--table", run.table, "--events", run.events, "--output", sdm});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("Corvantis: --events needs the run's TR: give --tr SECONDS, or --fmr RUN with a TR\n", 0), 0u)
        << o.err;
    o = corvantis({"make-sdm", "--fmr", run.fmr, "--tr", "2.5", "--events", run.events, "--output", sdm});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("Corvantis: --tr 2.5 differs from the run's TR of 2 s (the header of \"" + run.fmr +
                              "\"); leave --tr out to use the run's\n",
                          0),
              0u)
        << o.err;
    nothingWritten();

    // Twenty volumes of the table, 36 parameters: no residual degrees of freedom.
    const std::string head = run.dir.file("head.tsv");
    {
        const std::string text = hosttest::readFile(run.table);
        std::size_t end = 0;
        for (int line = 0; line < 21; ++line) end = text.find('\n', end) + 1;
        hosttest::writeFile(head, text.substr(0, end));
    }
    o = corvantis({"make-sdm", "--table", head, "--strategy", "36P", "--output", sdm});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Corvantis: error: \"" + sdm +
                         "\" has 37 predictors of rank 20 for 20 volumes: no residual "
                         "degrees of freedom are left to estimate the noise; use fewer confounds or a longer run\n");
    nothingWritten();

    // The record would replace an input.
    o = corvantis({"make-sdm", "--table", run.table, "--table-json", run.sidecar, "--strategy", "compcor", "--output",
                   run.dir.file(std::string(kPrefix) + "_desc-confounds_timeseries.sdm")});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("Corvantis: --output \"" + run.sidecar + "\" is the same file as the input \"" + run.sidecar +
                              "\"; an output must not replace an input\n",
                          0),
              0u)
        << o.err;
}

} // namespace

namespace {

// --output X.sdm beside the table X.tsv: the design's record X.json would be
// the table's sidecar, read by compcor and then replaced, after which every
// compcor design fails. Refused, with or without a strategy that reads it, and
// the sidecar stays as it was.
TEST(MakeSdmStrategy, TheRecordNeverReplacesTheSidecarOfATable) {
    PipelineRun run;
    const std::string sidecar = hosttest::readFile(run.sidecar);
    const std::string sdm = run.dir.file(std::string(kPrefix) + "_desc-confounds_timeseries.sdm");
    for (const char* strategy : {"compcor", "6P"}) {
        const Outcome o =
            corvantis({"make-sdm", "--fmr", run.fmr, "--table", run.table, "--strategy", strategy, "--output", sdm});
        EXPECT_EQ(o.status, 2) << strategy;
        EXPECT_EQ(o.err.rfind("Corvantis: --output \"" + run.sidecar + "\" is the same file as the input \"" +
                                  run.sidecar + "\"; an output must not replace an input\n",
                              0),
                  0u)
            << o.err;
        EXPECT_EQ(hosttest::readFile(run.sidecar), sidecar);
        EXPECT_FALSE(std::filesystem::exists(sdm));
    }
    // compcor still reads it afterwards.
    const Outcome after = corvantis({"make-sdm", "--fmr", run.fmr, "--table", run.table, "--strategy", "compcor",
                                     "--output", run.dir.file("c.sdm")});
    EXPECT_EQ(after.status, 0) << after.err;
}

} // namespace
