#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/HostServiceTable.h"

namespace {

using cvts::HostEntry;
using cvts::HostService;

// The host kit's names in the kit's order: the 20 called services, then the 170
// that are only stored.
const char kKitOrder[] = R"(
    cvGetVersionOfCorvantis cvShowLogTab cvLogText cvMessageBox cvShowBusyCursor cvStopBusyCursor
    cvGetIDOfCurrentDocument cvGetDocumentType cvGetHeaderOfCurrentFMR
    cvGetSTCFloatDataOfCurrentFMR cvSaveFMRAndSTC cvCreateMAPForCurrentFMR cvGetMAPOfCurrentFMR
    cvSetMAPParametersOfCurrentFMR cvSaveMAPsOfCurrentFMR cvGetStringParameter cvSetStringParameter
    cvGetIntParameter cvGetFloatParameter cvGetOpenFileName cvGetCorvantisPath cvGetPluginsPath
    cvShowLogPane cvYesNoMessageBox cvGetIntegerInput cvGetFloatInput cvGetTextInput
    cvGetSaveFileName cvUpdateActiveWindow cvCloseAllPlots cvPlotPoints cvAddPointsToPlot
    cvPlotLine cvAddLineToPlot cvPlotBars cvAddBarsToPlot cvShowPlotAtPosition cvResizePlot
    cvSetBarPlotXAxisCategories cvSetPlotXAxisRange cvSetPlotYAxisRange cvSetPlotXAxisTitle
    cvSetPlotYAxisTitle cvSetPlotXAxisProperties cvSetPlotYAxisProperties cvSetPlotTitle
    cvSetPlotMarkerSizeAndColor cvSetPlotLineSizeAndColor cvSetPlotBarColors cvSetPlotFontSizes
    cvShowPlotLegend cvSetPlotColorTheme cvGetNumberOfDocsInWorkspace cvGetDocumentTypeName
    cvSetAsCurrentDocument cvCalculateIAMatrix cvGetTRFParametersFromVolumeToolsDlg
    cvSetHeaderOfCurrentFMR cvGetSTCIntDataOfCurrentFMR cvGetSTCDataOfCurrentFMR cvSaveFMR
    cvGetScannerPositionHeaderOfCurrentFMR cvSetScannerPositionHeaderOfCurrentFMR
    cvGetHeaderOfCurrentDMR cvSetHeaderOfCurrentDMR cvGetDWIFloatDataOfCurrentDMR
    cvGetDWIIntDataOfCurrentDMR cvGetDWIDataOfCurrentDMR cvConvertDWIFormatOfCurrentDMR cvSaveDMR
    cvSaveDMRAndDWI cvDeleteMAPsOfCurrentFMR cvLoadMAPsToCurrentFMR cvGetCurrentVMR
    cvGetMainHeaderOfCurrentVMR cvSetMainHeaderOfCurrentVMR cvGetScannerPositionHeaderOfCurrentVMR
    cvSetScannerPositionHeaderOfCurrentVMR cvGetPastTransformationsHeaderOfCurrentVMR
    cvSetPastTransformationsHeaderOfCurrentVMR cvReframeCurrentVMR cvGetCrossPositionOfCurrentVMR
    cvGetV16OfCurrentVMR cvLoadV16ToCurrentVMR cvSaveV16OfCurrentVMR cvDetachV16FromCurrentVMR
    cvConvertV16ToVMR cvGetNRVMPsOfCurrentVMR cvGetNRVMPOfCurrentVMR
    cvSetNRVMPParametersOfCurrentVMR cvLoadNRVMPsToCurrentVMR cvAddNRVMPsToCurrentVMR
    cvSaveNRVMPsOfCurrentVMR cvCreateNRVMPsForCurrentVMR cvDeleteNRVMPsOfCurrentVMR
    cvDeleteNRVMPMap cvSetNRVMPsParamsDisplayRange cvGetARVMPsOfCurrentVMR cvGetARVMPOfCurrentVMR
    cvSetARVMPParametersOfCurrentVMR cvLoadARVMPsToCurrentVMR cvSaveARVMPsOfCurrentVMR
    cvCreateARVMPsForCurrentVMR cvDeleteARVMPsOfCurrentVMR cvLinkVTCToCurrentVMR
    cvCreateVTCForCurrentVMR cvGetHeaderOfVTCOfCurrentVMR cvSetHeaderOfVTCOfCurrentVMR
    cvGetVTCOfCurrentVMR cvGetVTCFloatDataOfCurrentVMR cvGetVTCIntDataOfCurrentVMR
    cvSetVTCParametersOfCurrentVMR cvSaveVTCOfCurrentVMR cvClearMultiVTCAnalysis
    cvAddVTCRefForMultiVTCAnalysis cvGetVoxelTimeCourseOfVTC cvGetVoxelTimeCourseOfVTCs
    cvGetVoxelCoordsTimeCourseOfVTC cvGetVoxelCoordsTimeCourseOfVTCs cvGetGLMOfCurrentVMR
    cvGetGLMContrastsOfCurrentVMR cvLoadMaskToCurrentVMR cvGetMaskOfCurrentVMR cvGetScene cvLoadSRF
    cvAddSRF cvRemoveCurrentSRF cvGetCurrentSRF cvReleaseSRFAccess cvSaveCurrentSRF cvSetCurrentSRF
    cvLinkMTCToCurrentSRF cvGetMTCOfCurrentSRF cvSetMTCParametersOfCurrentSRF
    cvCreateMTCForCurrentSRF cvSaveMTCOfCurrentSRF cvClearMultiMTCRefsOfCurrentSRF
    cvAddMultiMTCRefToCurrentSRF cvGetVertexTimeCourseOfMTC cvGetVertexTimeCourseOfAllMTCs
    cvGetSMPsOfCurrentSRF cvGetSMPOfCurrentSRF cvSetSMPParametersOfCurrentSRF
    cvLoadSMPsToCurrentSRF cvSaveSMPsOfCurrentSRF cvCreateSMPForCurrentSRF cvDeleteSMPsOfCurrentSRF
    cvOverlaySMPsOnSRF cvGetSSMOfCurrentSRF cvLoadSSMToCurrentSRF cvSaveSSMOfCurrentSRF
    cvCreateSSMForCurrentSRF cvDeleteSSMOfCurrentSRF cvClearProtocol cvLoadProtocol cvSaveProtocol
    cvGetProtocol cvSetProtocol cvGetProtocolCondition cvAddProtocolCondition
    cvAddProtocolConditionInterval cvClearDesignMatrix cvAddPredictor
    cvSetPredictorValuesFromCondition cvSetPredictorValuesFromConditionName
    cvApplyTwoGammaHRFToPredictor cvApplyTwoGammaHRFToPredictorWithName
    cvApplyBoyntonHRFToPredictor cvApplyBoyntonHRFToPredictorWithName cvGetPredictor
    cvGetPredictorByName cvLoadSingleStudyGLMDesignMatrix cvSaveSingleStudyGLMDesignMatrix
    cvLoadVOIs cvSaveVOIs cvGetVOIs cvGetVOI cvLoadPOIs cvSavePOIs cvGetPOIs cvGetPOI
    cvSetIntParameter cvSetFloatParameter cvGetDlgStringParameter cvGetDlgIntegerParameter
    cvGetDlgFloatParameter cvSetDlgStringOutputParameter cvSetDlgIntegerOutputParameter
    cvSetDlgFloatOutputParameter cvLaunchICADialog
)";

std::vector<std::string> wordsOf(const char* text) {
    std::istringstream words(text);
    std::vector<std::string> names;
    for (std::string name; words >> name;) {
        names.push_back(name);
    }
    return names;
}

std::vector<std::string> kitNames() { return wordsOf(kKitOrder); }

void presentService() {}
void sentinelEntry() {}

HostService at(int index) { return static_cast<HostService>(index); }

class HostServiceTableTest : public ::testing::Test {
protected:
    void SetUp() override { fillAll(nullptr); }
    void TearDown() override { fillAll(nullptr); }

    static void fillAll(HostEntry entry) {
        for (int i = 0; i < cvts::kHostServiceCount; ++i) {
            cvts::setHostServiceEntry(at(i), entry);
        }
    }

    // A host that exports exactly the given names, recording each lookup.
    cvts::ExportLookup hostExporting(std::set<std::string> exported) {
        return [this, exported](const char* name) -> HostEntry {
            lookups.emplace_back(name);
            return exported.count(name) != 0 ? &presentService : nullptr;
        };
    }

    std::vector<std::string> lookups;
};

TEST_F(HostServiceTableTest, NamesAreTheKitsInItsOrderAndUnique) {
    const std::vector<std::string> expected = kitNames();
    ASSERT_EQ(expected.size(), 190u);
    std::set<std::string> seen;
    for (int i = 0; i < cvts::kHostServiceCount; ++i) {
        const std::string name = cvts::hostServiceName(at(i));
        EXPECT_EQ(name, expected[static_cast<std::size_t>(i)]) << "at position " << i;
        EXPECT_TRUE(seen.insert(name).second) << name << " appears twice";
    }
    EXPECT_STREQ(cvts::hostServiceName(HostService::cvGetOpenFileName), "cvGetOpenFileName");
    EXPECT_EQ(static_cast<int>(HostService::cvGetOpenFileName), 19);
}

// The build reads the host programs' exports out of the host kit's rows on its
// own; a row it misses or misreads would leave a host without that service.
TEST_F(HostServiceTableTest, HostProgramsExportTheCalledServicesAsTheTableHoldsThemFirst) {
    const std::vector<std::string> exported = wordsOf(CORVANTIS_EXPORTED_SERVICES);
    const std::vector<std::string> kit = kitNames();
    ASSERT_EQ(exported.size(), 20u) << CORVANTIS_EXPORTED_SERVICES;
    for (std::size_t i = 0; i < exported.size(); ++i) {
        EXPECT_EQ(exported[i], cvts::hostServiceName(at(static_cast<int>(i)))) << "at position " << i;
        EXPECT_EQ(exported[i], kit[i]) << "at position " << i;
    }
}

TEST_F(HostServiceTableTest, FillLooksUpTheVersionFirstThenEveryOtherNameOnceInOrder) {
    ASSERT_TRUE(cvts::fillHostServiceTableFrom(hostExporting({"cvGetVersionOfCorvantis"})));
    std::vector<std::string> expected = kitNames();
    ASSERT_EQ(expected.front(), "cvGetVersionOfCorvantis");
    EXPECT_EQ(lookups, expected);
}

TEST_F(HostServiceTableTest, FillStoresEveryResultNullIncluded) {
    fillAll(&sentinelEntry);
    ASSERT_TRUE(
        cvts::fillHostServiceTableFrom(hostExporting({"cvGetVersionOfCorvantis", "cvLogText", "cvLaunchICADialog"})));
    for (int i = 0; i < cvts::kHostServiceCount; ++i) {
        const std::string name = cvts::hostServiceName(at(i));
        const bool exported = name == "cvGetVersionOfCorvantis" || name == "cvLogText" || name == "cvLaunchICADialog";
        EXPECT_EQ(cvts::hostServiceEntry(at(i)), exported ? &presentService : nullptr) << name;
    }
}

TEST_F(HostServiceTableTest, MissingVersionServiceFailsAndLeavesTheOtherEntries) {
    fillAll(&sentinelEntry);
    EXPECT_FALSE(cvts::fillHostServiceTableFrom(hostExporting({"cvLogText", "cvMessageBox"})));
    EXPECT_EQ(lookups, std::vector<std::string>{"cvGetVersionOfCorvantis"});
    EXPECT_EQ(cvts::hostServiceEntry(HostService::cvGetVersionOfCorvantis), nullptr);
    EXPECT_EQ(cvts::hostServiceEntry(HostService::cvLogText), &sentinelEntry);
    EXPECT_EQ(cvts::hostServiceEntry(HostService::cvLaunchICADialog), &sentinelEntry);
}

TEST_F(HostServiceTableTest, MissingHostModuleFailsAndLeavesTheTableUntouched) {
    // This test program is not named Corvantis, and no module of that name is loaded.
    fillAll(&sentinelEntry);
    EXPECT_FALSE(cvts::fillHostServiceTable());
    for (int i = 0; i < cvts::kHostServiceCount; ++i) {
        EXPECT_EQ(cvts::hostServiceEntry(at(i)), &sentinelEntry) << cvts::hostServiceName(at(i));
    }
}

struct VersionCase {
    int major, minor, revision;
    bool passes;
};

class HostVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(HostVersionTest, ComparesMajorMinorRevisionAsNumbers) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(cvts::hostVersionPasses(c.major, c.minor, c.revision), c.passes)
        << c.major << "." << c.minor << "." << c.revision;
}

INSTANTIATE_TEST_SUITE_P(Versions, HostVersionTest,
                         ::testing::Values(VersionCase{2, 8, 0, true}, VersionCase{2, 10, 0, true},
                                           VersionCase{2, 7, 99, false}, VersionCase{1, 9, 0, false},
                                           VersionCase{3, 0, 0, true}, VersionCase{3, -5, -5, true},
                                           VersionCase{2, 8, -1, false}, VersionCase{2, 9, -1, true},
                                           VersionCase{-2, 8, 0, false}, VersionCase{2, 8, 17, true}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             auto part = [](int n) { return n < 0 ? "m" + std::to_string(-n) : std::to_string(n); };
                             return part(info.param.major) + "_" + part(info.param.minor) + "_" +
                                    part(info.param.revision);
                         });

} // namespace
