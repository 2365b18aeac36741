#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "HostTestSupport.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/FmrText.h"
#include "host/formats/HostErrors.h"

namespace {

using corvantis::DocumentError;
using corvantis::FmrDocument;
using corvantis::SaveError;
using hosttest::TempDir;

std::string refusal(const std::string& path) {
    try {
        FmrDocument::open(path);
    } catch (const DocumentError& error) {
        return error.what();
    }
    return "opened";
}

TEST(FmrDocument, OpensTheRunAndDescribesItInTheHeader) {
    TempDir dir;
    const std::string fmr = hosttest::writeCountingRun(dir.path(), "run1", 3, 2, 2, 4);
    FmrDocument document = FmrDocument::open(fmr);
    const FMRHeader header = document.header();
    EXPECT_STREQ(header.FileName, fmr.c_str());
    EXPECT_EQ(header.NrOfVolumes, 4);
    EXPECT_EQ(header.DimX, 3);
    EXPECT_EQ(header.DimY, 2);
    EXPECT_EQ(header.DimZ, 2);
    EXPECT_EQ(header.DataType, 2);
    float** volumes = document.timeCourses().floatVolumes();
    ASSERT_NE(volumes, nullptr);
    // Volume-major, voxels in linear index order.
    EXPECT_EQ(volumes[0][0], 0.0f);
    EXPECT_EQ(volumes[0][11], 11.0f);
    EXPECT_EQ(volumes[3][5], 305.0f);
}

TEST(FmrDocument, HeaderCarriesTheAbsolutePathOfARelativeOne) {
    TempDir dir;
    hosttest::writeCountingRun(dir.path(), "run1", 1, 1, 1, 1);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const FMRHeader header = FmrDocument::open("./run1.fmr").header();
    std::filesystem::current_path(before);
    EXPECT_EQ(std::string(header.FileName), dir.file("run1.fmr"));
}

TEST(FmrDocument, SaveAsWritesBothFilesFromTheCurrentDataAndCarriesTheNewPath) {
    TempDir dir;
    const std::string fmr = hosttest::writeRun(dir.path(), "run1", 2, 1, 1, 2, 2, hosttest::floatBytes({1, 2, 3, 4}),
                                               "# a comment\nTR: 2000\nScannerName: Room 4\n");
    FmrDocument document = FmrDocument::open(fmr);
    document.timeCourses().floatVolumes()[1][0] = -7.5f;
    document.saveAs(dir.file("run1_clean.fmr"), "run1_clean");

    EXPECT_EQ(document.path(), dir.file("run1_clean.fmr"));
    EXPECT_STREQ(document.header().FileName, dir.file("run1_clean.fmr").c_str());
    EXPECT_EQ(hosttest::readFile(dir.file("run1_clean.fmr")),
              "NrOfVolumes: 2\nDimX: 2\nDimY: 1\nDimZ: 1\nDataType: 2\nSTCFile: run1_clean.stc\n"
              "TR: 2000\nScannerName: Room 4\n");
    EXPECT_EQ(hosttest::readFile(dir.file("run1_clean.stc")), hosttest::floatBytes({1, 2, -7.5f, 4}));
    // The original pair is untouched, and the saved one opens again as the same run.
    EXPECT_EQ(hosttest::readFile(dir.file("run1.stc")), hosttest::floatBytes({1, 2, 3, 4}));
    FmrDocument reopened = FmrDocument::open(dir.file("run1_clean.fmr"));
    EXPECT_EQ(reopened.timeCourses().floatVolumes()[1][0], -7.5f);
    EXPECT_EQ(*reopened.text().find("ScannerName"), "Room 4");
    EXPECT_EQ(hosttest::filesIn(dir.path()),
              (std::vector<std::string>{"run1.fmr", "run1.stc", "run1_clean.fmr", "run1_clean.stc"}));
}

TEST(FmrDocument, Int16RunsRoundTripAsInt16) {
    TempDir dir;
    const std::string bytes = hosttest::int16Bytes({-2, 300, 7, -32768, 32767, 0});
    const std::string fmr = hosttest::writeRun(dir.path(), "old", 3, 1, 1, 2, 1, bytes);
    FmrDocument document = FmrDocument::open(fmr);
    EXPECT_EQ(document.header().DataType, 1);
    EXPECT_EQ(document.timeCourses().floatVolumes(), nullptr);
    EXPECT_EQ(document.timeCourses().int16Value(1, 0), -32768);
    document.saveAs(dir.file("copy.fmr"), "copy");
    EXPECT_EQ(hosttest::readFile(dir.file("copy.stc")), bytes);
}

TEST(FmrDocument, TimeCourseFileIsFoundBesideTheFmrWhereverTheProgramRuns) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    hosttest::writeFile(dir.file("sub/data.stc"), hosttest::floatBytes({5}));
    hosttest::writeFile(dir.file("sub/r.fmr"),
                        "NrOfVolumes: 1\nDimX: 1\nDimY: 1\nDimZ: 1\nDataType: 2\n"
                        "STCFile: data.stc\n");
    EXPECT_EQ(FmrDocument::open(dir.file("sub/r.fmr")).timeCourses().floatVolumes()[0][0], 5.0f);
}

TEST(FmrDocumentRefusal, MissingOrMalformedTextIsNamedWithItsLine) {
    TempDir dir;
    const std::string fmr = dir.file("r.fmr");
    EXPECT_EQ(refusal(dir.file("none.fmr")), "cannot open \"" + dir.file("none.fmr") + "\": No such file or directory");
    hosttest::writeFile(fmr, "# header\n\nNrOfVolumes: 1\nDimX 4\n");
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\", line 4: expected \"Key: value\", found \"DimX 4\"");
    hosttest::writeFile(fmr, ": 4\n");
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\", line 1: expected \"Key: value\", found \": 4\"");
    hosttest::writeFile(fmr, "DimX: 1\nDimX: 2\n");
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\", line 2: the key \"DimX\" is given a second time");
}

TEST(FmrText, OnlyTheFirstBytesMayBeAByteOrderMark) {
    const std::string bom = "\xEF\xBB\xBF";
    const corvantis::FmrText text = corvantis::FmrText::parse(bom + "DimX: 4\nTR: 2000\n", "a.fmr");
    ASSERT_EQ(text.entries().size(), 2u);
    EXPECT_EQ(text.entries()[0].key, "DimX");
    // A second mark, or one after a blank line, would start the first key: saved, it would be read as the mark.
    for (const std::string& body : {bom + bom + "DimX: 4\n", "\n" + bom + "DimX: 4\n", "TR: 1\n" + bom + "X: 4\n"}) {
        try {
            corvantis::FmrText::parse(body, "b.fmr");
            ADD_FAILURE() << "accepted a key starting with a byte-order mark";
        } catch (const DocumentError& error) {
            EXPECT_NE(std::string(error.what()).find("starts with a byte-order mark"), std::string::npos)
                << error.what();
        }
    }
}

TEST(FmrDocumentRefusal, EveryRequiredKeyMustBeThere) {
    TempDir dir;
    const std::string full = "NrOfVolumes: 1\nDimX: 1\nDimY: 1\nDimZ: 1\nDataType: 2\nSTCFile: r.stc\n";
    hosttest::writeFile(dir.file("r.stc"), hosttest::floatBytes({1}));
    for (const char* key : {"NrOfVolumes", "DimX", "DimY", "DimZ", "DataType", "STCFile"}) {
        std::string text = full;
        const std::size_t at = text.find(key);
        text.erase(at, text.find('\n', at) + 1 - at);
        hosttest::writeFile(dir.file("r.fmr"), text);
        EXPECT_EQ(refusal(dir.file("r.fmr")),
                  "\"" + dir.file("r.fmr") + "\": the required key \"" + key + "\" is missing");
    }
}

TEST(FmrDocumentRefusal, NegativeOverflowingOrUnreadableCounts) {
    TempDir dir;
    const std::string fmr = dir.file("r.fmr");
    const std::string expected = "\"" + fmr + "\": DimY must be a whole number from 0 to 2147483647, not ";
    for (const std::string value : {"-3", "2147483648", "99999999999", "4.5", "", "0x10", "+2"}) {
        hosttest::writeRun(dir.path(), "r", 1, 1, 1, 1, 2, hosttest::floatBytes({1}));
        std::string text = hosttest::readFile(fmr);
        text.replace(text.find("DimY: 1"), 7, "DimY: " + value);
        hosttest::writeFile(fmr, text);
        EXPECT_EQ(refusal(fmr), expected + "\"" + value + "\"");
    }
    hosttest::writeRun(dir.path(), "r", 2048, 2048, 512, 0, 2, "");
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\": DimX x DimY x DimZ is 2147483648 voxels; a run holds at most 2147483647");
}

TEST(FmrDocumentRefusal, DataTypeAndOptionalNumbers) {
    TempDir dir;
    const std::string fmr = hosttest::writeRun(dir.path(), "r", 1, 1, 1, 1, 3, hosttest::floatBytes({1}));
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\": DataType must be 1 (int16) or 2 (float32), not \"3\"");
    hosttest::writeRun(dir.path(), "r", 1, 1, 1, 1, 2, hosttest::floatBytes({1}), "VoxelSizeZ: thick\n");
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\": VoxelSizeZ must be a number, not \"thick\"");
    hosttest::writeRun(dir.path(), "r", 1, 1, 1, 1, 2, hosttest::floatBytes({1}), "TR: 2000.5\nVoxelSizeX: 3\n");
    EXPECT_EQ(refusal(fmr), "opened");
}

TEST(FmrDocumentRefusal, TimeCourseFileOfTheWrongSizeOrMissing) {
    TempDir dir;
    const std::string fmr = hosttest::writeRun(dir.path(), "r", 2, 2, 1, 3, 2, hosttest::floatBytes({1, 2, 3}));
    EXPECT_EQ(refusal(fmr),
              "\"" + dir.file("r.stc") +
                  "\": the time-course file holds 12 bytes; 3 volumes of 2 x 2 x 1 float32 values take 48");
    hosttest::writeRun(dir.path(), "r", 2, 1, 1, 1, 1, hosttest::int16Bytes({1, 2, 3}));
    EXPECT_EQ(refusal(fmr), "\"" + dir.file("r.stc") +
                                "\": the time-course file holds 6 bytes; 1 volumes of 2 x 1 x 1 int16 values take 4");
    std::filesystem::remove(dir.file("r.stc"));
    EXPECT_EQ(refusal(fmr),
              "cannot open the time-course file \"" + dir.file("r.stc") + "\": No such file or directory");
}

TEST(FmrDocumentRefusal, PathTooLongForTheHeader) {
    TempDir dir;
    std::string folder = dir.path();
    while (folder.size() < 310) {
        folder += "/" + std::string(60, 'd');
        std::filesystem::create_directory(folder);
    }
    const std::string fmr = hosttest::writeCountingRun(folder, "r", 1, 1, 1, 1);
    EXPECT_EQ(refusal(fmr), "\"" + fmr + "\": its absolute path has " + std::to_string(fmr.size()) +
                                " bytes; the FMR header holds at most 303");
}

TEST(FmrDocumentSave, RefusedSavesChangeNothingAndLeaveNoFiles) {
    TempDir dir;
    FmrDocument document = FmrDocument::open(hosttest::writeCountingRun(dir.path(), "r", 1, 1, 1, 1));
    EXPECT_THROW(document.saveAs(dir.file("a.fmr"), "../escape"), SaveError);
    EXPECT_THROW(document.saveAs(dir.file("a.fmr"), ""), SaveError);
    EXPECT_THROW(document.saveAs(dir.file("no/such/folder/a.fmr"), "a"), SaveError);
    EXPECT_THROW(document.saveAs(dir.file(std::string(400, 'x') + ".fmr"), "a"), SaveError);
    EXPECT_EQ(document.path(), dir.file("r.fmr"));
    EXPECT_EQ(*document.text().find("STCFile"), "r.stc");
    EXPECT_EQ(hosttest::filesIn(dir.path()), (std::vector<std::string>{"r.fmr", "r.stc"}));
}

TEST(FmrDocumentSave, AFailedRenameKeepsTheOldFileAndRemovesTheTemporaryOne) {
    TempDir dir;
    FmrDocument document = FmrDocument::open(hosttest::writeCountingRun(dir.path(), "r", 1, 1, 1, 1));
    std::filesystem::create_directory(dir.file("busy.fmr")); // a folder cannot be replaced by a file
    hosttest::writeFile(dir.file("busy.fmr/keep"), "x");
    try {
        document.saveAs(dir.file("busy.fmr"), "busy");
        FAIL() << "saved over a folder";
    } catch (const SaveError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot rename"), std::string::npos) << error.what();
    }
    EXPECT_EQ(hosttest::filesIn(dir.path()), (std::vector<std::string>{"busy.fmr", "busy.stc", "r.fmr", "r.stc"}));
    EXPECT_EQ(document.path(), dir.file("r.fmr"));
}

} // namespace

namespace {

// A value from a path (a NIfTI run's NiftiSource, say) may hold a line break,
// which an .fmr cannot keep: the save is refused before any file is written,
// rather than writing a text that reads back as other entries.
TEST(FmrDocumentSave, AValueHoldingALineBreakIsRefusedAndWritesNothing) {
    TempDir dir;
    corvantis::FmrText text;
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"NrOfVolumes", "2"}, {"DimX", "1"}, {"DimY", "1"}, {"DimZ", "1"}, {"DataType", "2"}}) {
        text.set(key, value);
    }
    text.set("NiftiSource", "/data/two\nlines/run.nii");
    FmrDocument document = FmrDocument::fromParts(dir.file("run.fmr"), std::move(text),
                                                  corvantis::TimeCourses(2, 1, corvantis::kDataTypeFloat32));
    EXPECT_EQ(*document.text().find("NiftiSource"), "/data/two\nlines/run.nii");
    try {
        document.saveAs(dir.file("saved.fmr"), "saved");
        FAIL() << "saved a text that does not read back";
    } catch (const SaveError& error) {
        EXPECT_STREQ(error.what(),
                     "the .fmr entry \"NiftiSource\" holds a line break (\"/data/two\nlines/run.nii\"), "
                     "which an .fmr file cannot keep");
    }
    EXPECT_EQ(hosttest::filesIn(dir.path()), std::vector<std::string>{});
    // At either end of the value a carriage return would be lost when read back: refused too.
    corvantis::FmrText ended = document.text();
    ended.set("NiftiSource", "/data/run.nii\r");
    FmrDocument endedDocument = FmrDocument::fromParts(dir.file("run.fmr"), std::move(ended),
                                                       corvantis::TimeCourses(2, 1, corvantis::kDataTypeFloat32));
    EXPECT_THROW(endedDocument.saveAs(dir.file("saved.fmr"), "saved"), SaveError);
    EXPECT_EQ(hosttest::filesIn(dir.path()), std::vector<std::string>{});
}

// A carriage return inside a value is read as part of it, so a document that
// holds one saves and reads back the same (the fuzzer found such a text refused).
TEST(FmrDocumentSave, ACarriageReturnInsideAValueIsKeptThroughASave) {
    TempDir dir;
    const std::string value = std::string("400\x0f\x0f\r\x0f") + "0";
    hosttest::writeFile(dir.file("run.fmr"), "NrOfVolumes: 2\nDimX: 1\nDimY: 1\nDimZ: 1\nDataType: 2\n"
                                             "STCFile: run.stc\nNote: " + value + "\n");
    hosttest::writeFile(dir.file("run.stc"), std::string(8, '\0'));
    FmrDocument document = FmrDocument::open(dir.file("run.fmr"));
    ASSERT_EQ(*document.text().find("Note"), value);
    document.saveAs(dir.file("saved.fmr"), "saved");
    EXPECT_EQ(*FmrDocument::open(dir.file("saved.fmr")).text().find("Note"), value);
}

} // namespace
