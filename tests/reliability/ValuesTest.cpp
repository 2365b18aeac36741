// Nothing the user gives is guessed and nothing the host notices is silent:
// parameters are checked against the dialog script that declares them, tasks
// the dialog never gives and empty design parameters are warned of, every
// start says how many voxels it analysed, --strict turns warnings into a
// failing status, and make-sdm refuses values that are not finite floats.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "Scenario.h"
#include "host/core/AnalysedVoxels.h"
#include "host/core/DialogScript.h"
#include "host/core/HostWarnings.h"
#include "host/core/ParameterKinds.h"

namespace {

using corvantis::ParameterKind;
using hosttest::Outcome;
using itest::Scenario;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

const std::string kDeclared =
    "fmr_threshold, tSNR1, tSNR2, tSNR3, R2adj1, R2adj2, R2adj3, Fmap, residuals1, "
    "residuals2, sdmfile1, sdmfile2";

Outcome corvantis(const std::vector<std::string>& args) {
    return hosttest::runProgram(hosttest::corvantisProgram(), args);
}

// The first line of a refusal, before the help that follows it.
std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The voxels whose time course, as the .stc bytes hold it, starts with a number
// and never has a number at or below threshold (NaNs after the first volume
// are not numbers to compare).
int64_t expectedAnalysed(const std::string& stc, int32_t voxels, float threshold) {
    const std::vector<float> values = itest::readFloats(stc);
    const std::size_t volumes = values.size() / static_cast<std::size_t>(voxels);
    int64_t analysed = 0;
    for (int32_t l = 0; l < voxels; ++l) {
        bool passes = volumes > 0 && !std::isnan(values[static_cast<std::size_t>(l)]);
        for (std::size_t v = 0; passes && v < volumes; ++v) {
            const float value = values[v * static_cast<std::size_t>(voxels) + static_cast<std::size_t>(l)];
            passes = std::isnan(value) || value > threshold;
        }
        analysed += passes ? 1 : 0;
    }
    return analysed;
}

std::string countLine(int64_t analysed, int32_t voxels, const std::string& threshold) {
    return "Corvantis: " + std::to_string(analysed) + " of " + std::to_string(voxels) +
           " voxels analysed (time course above the threshold " + threshold + " in every volume)\n";
}

TEST(ParameterKinds, TheDefaultTellsTheKind) {
    EXPECT_EQ(corvantis::kindOfDefault("0"), ParameterKind::integer);
    EXPECT_EQ(corvantis::kindOfDefault("1"), ParameterKind::integer);
    EXPECT_EQ(corvantis::kindOfDefault("100"), ParameterKind::number);
    EXPECT_EQ(corvantis::kindOfDefault("2"), ParameterKind::number);
    EXPECT_EQ(corvantis::kindOfDefault("-0.5e2"), ParameterKind::number);
    EXPECT_EQ(corvantis::kindOfDefault(""), ParameterKind::text);
    EXPECT_EQ(corvantis::kindOfDefault("model.sdm"), ParameterKind::text);
    EXPECT_EQ(corvantis::kindOfDefault("inf"), ParameterKind::text);
    EXPECT_EQ(corvantis::kindOfDefault(" 1"), ParameterKind::number);
}

TEST(ParameterKinds, ValuesMustReadCompletelyAsTheirKind) {
    for (const char* good : {"0", "1", "-3", "+7", " 12 ", "2147483647"}) {
        EXPECT_TRUE(corvantis::isValueOf(ParameterKind::integer, good)) << good;
    }
    for (const char* bad : {"", " ", "yes", "1.5", "1e2", "0x1", "2147483648", "1 2"}) {
        EXPECT_FALSE(corvantis::isValueOf(ParameterKind::integer, bad)) << bad;
    }
    for (const char* good : {"100", " 250.5 ", "-1e-3", "1e9", "0"}) {
        EXPECT_TRUE(corvantis::isValueOf(ParameterKind::number, good)) << good;
    }
    for (const char* bad : {"", "abc", "inf", "-inf", "nan", "1e999", "100 volts"}) {
        EXPECT_FALSE(corvantis::isValueOf(ParameterKind::number, bad)) << bad;
    }
    EXPECT_TRUE(corvantis::isValueOf(ParameterKind::text, ""));
}

TEST(ParameterKinds, SettingProblemsNameTheParameterAndTheDeclaredOnes) {
    const std::vector<corvantis::ParameterDefault> declared = {{"fmr_threshold", "100"}, {"Fmap", "1"}, {"f", ""}};
    EXPECT_EQ(corvantis::settingProblem(declared, "fmap", "1"),
              "the dialog script declares no parameter \"fmap\"; it declares fmr_threshold, Fmap, f");
    EXPECT_EQ(corvantis::settingProblem({}, "x", "1"),
              "the dialog script declares no parameter \"x\"; it declares none");
    EXPECT_EQ(corvantis::settingProblem(declared, "Fmap", "yes"),
              "Fmap takes an integer (its default is \"1\"), not \"yes\"");
    EXPECT_EQ(corvantis::settingProblem(declared, "fmr_threshold", "nan"),
              "fmr_threshold takes a finite number (its default is \"100\"), not \"nan\"");
    EXPECT_EQ(corvantis::settingProblem(declared, "f", "any text at all"), std::nullopt);
    EXPECT_EQ(corvantis::settingProblem(declared, "Fmap", "-2"), std::nullopt);
}

TEST(DialogTasks, AreTheTasksTheScriptHandsThePlugin) {
    const std::string script =
        "dialog.setStringParameter(\"task\", \"choose_sdm\");\n"
        "  x(); dialog.setStringParameter( \"task\" , \"start\" ); y();\n"
        "dialog.setStringParameter(\"sdmfile1\", \"other\");\n"
        "dialog.setStringParameter(\"task\", \"start\");\n"
        "dialog.setStringParameter(\"task\", name);\n";
    EXPECT_EQ(corvantis::parseDialogTasks(script), (std::vector<std::string>{"choose_sdm", "start"}));
    EXPECT_TRUE(corvantis::parseDialogTasks("param(\"task\", \"start\");\n").empty());
}

TEST(AnalysedVoxels, FollowThePluginsRunningMinimum) {
    // Voxels: at the threshold, just above it, NaN first, NaN later, low later.
    const float above = std::nextafter(100.0f, 200.0f);
    const std::vector<std::vector<float>> volumes = {{100.0f, above, kNaN, 150.0f, 150.0f},
                                                     {150.0f, above, 150.0f, kNaN, 99.0f}};
    corvantis::TimeCourses courses(2, 5, corvantis::kDataTypeFloat32);
    float** data = courses.floatVolumes();
    for (int v = 0; v < 2; ++v) {
        for (int l = 0; l < 5; ++l) data[v][l] = volumes[static_cast<std::size_t>(v)][static_cast<std::size_t>(l)];
    }
    EXPECT_EQ(corvantis::countAnalysedVoxels(courses, 100.0f), 2); // just above, NaN later
    EXPECT_EQ(corvantis::countAnalysedVoxels(courses, 0.0f), 4);
    EXPECT_EQ(corvantis::countAnalysedVoxels(courses, kNaN), 0);
    EXPECT_EQ(corvantis::countAnalysedVoxels(corvantis::TimeCourses(0, 5, corvantis::kDataTypeFloat32), -1e9f), 0);
    EXPECT_EQ(corvantis::countAnalysedVoxels(corvantis::TimeCourses(2, 5, corvantis::kDataTypeInt16), -1e9f), 0);
}

TEST(HostWarnings, CountsEveryWarningLineWrittenToTheStreamAndPassesItOn) {
    std::ostringstream out;
    int counted = 0;
    {
        corvantis::HostWarnings warnings(out);
        warnings.warn("one");
        out << "Corvantis: warning: from the services\n";
        out << "Error: Corvantis: warning: inside a line\nCorvantis: warn\n";
        warnings.note("a note");
        out << "Corvantis: warn"
            << "ing: in pieces\n";
        counted = warnings.count();
    }
    EXPECT_EQ(counted, 3);
    out << "after\n"; // the stream's own buffer is back
    EXPECT_EQ(out.str(),
              "Corvantis: warning: one\nCorvantis: warning: from the services\n"
              "Error: Corvantis: warning: inside a line\nCorvantis: warn\nCorvantis: a note\n"
              "Corvantis: warning: in pieces\nafter\n");
}

// A failure's message carries the warnings' own texts, however they were written.
TEST(HostWarnings, KeepsTheTextOfEveryWarningLine) {
    std::ostringstream out;
    corvantis::HostWarnings warnings(out);
    warnings.warn("cannot save \"a.map\": disk full");
    out << "Corvantis: warning: from the services\n"
        << "not one: Corvantis: warning: inside a line\n";
    out << "Corvantis: warn"
        << "ing: in "
        << "pieces\n";
    out << "Corvantis: warning: not ended yet";
    EXPECT_EQ(warnings.messages(),
              (std::vector<std::string>{"cannot save \"a.map\": disk full", "from the services", "in pieces"}));
}

TEST(SetValues, AnUndeclaredNameIsAUsageMistakeListingTheDeclaredOnes) {
    Scenario s;
    const Outcome o = s.run({"--set", "tsnr1=0"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(firstLine(o.err),
              "Corvantis: --set: the dialog script declares no parameter \"tsnr1\"; it declares " + kDeclared);
    EXPECT_NE(o.err.find("\n\nCorvantis - a stand-in"), std::string::npos);
    EXPECT_EQ(o.out, "");
    EXPECT_FALSE(hosttest::fileExists(s.dir.file("model1_tSNR_residuals.map")));
}

TEST(SetValues, ValuesNotOfTheParametersKindAreRefused) {
    Scenario s;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"tSNR1=yes", "tSNR1 takes an integer (its default is \"1\"), not \"yes\""},
        {"residuals1=1.5", "residuals1 takes an integer (its default is \"0\"), not \"1.5\""},
        {"Fmap=", "Fmap takes an integer (its default is \"1\"), not \"\""},
        {"fmr_threshold=abc", "fmr_threshold takes a finite number (its default is \"100\"), not \"abc\""},
        {"fmr_threshold=inf", "fmr_threshold takes a finite number (its default is \"100\"), not \"inf\""},
        {"fmr_threshold=nan", "fmr_threshold takes a finite number (its default is \"100\"), not \"nan\""},
    };
    for (const auto& [setting, problem] : cases) {
        const Outcome o = s.run({"--set", setting});
        EXPECT_EQ(o.status, 2) << setting;
        EXPECT_EQ(firstLine(o.err), "Corvantis: --set: " + problem);
        EXPECT_EQ(o.out, "") << setting;
    }
}

TEST(SetValues, WellFormedValuesReachThePluginUnchanged) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    const Outcome o = s.run({"--trace", trace, "--set", "fmr_threshold= 250.5 ", "--set", "tSNR1=+0", "--set",
                             "tSNR2= 7", "--set", "Fmap=-2", "--set", "sdmfile1=" + s.sdm1});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(hosttest::readFile(trace).find("cvGetFloatParameter(\"fmr_threshold\") -> 250.5\n"
                                             "cvGetIntParameter(\"tSNR1\") -> 0\n"
                                             "cvGetIntParameter(\"tSNR2\") -> 7\n"),
              std::string::npos)
        << hosttest::readFile(trace);
    EXPECT_NE(hosttest::readFile(trace).find("cvGetIntParameter(\"Fmap\") -> -2\n"), std::string::npos);
}

TEST(Tasks, ATaskTheDialogDoesNotOfferIsWarnedOfAndPassedOn) {
    Scenario s;
    const std::string trace = s.dir.file("trace.txt");
    const Outcome o = s.run({"--trace", trace}, {"begin"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err,
              "Corvantis: warning: the dialog offers no task \"begin\" (it offers choose_sdm, start); the "
              "plug-in is given it all the same\n");
    EXPECT_NE(hosttest::readFile(trace).find("cvGetStringParameter(\"task\") -> \"begin\"\n"), std::string::npos);
    EXPECT_EQ(o.out, "\nQuorvex>  Running...\n\nQuorvex>  Plugin finished!\n\n\n");
}

TEST(Tasks, AnEmptyDesignParameterIsWarnedOfBeforeTheStart) {
    Scenario s;
    const Outcome o =
        hosttest::runProgram(hosttest::corvantisProgram(), {"--fmr", s.fmr, "--set", "sdmfile2=" + s.sdm2, "start"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "Corvantis: warning: the parameter sdmfile1 is empty: the start task has no design file for it\n"
              "Error: Failed opening for reading: \n");
    const Outcome both = s.run({"--set", "sdmfile1=", "--set", "sdmfile2="}, {"choose_sdm", "start"});
    EXPECT_EQ(both.err.rfind("Corvantis: warning: the parameter sdmfile1 is empty: the start task has no design "
                             "file for it\nCorvantis: warning: the parameter sdmfile2 is empty: ",
                             0),
              0u)
        << both.err;
}

TEST(VoxelCount, EveryStartSaysHowManyVoxelsItAnalysed) {
    Scenario s;
    // Beside the background: a voxel exactly at the threshold, one just above
    // it, one with NaN in volume 0 and one with NaN later.
    for (int32_t v = 0; v < s.volumes; ++v) {
        s.at(1, v) = 250.0f;
        s.at(2, v) = std::nextafter(250.0f, 300.0f);
    }
    s.at(3, 0) = kNaN;
    s.at(4, 5) = kNaN;
    s.at(6, 7) = 249.0f;
    s.write();
    const int64_t analysed = expectedAnalysed(s.dir.file("run.stc"), s.voxels(), 250.0f);
    ASSERT_GT(analysed, 0);
    ASSERT_LT(analysed, s.voxels() - 5); // the special voxels are not all counted
    const Outcome o = s.run({"--set", "fmr_threshold=250"}, {"start", "start"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, countLine(analysed, s.voxels(), "250") + countLine(analysed, s.voxels(), "250"));
    EXPECT_NE(o.out.find("Quorvex>  Saving Maps...\n"), std::string::npos);
}

TEST(VoxelCount, NoVoxelAboveTheThresholdIsWarnedOf) {
    Scenario s;
    const Outcome o = s.run({"--set", "fmr_threshold=1e9"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, countLine(0, s.voxels(), "1e+09") +
                         "Corvantis: warning: no voxel's time course stays above the threshold 1e+09; every map is "
                         "empty\n");
}

TEST(Strict, AnyWarningEndsTheRunWithStatusThree) {
    Scenario s;
    const Outcome task = s.run({"--strict"}, {"begin"});
    EXPECT_EQ(task.status, 3);
    EXPECT_EQ(task.err.substr(task.err.find('\n') + 1), "Corvantis: error: --strict and 1 warning: exit status 3\n");

    const Outcome empty = s.run({"--strict", "--set", "fmr_threshold=1e9"});
    EXPECT_EQ(empty.status, 3) << empty.err;

    // The services' own warnings count too: a save the read-only host refuses.
    const Outcome save = s.run({"--strict", "--read-only", "--set", "tSNR2=0", "--set", "tSNR3=0", "--set", "R2adj1=0",
                                "--set", "R2adj2=0", "--set", "R2adj3=0", "--set", "Fmap=0"});
    EXPECT_EQ(save.status, 3) << save.err;
    EXPECT_NE(save.err.find("Corvantis: error: --strict and 1 warning: exit status 3\n"), std::string::npos)
        << save.err;

    const Outcome clean = s.run({"--strict"});
    EXPECT_EQ(clean.status, 0) << clean.err;
    const Outcome failing = s.run({"--strict", "--set", "sdmfile1=" + s.dir.file("absent.sdm")});
    EXPECT_EQ(failing.status, 1) << failing.err; // a failure stays a failure
}

TEST(Strict, TheHelpDescribesItsStatus) {
    const Outcome help = corvantis({"--help"});
    EXPECT_NE(help.out.find("  --strict              any warning fails the run (exit status 3)"), std::string::npos);
    EXPECT_NE(help.out.find("3 with --strict when the\nrun would have ended with 0 but the host gave a warning."),
              std::string::npos);
}

class MakeSdmValues : public ::testing::Test {
protected:
    Outcome makeSdm(const std::string& table, const std::vector<std::string>& options) {
        hosttest::writeFile(dir.file("t.tsv"), table);
        std::vector<std::string> args = {"make-sdm", "--table", dir.file("t.tsv"), "--output", dir.file("m.sdm")};
        args.insert(args.end(), options.begin(), options.end());
        return corvantis(args);
    }
    void expectRefused(const Outcome& o, const std::string& error) {
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "Corvantis: error: " + error + "\n");
        EXPECT_EQ(o.out, "");
        EXPECT_FALSE(hosttest::fileExists(dir.file("m.sdm")));
    }

    hosttest::TempDir dir;
};

TEST_F(MakeSdmValues, TableValuesThatAreNotFiniteAreRefusedByColumnAndDataRow) {
    const std::string where = "\"" + dir.file("t.tsv") + "\": row 2, column \"x\" holds ";
    expectRefused(makeSdm("task\tx\n1\t2\n0\tinf\n", {"--confounds", "x"}),
                  where + "\"inf\", not a finite number or \"n/a\"");
    expectRefused(makeSdm("task\tx\n1\t2\n0\tnan\n", {"--confounds", "x"}),
                  where + "\"nan\", not a finite number or \"n/a\"");
    // A blank line is no row: the row number stays the volume.
    expectRefused(makeSdm("task\tx\n1\t2\n\n0\t1e999\n", {"--confounds", "x"}),
                  where + "\"1e999\", not a finite number or \"n/a\"");
}

TEST_F(MakeSdmValues, DesignValuesBeyondAFloatAreRefusedByColumnAndRow) {
    // Kept raw, a square or a difference can leave the range of a float.
    expectRefused(makeSdm("task\tx\n1\t2\n0\t1e20\n1\t3\n", {"--confounds", "x", "--squares", "x", "--no-standardize"}),
                  "the column \"x squared\" holds 1e+40 in row 2, which is not a finite float");
    expectRefused(makeSdm("task\tx\n1\t2\n0\t1e39\n", {"--confounds", "x", "--no-standardize"}),
                  "the column \"x\" holds 1e+39 in row 2, which is not a finite float");
    expectRefused(makeSdm("x\n1e308\n-1e308\n", {"--interest", "x", "--derivatives", "x", "--no-standardize"}),
                  "the column \"x\" holds 1e+308 in row 1, which is not a finite float");
    expectRefused(makeSdm("x\n1e38\n-3e38\n1e38\n", {"--interest", "x", "--derivatives", "x", "--no-standardize"}),
                  "the column \"x derivative\" holds -4e+38 in row 2, which is not a finite float");
    const Outcome ok = makeSdm("task\tx\n1\t2\n0\t1e18\n1\t3\n1\t4\n0\t-2\n",
                               {"--confounds", "x", "--squares", "x", "--no-standardize"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    // z-scored (the default), values beyond a float are scaled into its range; a
    // difference beyond the range of a double is refused all the same.
    const Outcome scaled = makeSdm("task\tx\n1\t2\n0\t1e39\n1\t3\n0\t1\n1\t2\n", {"--confounds", "x"});
    EXPECT_EQ(scaled.status, 0) << scaled.err;
    std::filesystem::remove(dir.file("m.sdm"));
    expectRefused(makeSdm("x\n1e308\n-1e308\n", {"--interest", "x", "--derivatives", "x"}),
                  "the column \"x derivative\" holds -inf in row 1, which is not a finite float");
}

} // namespace
