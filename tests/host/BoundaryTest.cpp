// The real Quorvex library inside the real Corvantis process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "HostTestSupport.h"

namespace {

using hosttest::Outcome;
using hosttest::TempDir;

const std::string kFinished = "cvLogText(\"\\nQuorvex>  Plugin finished!\\n\")\ncvLogText(\"\")\n";
const std::string kFinishedOut = "\nQuorvex>  Plugin finished!\n\n\n";
const std::string kStartUp =
    "cvGetVersionOfCorvantis() -> 2.8.0\ncvShowLogTab()\ncvLogText(\"\\nQuorvex>  Running...\")\n";

class BoundaryTest : public ::testing::Test {
protected:
    Outcome corvantis(std::vector<std::string> args, const std::string& program = hosttest::corvantisProgram()) {
        args.insert(args.begin(), {"--trace", dir.file("trace.txt")});
        return hosttest::runProgram(program, args);
    }
    std::string traced() const { return hosttest::readFile(dir.file("trace.txt")); }
    std::string floatRun() { return hosttest::writeCountingRun(dir.path(), "run", 2, 2, 1, 3); }

    TempDir dir;
};

TEST_F(BoundaryTest, InfoShowsTheSixTextsAndCreatingThenDeletingCallsNothing) {
    const Outcome outcome =
        hosttest::runProgram(hosttest::corvantisProgram(), {"info", "--trace", dir.file("trace.txt")});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out,
              "getPluginName: \"Quorvex\"\n"
              "getPluginDescription: \"Compares 2 different SDM models against each other\"\n"
              "getAuthor: \"<i>QV</i>\"\n"
              "getPluginVersion: \"1.0\"\n"
              "getHelpFile: \"HelpFolder/index.html\"\n"
              "getGUIScript: \"Quorvex.js\"\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(traced(), "");
}

TEST_F(BoundaryTest, InitialisedObjectStartsUpAndHandsExactlyTwoTextsWhenDeleted) {
    const Outcome outcome = corvantis({"--fmr", floatRun()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(traced(), kStartUp +
                            "cvGetIDOfCurrentDocument() -> 1\ncvGetDocumentType(1) -> 1\n"
                            "cvGetHeaderOfCurrentFMR() -> true\n" +
                            kFinished);
    EXPECT_EQ(outcome.out, "\nQuorvex>  Running...\n" + kFinishedOut);
    EXPECT_EQ(outcome.err, "");
}

TEST_F(BoundaryTest, DocumentIdZeroIsADocument) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--document-id", "0"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(traced().find("cvGetIDOfCurrentDocument() -> 0\ncvGetDocumentType(0) -> 1\n"), std::string::npos);
}

TEST_F(BoundaryTest, RefusesAnOldHostBeforeShowingAnything) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--host-version", "2.7.99"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Can not execute this plugin - Corvantis version 2.8 or higher required.\n");
    EXPECT_EQ(outcome.out, kFinishedOut);
    EXPECT_EQ(traced(),
              "cvGetVersionOfCorvantis() -> 2.7.99\n"
              "cvMessageBox(\"Can not execute this plugin - Corvantis version 2.8 or higher required.\")\n" +
                  kFinished);
}

TEST_F(BoundaryTest, RefusesWithoutACurrentDocument) {
    const Outcome outcome = corvantis({"start"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "No current document available.\n");
    EXPECT_EQ(traced(), kStartUp +
                            "cvGetIDOfCurrentDocument() -> -1\n"
                            "cvMessageBox(\"No current document available.\")\n" +
                            kFinished);
}

TEST_F(BoundaryTest, RefusesAnotherDocumentType) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--document-type", "2", "start"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "The currently active document is not a FMR document.\n");
    EXPECT_EQ(traced(), kStartUp +
                            "cvGetIDOfCurrentDocument() -> 1\ncvGetDocumentType(1) -> 2\n"
                            "cvMessageBox(\"The currently active document is not a FMR document.\")\n" +
                            kFinished);
}

TEST_F(BoundaryTest, RefusesShortIntTimeCourses) {
    const std::string fmr = hosttest::writeRun(dir.path(), "old", 2, 1, 1, 1, 1, hosttest::int16Bytes({1, 2}));
    const Outcome outcome = corvantis({"--fmr", fmr, "start"});
    const std::string message =
        "The current FMR's timecourse data is stored as SHORT INT type. This old format is "
        "not supported by the Quorvex.";
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, message + "\n");
    EXPECT_EQ(traced(), kStartUp +
                            "cvGetIDOfCurrentDocument() -> 1\ncvGetDocumentType(1) -> 1\n"
                            "cvGetHeaderOfCurrentFMR() -> true\ncvMessageBox(\"" +
                            message + "\")\n" + kFinished);
}

struct VersionCase {
    const char* version;
    int status;
};

class HostVersionBoundaryTest : public BoundaryTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(HostVersionBoundaryTest, PassesFromTwoEightZeroOnNumerically) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--host-version", GetParam().version});
    EXPECT_EQ(outcome.status, GetParam().status) << outcome.err;
    EXPECT_EQ(outcome.err.empty(), GetParam().status == 0) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Versions, HostVersionBoundaryTest,
                         ::testing::Values(VersionCase{"2.8.0", 0}, VersionCase{"2.10.0", 0}, VersionCase{"3.0.0", 0},
                                           VersionCase{"2.7.99", 1}, VersionCase{"1.9.0", 1}, VersionCase{"2.8.-1", 1}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             std::string name = info.param.version;
                             for (char& c : name) {
                                 c = (c == '.') ? '_' : (c == '-') ? 'm' : c;
                             }
                             return name;
                         });

TEST_F(BoundaryTest, HostProgramOfAnotherNameIsNoHostAndNothingIsCalled) {
    const std::string renamed = dir.file("Corvantix");
    std::filesystem::copy_file(hosttest::corvantisProgram(), renamed);
    const Outcome outcome = corvantis({"--plugin", hosttest::quorvexLibrary(), "--fmr", floatRun()}, renamed);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(traced(), "");
}

TEST_F(BoundaryTest, HostProgramNameIsMatchedWithoutCaseAndWithItsExe) {
    const std::string renamed = dir.file("CORVANTIS.EXE");
    std::filesystem::copy_file(hosttest::corvantisProgram(), renamed);
    const Outcome outcome = corvantis({"--plugin", hosttest::quorvexLibrary(), "--fmr", floatRun()}, renamed);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(traced().substr(0, kStartUp.size()), kStartUp);
}

TEST_F(BoundaryTest, HostWithoutTheVersionServiceIsNoHostAndNothingIsCalled) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--without", "cvGetVersionOfCorvantis", "start"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(traced(), "");
}

TEST_F(BoundaryTest, HostWithoutTheLogServiceGetsNoLogCalls) {
    const Outcome outcome = corvantis({"--without", "cvLogText"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "No current document available.\n");
    EXPECT_EQ(traced(),
              "cvGetVersionOfCorvantis() -> 2.8.0\ncvShowLogTab()\ncvGetIDOfCurrentDocument() -> -1\n"
              "cvMessageBox(\"No current document available.\")\n");
}

TEST_F(BoundaryTest, AMissingServiceOfATaskEndsInAClearErrorNotACrash) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--without", "cvShowBusyCursor", "other"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "Corvantis: warning: the dialog offers no task \"other\" (it offers choose_sdm, start); the "
              "plug-in is given it all the same\n"
              "Error: Corvantis does not provide the service cvShowBusyCursor\n");
    EXPECT_NE(traced().find("cvGetStringParameter(\"task\") -> \"other\"\n"
                            "cvMessageBox(\"Error: Corvantis does not provide the service cvShowBusyCursor\")\n"),
              std::string::npos)
        << traced();
}

TEST_F(BoundaryTest, EachTaskIsSetBeforeItsExecute) {
    const Outcome outcome = corvantis({"--fmr", floatRun(), "--", "Start", "", "choose_sdm"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(traced().find("cvGetHeaderOfCurrentFMR() -> true\n"
                            "cvGetStringParameter(\"task\") -> \"Start\"\ncvShowBusyCursor()\ncvStopBusyCursor()\n"
                            "cvGetStringParameter(\"task\") -> \"\"\ncvShowBusyCursor()\ncvStopBusyCursor()\n"
                            "cvGetStringParameter(\"task\") -> \"choose_sdm\"\n"
                            "cvGetOpenFileName(\"Select an SDM:\", \"\", \"Design Matrix (*.sdm)\") -> (cancelled)\n"),
              std::string::npos)
        << traced();
}

TEST_F(BoundaryTest, FileDialogAnswersComeFromOpenFileInOrder) {
    const Outcome outcome = corvantis(
        {"--fmr", floatRun(), "--open-file", "/m/one.sdm", "--open-file", "/m/two.sdm", "choose_sdm", "choose_sdm"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const std::string trace = traced();
    const std::size_t first = trace.find("-> \"/m/one.sdm\"\ncvSetStringParameter(\"sdmfile\", \"/m/one.sdm\")\n");
    EXPECT_NE(first, std::string::npos) << trace;
    EXPECT_NE(trace.find("-> \"/m/two.sdm\"\ncvSetStringParameter(\"sdmfile\", \"/m/two.sdm\")\n"), std::string::npos);
}

TEST_F(BoundaryTest, ParametersStartFromTheDialogScriptBesideThePlugin) {
    const std::string plugin = dir.file(std::filesystem::path(hosttest::quorvexLibrary()).filename().string());
    std::filesystem::copy_file(hosttest::quorvexLibrary(), plugin);
    hosttest::writeFile(dir.file("Quorvex.js"),
                        "dialog.title = \"x\";\nparam(\"fmr_threshold\", \"42.5\");\n"
                        "param(\"tSNR1\", \"1\");\n");
    const Outcome outcome = corvantis({"--plugin", plugin, "--fmr", floatRun(), "--set", "tSNR1=0", "start"});
    EXPECT_EQ(outcome.status, 1); // the run itself fails later: no design matrices given
    EXPECT_NE(traced().find("cvGetFloatParameter(\"fmr_threshold\") -> 42.5\ncvGetIntParameter(\"tSNR1\") -> 0\n"),
              std::string::npos)
        << traced();
}

TEST_F(BoundaryTest, MalformedDocumentIsRefusedBeforeThePluginRuns) {
    const std::string fmr = dir.file("bad.fmr");
    hosttest::writeFile(fmr, "NrOfVolumes: 1\nDimX: 1\nDimY: 1\nDataType: 2\nSTCFile: bad.stc\n");
    const Outcome outcome = corvantis({"--fmr", fmr, "start"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Corvantis: error: \"" + fmr + "\": the required key \"DimZ\" is missing\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(traced(), "");
}

TEST_F(BoundaryTest, UnloadablePluginIsAnError) {
    const Outcome outcome = corvantis({"--plugin", dir.file("none.so")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("Corvantis: error: cannot load the plug-in \"" + dir.file("none.so") + "\": ", 0), 0u)
        << outcome.err;
}

TEST_F(BoundaryTest, UsageMistakesExitWithTwoAndTheHelp) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--host-version", "2.8"},
                                                 {"--bogus"},
                                                 {"--set", "novalue"},
                                                 {"--map-dims", "1,2"},
                                                 {"--without", "cvNoSuchService"},
                                                 {"--document-id", "one"}}) {
        const Outcome outcome = corvantis(args);
        EXPECT_EQ(outcome.status, 2) << args.front();
        EXPECT_NE(outcome.err.find("\n\nCorvantis - a stand-in"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
    const Outcome version = corvantis({"--host-version", "2.8"});
    EXPECT_EQ(version.err.substr(0, version.err.find('\n')), "Corvantis: --host-version takes X.Y.Z, not \"2.8\"");
    const Outcome info = hosttest::runProgram(hosttest::corvantisProgram(), {"info", "extra"});
    EXPECT_EQ(info.status, 2);
    EXPECT_EQ(info.err.rfind("Corvantis: info takes no operands, not \"extra\"\n\nUsage: Corvantis info", 0), 0u);
}

TEST_F(BoundaryTest, HelpListsTheOptionsAndCommands) {
    const Outcome outcome = hosttest::runProgram(hosttest::corvantisProgram(), {"--help"});
    EXPECT_EQ(outcome.status, 0);
    for (const char* word : {"--fmr", "--set NAME=VALUE", "--open-file", "--host-version", "--trace", "--without",
                             "--map-null", "--map-dims", "--read-only", "--document-type", "--document-id", "info"}) {
        EXPECT_NE(outcome.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(hosttest::runProgram(hosttest::corvantisProgram(), {"info", "--help"}).status, 0);
}

} // namespace
