#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "HostTestSupport.h"
#include "host/core/HostServices.h"
#include "host/core/ServiceExports.h"
#include "host/formats/HostErrors.h"

// The host's exports, declared as a plug-in's host kit types them.
extern "C" {
#define EXPORTED_SERVICE(name, result, parameters, arguments, answer) result name parameters;
CVTS_CALLED_HOST_SERVICES(EXPORTED_SERVICE)
#undef EXPORTED_SERVICE
}

namespace {

using corvantis::HostServices;
using corvantis::HostSimulation;

class HostServicesTest : public ::testing::Test {
protected:
    // A session on a 2 x 2 x 1 run of 3 volumes, or on no document.
    HostServices& session(HostSimulation simulation = {}, bool withDocument = true,
                          std::deque<std::string> answers = {}) {
        std::optional<corvantis::FmrDocument> document;
        if (withDocument) {
            document = corvantis::FmrDocument::open(hosttest::writeCountingRun(dir.path(), "run", 2, 2, 1, 3));
        }
        corvantis::Parameters parameters;
        parameters.set("tSNR1", "1");
        parameters.set("fmr_threshold", "0.1");
        parameters.set("sdmfile1", std::string(700, 's'));
        trace = std::make_unique<corvantis::Trace>(dir.file("trace.txt"));
        services = std::make_unique<HostServices>(simulation, std::move(document), parameters, answers,
                                                  corvantis::HostChannels{logPane, messages, *trace});
        return *services;
    }

    // The trace reaches its name when it is finished; calls after that are not traced.
    std::string traced() {
        trace->finish();
        return hosttest::readFile(dir.file("trace.txt"));
    }

    hosttest::TempDir dir;
    std::ostringstream logPane;
    std::ostringstream messages;
    std::unique_ptr<corvantis::Trace> trace;
    std::unique_ptr<HostServices> services;
};

TEST_F(HostServicesTest, CancelledDialogLeavesTheBufferUntouched) {
    HostServices& host = session({}, true, {"/data/first.sdm"});
    char buffer[kHostTextBufferSize];
    std::strcpy(buffer, "left by the caller");
    EXPECT_TRUE(host.cvGetOpenFileName("Select an SDM:", "", "Design Matrix (*.sdm)", buffer));
    EXPECT_STREQ(buffer, "/data/first.sdm");
    std::strcpy(buffer, "left by the caller");
    EXPECT_FALSE(host.cvGetOpenFileName("Select an SDM:", "", "Design Matrix (*.sdm)", buffer));
    EXPECT_STREQ(buffer, "left by the caller");
    EXPECT_EQ(traced(),
              "cvGetOpenFileName(\"Select an SDM:\", \"\", \"Design Matrix (*.sdm)\") -> \"/data/first.sdm\"\n"
              "cvGetOpenFileName(\"Select an SDM:\", \"\", \"Design Matrix (*.sdm)\") -> (cancelled)\n");
}

TEST_F(HostServicesTest, ParametersAreTextReadAsTextIntOrFloat) {
    HostServices& host = session();
    char buffer[kHostTextBufferSize];
    std::strcpy(buffer, "stale");
    EXPECT_FALSE(host.cvGetStringParameter("task", buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_TRUE(host.cvSetStringParameter("sdmfile", "/m/a.sdm"));
    EXPECT_TRUE(host.cvGetStringParameter("sdmfile", buffer));
    EXPECT_STREQ(buffer, "/m/a.sdm");
    EXPECT_TRUE(host.cvGetStringParameter("sdmfile1", buffer));
    EXPECT_EQ(std::strlen(buffer), 511u);
    EXPECT_EQ(host.cvGetIntParameter("tSNR1"), 1);
    EXPECT_EQ(host.cvGetIntParameter("tSNR2"), 0);
    EXPECT_EQ(host.cvGetFloatParameter("fmr_threshold"), 0.1f);
    EXPECT_EQ(host.cvGetFloatParameter("missing"), 0.0f);
    EXPECT_EQ(traced(),
              "cvGetStringParameter(\"task\") -> (absent)\n"
              "cvSetStringParameter(\"sdmfile\", \"/m/a.sdm\")\n"
              "cvGetStringParameter(\"sdmfile\") -> \"/m/a.sdm\"\n"
              "cvGetStringParameter(\"sdmfile1\") -> \"" +
                  std::string(511, 's') +
                  "\"\n"
                  "cvGetIntParameter(\"tSNR1\") -> 1\n"
                  "cvGetIntParameter(\"tSNR2\") -> 0\n"
                  "cvGetFloatParameter(\"fmr_threshold\") -> 0.100000001\n"
                  "cvGetFloatParameter(\"missing\") -> 0\n");
}

TEST_F(HostServicesTest, LogAndMessageTextsEachEndWithANewline) {
    HostServices& host = session();
    host.cvLogText("\nQuorvex>  Running...");
    host.cvLogText("");
    EXPECT_FALSE(host.messageBoxShown());
    host.cvMessageBox("No current document available.");
    EXPECT_TRUE(host.messageBoxShown());
    EXPECT_EQ(logPane.str(), "\nQuorvex>  Running...\n\n");
    EXPECT_EQ(messages.str(), "No current document available.\n");
    EXPECT_EQ(traced(),
              "cvLogText(\"\\nQuorvex>  Running...\")\ncvLogText(\"\")\n"
              "cvMessageBox(\"No current document available.\")\n");
}

TEST_F(HostServicesTest, DocumentAnswersFollowTheSimulation) {
    HostSimulation simulation;
    simulation.major = 2;
    simulation.minor = 8;
    simulation.revision = -1;
    simulation.documentId = 0;
    simulation.documentType = 3;
    HostServices& host = session(simulation);
    int32_t major = 0, minor = 0, revision = 0;
    host.cvGetVersionOfCorvantis(&major, &minor, &revision);
    EXPECT_EQ(revision, -1);
    EXPECT_EQ(host.cvGetIDOfCurrentDocument(), 0);
    EXPECT_EQ(host.cvGetDocumentType(0), 3);
    EXPECT_EQ(host.cvGetDocumentType(1), -1);
    FMRHeader header;
    EXPECT_TRUE(host.cvGetHeaderOfCurrentFMR(&header));
    EXPECT_EQ(header.DimX, 2);
    EXPECT_EQ(host.cvGetSTCFloatDataOfCurrentFMR()[2][3], 203.0f);
    EXPECT_EQ(traced(),
              "cvGetVersionOfCorvantis() -> 2.8.-1\ncvGetIDOfCurrentDocument() -> 0\ncvGetDocumentType(0) -> 3\n"
              "cvGetDocumentType(1) -> -1\ncvGetHeaderOfCurrentFMR() -> true\n"
              "cvGetSTCFloatDataOfCurrentFMR() -> 3 volumes\n");
}

TEST_F(HostServicesTest, WithoutADocumentNothingIsHandedOut) {
    HostServices& host = session({}, false);
    EXPECT_EQ(host.cvGetIDOfCurrentDocument(), -1);
    EXPECT_EQ(host.cvGetDocumentType(1), -1);
    FMRHeader header;
    header.DimX = 77;
    EXPECT_FALSE(host.cvGetHeaderOfCurrentFMR(&header));
    EXPECT_EQ(header.DimX, 77);
    EXPECT_EQ(host.cvGetSTCFloatDataOfCurrentFMR(), nullptr);
    EXPECT_FALSE(host.cvCreateMAPForCurrentFMR());
    EXPECT_FALSE(host.cvSaveFMRAndSTC(dir.file("x.fmr").c_str(), "x"));
    EXPECT_EQ(messages.str(),
              "Corvantis: warning: cannot create a map: there is no current document\n"
              "Corvantis: warning: cannot save \"" +
                  dir.file("x.fmr") + "\": there is no current document\n");
    EXPECT_FALSE(host.messageBoxShown());
}

TEST_F(HostServicesTest, MapIsCreatedFilledParameterisedAndSaved) {
    HostServices& host = session();
    MapHeader header;
    EXPECT_EQ(host.cvGetMAPOfCurrentFMR(&header), nullptr); // none created yet
    EXPECT_TRUE(host.cvCreateMAPForCurrentFMR());
    float** slices = host.cvGetMAPOfCurrentFMR(&header);
    ASSERT_NE(slices, nullptr);
    EXPECT_EQ(header.DimX, 2);
    EXPECT_EQ(header.DimY, 2);
    EXPECT_EQ(header.DimZ, 1);
    EXPECT_EQ(header.DF2, corvantis::kNewMapDF2);
    slices[0][3] = 8.0f;
    header.MapType = 0;
    header.LowerThreshold = 5.0f;
    header.field28 = 0;
    EXPECT_TRUE(host.cvSetMAPParametersOfCurrentFMR(&header));
    EXPECT_TRUE(host.cvSaveMAPsOfCurrentFMR(dir.file("a.map").c_str()));

    const std::string bytes = hosttest::readFile(dir.file("a.map"));
    ASSERT_EQ(bytes.size(), 8u + 64u + 16u);
    EXPECT_EQ(bytes.substr(72), hosttest::floatBytes({0, 0, 0, 8}));
    EXPECT_EQ(traced(),
              "cvGetMAPOfCurrentFMR() -> (null)\ncvCreateMAPForCurrentFMR() -> true\n"
              "cvGetMAPOfCurrentFMR() -> 2 x 2 x 1\n"
              "cvSetMAPParametersOfCurrentFMR(MapType 0, LowerThreshold 5, UpperThreshold 103.5, int32@24 104, "
              "int32@28 0, DF1 106, DF2 107) -> true\n"
              "cvSaveMAPsOfCurrentFMR(\"" +
                  dir.file("a.map") + "\") -> true\n");
}

TEST_F(HostServicesTest, MapOfOtherExtentsOrNone) {
    HostSimulation simulation;
    simulation.mapExtents = corvantis::MapExtents{5, 1, 3};
    HostServices& host = session(simulation);
    MapHeader header;
    host.cvCreateMAPForCurrentFMR();
    ASSERT_NE(host.cvGetMAPOfCurrentFMR(&header), nullptr);
    EXPECT_EQ(header.DimX, 5);
    EXPECT_EQ(header.DimZ, 3);

    simulation.mapNull = true;
    HostServices& failing = session(simulation);
    failing.cvCreateMAPForCurrentFMR();
    header.DimX = -9;
    EXPECT_EQ(failing.cvGetMAPOfCurrentFMR(&header), nullptr);
    EXPECT_EQ(header.DimX, -9);
}

TEST_F(HostServicesTest, ReadOnlyHostFailsEverySaveWithAWarningNotAMessageBox) {
    HostSimulation simulation;
    simulation.readOnly = true;
    HostServices& host = session(simulation);
    host.cvCreateMAPForCurrentFMR();
    EXPECT_FALSE(host.cvSaveMAPsOfCurrentFMR(dir.file("a.map").c_str()));
    EXPECT_FALSE(host.cvSaveFMRAndSTC(dir.file("b.fmr").c_str(), "b"));
    EXPECT_EQ(messages.str(), "Corvantis: warning: cannot save \"" + dir.file("a.map") +
                                  "\": the host is read-only (--read-only)\n"
                                  "Corvantis: warning: cannot save \"" +
                                  dir.file("b.fmr") + "\": the host is read-only (--read-only)\n");
    EXPECT_FALSE(host.messageBoxShown());
    trace->finish();
    EXPECT_EQ(hosttest::filesIn(dir.path()), (std::vector<std::string>{"run.fmr", "run.stc", "trace.txt"}));
}

TEST_F(HostServicesTest, SaveAsCarriesTheNewPathIntoLaterHeaders) {
    HostServices& host = session();
    host.cvGetSTCFloatDataOfCurrentFMR()[0][0] = -1.0f;
    EXPECT_TRUE(host.cvSaveFMRAndSTC(dir.file("run_min.fmr").c_str(), "run_min"));
    FMRHeader header;
    host.cvGetHeaderOfCurrentFMR(&header);
    EXPECT_EQ(std::string(header.FileName), dir.file("run_min.fmr"));
    EXPECT_EQ(hosttest::readFile(dir.file("run_min.stc")).substr(0, 4), hosttest::floatBytes({-1.0f}));
    EXPECT_FALSE(host.cvSaveMAPsOfCurrentFMR(dir.file("none.map").c_str()));
    EXPECT_EQ(messages.str(),
              "Corvantis: warning: cannot save \"" + dir.file("none.map") + "\": no map has been created\n");
}

// Without the host's formats the hooks are the saves: nothing of the host's
// own is written, a hook's failure is the service's, and only a save that
// succeeded moves the document to its new name.
TEST_F(HostServicesTest, WithoutHostFormatsTheHooksAreTheSaves) {
    HostServices& host = session();
    std::vector<std::string> written;
    bool failRun = true;
    corvantis::SaveHooks hooks;
    hooks.hostFormats = false;
    hooks.run = [&](const corvantis::FmrDocument& run, const std::string& fmrPath) {
        if (failRun) throw corvantis::SaveError("disk full");
        written.push_back(fmrPath + " from " + run.path());
    };
    hooks.map = [&](const corvantis::MapImage& map, const corvantis::FmrDocument&, const std::string& path) {
        written.push_back(path + " of " + std::to_string(map.values().size()));
    };
    host.setSaveHooks(hooks);
    const std::string runPath = dir.file("run.fmr");
    EXPECT_FALSE(host.cvSaveFMRAndSTC(dir.file("a.fmr").c_str(), "a"));
    EXPECT_EQ(host.document()->path(), runPath);
    failRun = false;
    EXPECT_TRUE(host.cvSaveFMRAndSTC(dir.file("b.fmr").c_str(), "b"));
    EXPECT_EQ(host.document()->path(), dir.file("b.fmr"));
    EXPECT_EQ(*host.document()->text().find("STCFile"), "b.stc");
    EXPECT_TRUE(host.cvCreateMAPForCurrentFMR());
    EXPECT_TRUE(host.cvSaveMAPsOfCurrentFMR(dir.file("m.map").c_str()));
    EXPECT_EQ(written, (std::vector<std::string>{dir.file("b.fmr") + " from " + runPath, dir.file("m.map") + " of 4"}));
    EXPECT_EQ(messages.str(), "Corvantis: warning: cannot save \"" + dir.file("a.fmr") + "\": disk full\n");
    EXPECT_EQ(traced(), "cvSaveFMRAndSTC(\"" + dir.file("a.fmr") + "\", \"a\") -> false\n" + "cvSaveFMRAndSTC(\"" +
                            dir.file("b.fmr") + "\", \"b\") -> true\n" + "cvCreateMAPForCurrentFMR() -> true\n" +
                            "cvSaveMAPsOfCurrentFMR(\"" + dir.file("m.map") + "\") -> true\n");
    EXPECT_EQ(hosttest::filesIn(dir.path()), (std::vector<std::string>{"run.fmr", "run.stc", "trace.txt"}));
}

// What the exports write to the standard error stream while it lives.
class ErrorStreamCapture {
public:
    ErrorStreamCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
    ~ErrorStreamCapture() { std::cerr.rdbuf(saved_); }
    ErrorStreamCapture(const ErrorStreamCapture&) = delete;
    ErrorStreamCapture& operator=(const ErrorStreamCapture&) = delete;
    std::string text() const { return captured_.str(); }

private:
    std::ostringstream captured_;
    std::streambuf* saved_;
};

TEST_F(HostServicesTest, ExportsAnswerLikeAHostWithoutADocumentWhenNoSessionIsAttached) {
    session(); // exists, but is not attached
    const ErrorStreamCapture errors;
    int32_t major = 7, minor = 7, revision = 7;
    ::cvGetVersionOfCorvantis(&major, &minor, &revision);
    EXPECT_EQ(major * 100 + minor * 10 + revision, 777);
    EXPECT_FALSE(::cvLogText("line"));
    EXPECT_FALSE(::cvMessageBox("text"));
    EXPECT_EQ(::cvGetIDOfCurrentDocument(), -1);
    EXPECT_EQ(::cvGetDocumentType(1), -1);
    FMRHeader fmr;
    EXPECT_FALSE(::cvGetHeaderOfCurrentFMR(&fmr));
    EXPECT_EQ(::cvGetSTCFloatDataOfCurrentFMR(), nullptr);
    EXPECT_FALSE(::cvCreateMAPForCurrentFMR());
    MapHeader map;
    EXPECT_EQ(::cvGetMAPOfCurrentFMR(&map), nullptr);
    char buffer[kHostTextBufferSize];
    std::strcpy(buffer, "left by the caller");
    EXPECT_FALSE(::cvGetStringParameter("tSNR1", buffer));
    EXPECT_FALSE(::cvGetOpenFileName("t", "", "f", buffer));
    EXPECT_STREQ(buffer, "left by the caller");
    EXPECT_EQ(::cvGetIntParameter("tSNR1"), 0);
    EXPECT_EQ(::cvGetFloatParameter("fmr_threshold"), 0.0f);
    EXPECT_FALSE(::cvSaveMAPsOfCurrentFMR(dir.file("a.map").c_str()));
    EXPECT_FALSE(::cvSetStringParameter("tSNR1", "0"));
    EXPECT_EQ(*services->parameters().find("tSNR1"), "1");
    EXPECT_EQ(logPane.str(), "");
    EXPECT_EQ(messages.str(), "");
    EXPECT_EQ(errors.text(), "");
    EXPECT_FALSE(hosttest::fileExists(dir.file("a.map")));
}

TEST_F(HostServicesTest, ExportsForwardToTheAttachedSessionWhileItIsAttached) {
    HostSimulation simulation;
    simulation.revision = 4;
    simulation.documentId = 5;
    simulation.documentType = 3;
    HostServices& host = session(simulation);
    {
        const corvantis::ServiceAttachment attachment(host);
        int32_t major = 0, minor = 0, revision = 0;
        ::cvGetVersionOfCorvantis(&major, &minor, &revision);
        EXPECT_EQ(major * 100 + minor * 10 + revision, 284);
        EXPECT_EQ(::cvGetIDOfCurrentDocument(), 5);
        EXPECT_EQ(::cvGetDocumentType(5), 3);
        EXPECT_EQ(::cvGetIntParameter("tSNR1"), 1);
        EXPECT_EQ(::cvGetFloatParameter("fmr_threshold"), 0.1f);
        EXPECT_TRUE(::cvSetStringParameter("sdmfile", "/m/b.sdm"));
        EXPECT_TRUE(::cvLogText("Quorvex>  Saving Maps..."));
        EXPECT_EQ(::cvGetSTCFloatDataOfCurrentFMR()[1][2], 102.0f);
    }
    EXPECT_EQ(::cvGetIDOfCurrentDocument(), -1);
    EXPECT_EQ(*host.parameters().find("sdmfile"), "/m/b.sdm");
    EXPECT_EQ(logPane.str(), "Quorvex>  Saving Maps...\n");
}

TEST_F(HostServicesTest, AnExceptionInAServiceIsItsWarningAndItsNoSessionAnswer) {
    HostServices& host = session();
    corvantis::SaveHooks hooks;
    hooks.run = [](const corvantis::FmrDocument&, const std::string&) { throw std::runtime_error("copy went wrong"); };
    hooks.map = [](const corvantis::MapImage&, const corvantis::FmrDocument&, const std::string&) { throw 42; };
    host.setSaveHooks(hooks);
    const corvantis::ServiceAttachment attachment(host);
    const ErrorStreamCapture errors;
    EXPECT_FALSE(::cvSaveFMRAndSTC(dir.file("b.fmr").c_str(), "b"));
    EXPECT_TRUE(::cvCreateMAPForCurrentFMR());
    EXPECT_FALSE(::cvSaveMAPsOfCurrentFMR(dir.file("b.map").c_str()));
    EXPECT_EQ(errors.text(),
              "Corvantis: warning: cvSaveFMRAndSTC failed: copy went wrong\n"
              "Corvantis: warning: cvSaveMAPsOfCurrentFMR failed: unknown error\n");
    EXPECT_EQ(messages.str(), "");
}

#if !defined(_WIN32)
// --without NAME accepts the names the host provides and runs the host built
// without that export, which the build makes for each name it exports.
TEST(HostVariants, EveryProvidedServiceHasAHostBuiltWithoutIt) {
    const std::filesystem::path program = hosttest::corvantisProgram();
    const std::vector<std::string>& names = corvantis::providedServiceNames();
    EXPECT_EQ(names.size(), 20u);
    for (const std::string& name : names) {
        EXPECT_TRUE(std::filesystem::exists(program.parent_path() / ("without-" + name) / program.filename())) << name;
    }
}
#endif

TEST(TraceText, QuotesTextsWithEscapes) {
    EXPECT_EQ(corvantis::quoted("a \"b\" \\ c\n\t\x01"), "\"a \\\"b\\\" \\\\ c\\n\\t\\x01\"");
    EXPECT_EQ(corvantis::quoted(nullptr), "(null)");
    EXPECT_EQ(corvantis::formatFloat(0.5f), "0.5");
}

} // namespace
