#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/HostCalls.h"
#include "plugin/HostServiceTable.h"

namespace {

using cvts::HostService;

struct Wrapper {
    HostService service;
    std::function<void()> call;
};

// Every typed call, each with the service it must use.
std::vector<Wrapper> allWrappers() {
    static char buffer[kHostTextBufferSize];
    static FMRHeader fmr;
    static MapHeader map;
    static int32_t a, b, c;
    return {
        {HostService::cvGetVersionOfCorvantis, [] { host::cvGetVersionOfCorvantis(&a, &b, &c); }},
        {HostService::cvShowLogTab, [] { host::cvShowLogTab(); }},
        {HostService::cvLogText, [] { host::cvLogText("t"); }},
        {HostService::cvMessageBox, [] { host::cvMessageBox("m"); }},
        {HostService::cvShowBusyCursor, [] { host::cvShowBusyCursor(); }},
        {HostService::cvStopBusyCursor, [] { host::cvStopBusyCursor(); }},
        {HostService::cvGetIDOfCurrentDocument, [] { host::cvGetIDOfCurrentDocument(); }},
        {HostService::cvGetDocumentType, [] { host::cvGetDocumentType(1); }},
        {HostService::cvGetHeaderOfCurrentFMR, [] { host::cvGetHeaderOfCurrentFMR(&fmr); }},
        {HostService::cvGetSTCFloatDataOfCurrentFMR, [] { host::cvGetSTCFloatDataOfCurrentFMR(); }},
        {HostService::cvSaveFMRAndSTC, [] { host::cvSaveFMRAndSTC("a.fmr", "a"); }},
        {HostService::cvCreateMAPForCurrentFMR, [] { host::cvCreateMAPForCurrentFMR(); }},
        {HostService::cvGetMAPOfCurrentFMR, [] { host::cvGetMAPOfCurrentFMR(&map); }},
        {HostService::cvSetMAPParametersOfCurrentFMR, [] { host::cvSetMAPParametersOfCurrentFMR(&map); }},
        {HostService::cvSaveMAPsOfCurrentFMR, [] { host::cvSaveMAPsOfCurrentFMR("a.map"); }},
        {HostService::cvGetStringParameter, [] { host::cvGetStringParameter("task", buffer); }},
        {HostService::cvSetStringParameter, [] { host::cvSetStringParameter("sdmfile", "x"); }},
        {HostService::cvGetIntParameter, [] { host::cvGetIntParameter("tSNR1"); }},
        {HostService::cvGetFloatParameter, [] { host::cvGetFloatParameter("fmr_threshold"); }},
        {HostService::cvGetOpenFileName, [] { host::cvGetOpenFileName("t", "", "f", buffer); }},
    };
}

class HostCallsTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        for (int i = 0; i < cvts::kHostServiceCount; ++i) {
            cvts::setHostServiceEntry(static_cast<HostService>(i), nullptr);
        }
    }
};

TEST_F(HostCallsTest, AMissingServiceIsAnErrorNamingItNeverACall) {
    std::vector<std::string> covered;
    for (const Wrapper& wrapper : allWrappers()) {
        const std::string name = cvts::hostServiceName(wrapper.service);
        covered.push_back(name);
        try {
            wrapper.call();
            ADD_FAILURE() << name << " did not throw";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "Corvantis does not provide the service " + name);
        }
    }
    // Every called service has its typed call, and only those: the first 20 of the table.
    std::vector<std::string> called;
    for (int i = 0; i < 20; ++i) {
        called.emplace_back(cvts::hostServiceName(static_cast<HostService>(i)));
    }
    EXPECT_EQ(covered, called);
}

// Fake services: what they received, and answers the calls must pass back.
std::vector<std::string> calls;

int32_t documentType(int32_t id) {
    calls.push_back("type " + std::to_string(id));
    return id * 10;
}
void version(int32_t* major, int32_t* minor, int32_t* revision) {
    *major = 2;
    *minor = 10;
    *revision = -1;
}
bool openFile(const char* title, const char* initial, const char* filter, char* buffer) {
    calls.push_back(std::string(title) + "|" + initial + "|" + filter);
    std::strcpy(buffer, "/picked.sdm");
    return true;
}
float floatParameter(const char* name) {
    calls.push_back(name);
    return 0.25f;
}
bool logText(const char*) { return true; }
bool failingSave(const char* fmrPath, const char* stcName) {
    calls.push_back(std::string("save ") + fmrPath + " " + stcName);
    return false;
}
bool shownMessage(const char* text) {
    calls.push_back(text);
    return true;
}

template <class F>
void install(HostService service, F function) {
    cvts::setHostServiceEntry(service, reinterpret_cast<cvts::HostEntry>(function));
}

TEST_F(HostCallsTest, PresentServicesGetTheArgumentsAndPassTheResultsBack) {
    calls.clear();
    install(HostService::cvGetDocumentType, &documentType);
    install(HostService::cvGetVersionOfCorvantis, &version);
    install(HostService::cvGetOpenFileName, &openFile);
    install(HostService::cvGetFloatParameter, &floatParameter);

    EXPECT_EQ(host::cvGetDocumentType(7), 70);
    int32_t major = 0, minor = 0, revision = 0;
    host::cvGetVersionOfCorvantis(&major, &minor, &revision);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 10);
    EXPECT_EQ(revision, -1);
    char buffer[kHostTextBufferSize] = {};
    host::cvGetOpenFileName("Select an SDM:", "", "Design Matrix (*.sdm)", buffer);
    EXPECT_STREQ(buffer, "/picked.sdm");
    EXPECT_EQ(host::cvGetFloatParameter("fmr_threshold"), 0.25f);
    EXPECT_EQ(calls, (std::vector<std::string>{"type 7", "Select an SDM:||Design Matrix (*.sdm)", "fmr_threshold"}));
}

TEST_F(HostCallsTest, TrueAndFalseAnswersOfTheServicesComeBackUnchanged) {
    calls.clear();
    install(HostService::cvSaveFMRAndSTC, &failingSave);
    install(HostService::cvMessageBox, &shownMessage);
    EXPECT_FALSE(host::cvSaveFMRAndSTC("/d/a.fmr", "a"));
    EXPECT_TRUE(host::cvMessageBox("Error: x"));
    EXPECT_EQ(calls, (std::vector<std::string>{"save /d/a.fmr a", "Error: x"}));
}

TEST_F(HostCallsTest, LogEntryIsTheRawEntryNullWhenMissing) {
    EXPECT_EQ(host::logTextEntry(), nullptr);
    install(HostService::cvLogText, &logText);
    EXPECT_EQ(host::logTextEntry(), &logText);
}

} // namespace
