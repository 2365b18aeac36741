// Every input is read whole and bounded, or refused with a message naming the
// file: pipes, devices and folders, headers that claim more than their files
// hold, zero extents, short NIfTI data, byte-order marks and NIfTI files told by
// their content. Whatever could hang runs as the real program under a timeout.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "host/core/RunDocument.h"
#include "host/core/SavedMap.h"
#include "host/formats/ConfoundTable.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"
#include "host/formats/MapImage.h"
#include "host/research/MapSummary.h"
#ifdef QUORVEX_HOST_NIFTI
#include <nifti1.h>
#include <zlib.h>

#include "host/research/MapPicture.h"
#endif

namespace {

using hosttest::Outcome;
using hosttest::TempDir;

constexpr int kTimedOut = 128 + 9; // the status of a program killed by timeout -s KILL

// The program, killed after 20 seconds: a read that blocks ends the test, not the suite.
Outcome runBounded(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-s", "KILL", "20", hosttest::corvantisProgram()};
    all.insert(all.end(), args.begin(), args.end());
    return hosttest::runProgram("/usr/bin/timeout", all);
}

std::string fifoIn(const TempDir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("cannot make the FIFO " + path);
    return path;
}

std::string q(const std::string& path) { return "\"" + path + "\""; }

std::string error(const std::string& message) { return "Corvantis: error: " + message + "\n"; }

template <class Read>
std::string refusal(Read read) {
    try {
        read();
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

std::string le32(uint32_t bits) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return bytes;
}

// A .map header with the given extents, then the given bytes of values.
std::string mapBytes(int32_t x, int32_t y, int32_t z, const std::string& values) {
    std::string bytes(corvantis::kMapFileMagic, corvantis::kMapFileMagicLength);
    for (int32_t word : {x, y, z, 0, 0, 0, 0, 0, 0, 0}) bytes += le32(static_cast<uint32_t>(word));
    return bytes + std::string(24, '\0') + values;
}

std::string smallRun(const std::string& folder) { return hosttest::writeCountingRun(folder, "run", 2, 2, 1, 3); }

TEST(SafeReads, AFifoAsTheRunOrItsTimeCoursesIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = fifoIn(dir, "run.fmr");
    Outcome outcome = runBounded({"--fmr", fifo, "start"});
    ASSERT_NE(outcome.status, kTimedOut) << "the open waited for a writer";
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, error("cannot open " + q(fifo) + ": it is a pipe, not a regular file"));

    const std::string stc = fifoIn(dir, "fifo.stc");
    const std::string fmr = hosttest::writeRun(dir.path(), "other", 2, 2, 1, 3, 2, "");
    std::string text = hosttest::readFile(fmr);
    text.replace(text.find("other.stc"), 9, "fifo.stc");
    hosttest::writeFile(fmr, text);
    outcome = runBounded({"--fmr", fmr, "start"});
    ASSERT_NE(outcome.status, kTimedOut) << "the open waited for a writer";
    EXPECT_EQ(outcome.err, error("cannot open the time-course file " + q(stc) + ": it is a pipe, not a regular file"));
}

TEST(SafeReads, ADesignFileThatIsAFifoOrAFolderIsRefusedBeforeThePluginOpensIt) {
    TempDir dir;
    const std::string run = smallRun(dir.path());
    const std::string fifo = fifoIn(dir, "model.sdm");
    Outcome outcome = runBounded({"--fmr", run, "--set", "sdmfile1=" + fifo, "--set", "sdmfile2=" + fifo, "start"});
    ASSERT_NE(outcome.status, kTimedOut) << "the plug-in waited for a writer";
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              error("the design file " + q(fifo) + " (sdmfile1) is not a regular file; the start is not run"));

    const std::string sdm = dir.file("plain.sdm");
    hosttest::writeFile(sdm, "FileVersion: 1\n");
    outcome = runBounded({"--fmr", run, "--set", "sdmfile1=" + sdm, "--set", "sdmfile2=" + dir.path(), "start"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, error("the design file " + q(dir.path()) + " (sdmfile2) is a folder; the start is not run"));
}

TEST(SafeReads, AFifoOrDevZeroAsATableIsRefusedWithoutWaitingOrGrowing) {
    TempDir dir;
    const std::string fifo = fifoIn(dir, "events.tsv");
    for (const std::string& table : {fifo, std::string("/dev/zero")}) {
        const Outcome outcome = runBounded(
            {"make-sdm", "--table", table, "--volumes", "3", "--interest", "a", "--output", dir.file("m.sdm")});
        ASSERT_NE(outcome.status, kTimedOut) << table;
        EXPECT_EQ(outcome.err, error("cannot open the table " + q(table) + ": it is a " +
                                     (table == fifo ? "pipe" : "device") + ", not a regular file"));
    }
    EXPECT_FALSE(hosttest::fileExists(dir.file("m.sdm")));
}

TEST(SafeReads, AFolderGivenAsATableSaysItIsAFolder) {
    TempDir dir;
    // It read as an empty table: "the table is empty; its first row must name the columns".
    EXPECT_EQ(refusal([&] { corvantis::readConfoundTable(dir.path()); }),
              "cannot open the table " + q(dir.path()) + ": it is a folder, not a file");
}

TEST(SafeReads, AFifoOrDevZeroAsAMapIsRefusedBySummaryAndRender) {
    TempDir dir;
    const std::string fifo = fifoIn(dir, "m.map");
    for (const std::string& map : {fifo, std::string("/dev/zero")}) {
        const std::string kind = map == fifo ? "pipe" : "device";
        Outcome outcome = runBounded({"summary", map});
        ASSERT_NE(outcome.status, kTimedOut) << map;
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, error("cannot open the map " + q(map) + ": it is a " + kind + ", not a regular file"));
        outcome = runBounded({"render", map, "-o", dir.file("p.png")});
        ASSERT_NE(outcome.status, kTimedOut) << map;
        EXPECT_EQ(outcome.err, error("cannot open the map " + q(map) + ": it is a " + kind + ", not a regular file"));
    }
}

// 1002840763 x 2535073 x 1814 voxels are 2^62 + 82: four bytes each wrapped
// around 2^64 to the 328 bytes that follow the header, and the reader then
// asked for 2^62 values.
TEST(SafeReads, AMapHeaderClaimingMoreThanItHoldsIsRefusedBeforeAllocating) {
    TempDir dir;
    const std::string wraps = dir.file("wraps.map"), huge = dir.file("huge.map");
    hosttest::writeFile(wraps, mapBytes(1002840763, 2535073, 1814, std::string(328, '\0')));
    hosttest::writeFile(huge, mapBytes(2048, 2048, 64, std::string(328, '\0')));
    Outcome outcome = runBounded({"summary", wraps});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, error(q(wraps) + ": the map's extents 1002840763 x 2535073 x 1814 make more than the "
                                            "2147483647 voxels a map holds"));
    outcome = runBounded({"summary", huge});
    EXPECT_EQ(outcome.err, error(q(huge) + ": the map holds 400 bytes; its header and 2048 x 2048 x 64 float "
                                           "values take 1073741896"));
}

TEST(SafeReads, MapsWithAZeroExtentAreRefusedBySummaryAndRender) {
    TempDir dir;
    const std::string map = dir.file("zero.map");
    hosttest::writeFile(map, mapBytes(4, 0, 3, ""));
    const std::string message = error(q(map) + ": the map's extents are 4 x 0 x 3; each must be at least 1");
    Outcome outcome = runBounded({"summary", map});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, message);
    outcome = runBounded({"render", map, "-o", dir.file("p.png")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, message);
    EXPECT_FALSE(hosttest::fileExists(dir.file("p.png")));
}

TEST(SafeReads, RunsWithAZeroExtentAreRefusedWhenOpened) {
    TempDir dir;
    const std::string fmr = hosttest::writeRun(dir.path(), "run", 2, 0, 1, 3, 2, "");
    EXPECT_EQ(refusal([&] { corvantis::FmrDocument::open(fmr); }),
              q(fmr) + ": the run's extents are 2 x 0 x 1 with 3 volumes; each must be at least 1");
    hosttest::writeRun(dir.path(), "run", 2, 2, 1, 0, 2, "");
    EXPECT_EQ(refusal([&] { corvantis::FmrDocument::open(fmr); }),
              q(fmr) + ": the run's extents are 2 x 2 x 1 with 0 volumes; each must be at least 1");
}

// A header of 2^31 - 1 voxels by 2^31 - 1 volumes before a 400-byte time-course file.
TEST(SafeReads, AnFmrClaimingMoreThanItsTimeCourseFileHoldsIsRefused) {
    TempDir dir;
    const std::string fmr =
        hosttest::writeRun(dir.path(), "run", 2147483647, 1, 1, 2147483647, 2, std::string(400, '\0'));
    EXPECT_EQ(refusal([&] { corvantis::FmrDocument::open(fmr); }),
              q(dir.file("run.stc")) +
                  ": the time-course file holds 400 bytes; 2147483647 volumes of 2147483647 x 1 x "
                  "1 float32 values take 18446744056529682436");
}

TEST(SafeReads, AByteOrderMarkBeforeAnFmrOrATableIsSkipped) {
    TempDir dir;
    const std::string fmr = smallRun(dir.path());
    hosttest::writeFile(fmr, "\xEF\xBB\xBF" + hosttest::readFile(fmr));
    EXPECT_EQ(corvantis::FmrDocument::open(fmr).layout().nrOfVolumes, 3);

    hosttest::writeFile(dir.file("t.tsv"),
                        "\xEF\xBB\xBF"
                        "task\tcsf\n1\t2\n");
    const corvantis::ConfoundTable table = corvantis::readConfoundTable(dir.file("t.tsv"));
    EXPECT_EQ(table.names, (std::vector<std::string>{"task", "csf"}));
    ASSERT_NE(table.column("task"), nullptr);
    EXPECT_EQ(*table.column("task")->front(), 1.0);
}

#ifdef QUORVEX_HOST_NIFTI

// A single-file NIfTI-1 image of float32 values, written byte by byte: the
// header, the extension flag, padding up to voxOffset, then the values.
std::string niftiBytes(const std::vector<short>& dims, float voxOffset, const std::vector<float>& values) {
    nifti_1_header h;
    std::memset(&h, 0, sizeof h);
    h.sizeof_hdr = 348;
    h.dim[0] = static_cast<short>(dims.size());
    for (std::size_t i = 0; i < dims.size(); ++i) h.dim[i + 1] = dims[i];
    for (float& size : h.pixdim) size = 1.0f;
    h.datatype = DT_FLOAT32;
    h.bitpix = 32;
    h.vox_offset = voxOffset;
    std::memcpy(h.magic, "n+1", 4);
    std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
    bytes += std::string(4, '\0');
    if (voxOffset > 352) bytes += std::string(static_cast<std::size_t>(voxOffset) - 352, '\0');
    return bytes + hosttest::floatBytes(values);
}

std::vector<float> counting(std::size_t n) {
    std::vector<float> values;
    for (std::size_t i = 0; i < n; ++i) values.push_back(static_cast<float>(i) + 0.5f);
    return values;
}

std::string gzipped(const std::string& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size())) + 32;
    std::string out(size, '\0');
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string runRefusal(const std::string& path) {
    return refusal([&] { corvantis::openRunDocument(path); });
}

TEST(SafeReadsNifti, AFifoAsANiftiRunIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = fifoIn(dir, "run.nii.gz");
    const Outcome outcome = runBounded({"--fmr", fifo, "start"});
    ASSERT_NE(outcome.status, kTimedOut) << "the open waited for a writer";
    EXPECT_EQ(outcome.err, error("cannot open " + q(fifo) + ": it is a pipe, not a regular file"));
}

TEST(SafeReadsNifti, AHeaderClaimingGigabytesBeforeAFewBytesIsRefused) {
    TempDir dir;
    const std::string path = dir.file("huge.nii");
    hosttest::writeFile(path, niftiBytes({2048, 2048, 64, 1000}, 352, counting(12)));
    EXPECT_EQ(runRefusal(path), q(path) +
                                    ": the file holds 400 bytes; its header places 1073741824000 bytes of "
                                    "values (2048 x 2048 x 64 x 1000) at byte 352, so it needs at least "
                                    "1073741824352");
}

// A compressed header may claim far more than its bytes hold: the claim is
// checked before memory is set aside for a terabyte of values.
TEST(SafeReadsNifti, ACompressedHeaderClaimingATerabyteIsRefusedWithoutAllocatingIt) {
    TempDir dir;
    const std::string path = dir.file("huge.nii.gz");
    hosttest::writeFile(path, gzipped(niftiBytes({2048, 2048, 64, 1000}, 352, counting(12))));
    EXPECT_EQ(runRefusal(path), q(path) + ": its values end after 48 of the 1073741824000 bytes its header declares");
    const std::string map = dir.file("huge-map.nii.gz");
    hosttest::writeFile(map, gzipped(niftiBytes({2048, 2048, 400, 1}, 352, counting(12))));
    EXPECT_EQ(refusal([&] { corvantis::readSavedMap(map); }),
              q(map) + ": its values end after 48 of the 6710886400 bytes its header declares");
}

TEST(SafeReadsNifti, ARunWithAZeroExtentIsRefused) {
    TempDir dir;
    const std::string path = dir.file("zero.nii");
    hosttest::writeFile(path, niftiBytes({2, 0, 1, 3}, 352, counting(6)));
    EXPECT_EQ(runRefusal(path), q(path) + ": the image's extents are 2 x 0 x 1 x 3; each must be at least 1");
}

TEST(SafeReadsNifti, ShortDataIsRefusedNotFilledWithZeros) {
    TempDir dir;
    const std::string whole = niftiBytes({2, 2, 1, 3}, 352, counting(12));
    const std::string nii = dir.file("short.nii"), gz = dir.file("short.nii.gz");
    hosttest::writeFile(nii, whole.substr(0, whole.size() - 1));
    EXPECT_EQ(runRefusal(nii), q(nii) +
                                   ": the file holds 399 bytes; its header places 48 bytes of values "
                                   "(2 x 2 x 1 x 3) at byte 352, so it needs at least 400");
    // Cut in the middle of 4800 bytes of values.
    const std::string compressed = gzipped(niftiBytes({2, 2, 1, 300}, 352, counting(1200)));
    hosttest::writeFile(gz, compressed.substr(0, compressed.size() / 2));
    const std::string message = runRefusal(gz);
    EXPECT_EQ(message.rfind(q(gz) + ": its values end after ", 0), 0u) << message;
    const std::string cut = " (the compressed file is cut short)";
    ASSERT_GT(message.size(), cut.size()) << message;
    EXPECT_EQ(message.substr(message.size() - cut.size()), cut) << message;
}

TEST(SafeReadsNifti, AVoxOffsetOutsideTheFileOrInsideTheHeaderIsRefused) {
    TempDir dir;
    const std::string path = dir.file("run.nii");
    std::string bytes = niftiBytes({2, 2, 1, 3}, 352, counting(12));
    float beyond = 4096;
    std::memcpy(&bytes[108], &beyond, 4); // vox_offset
    hosttest::writeFile(path, bytes);
    EXPECT_EQ(runRefusal(path), q(path) + ": its vox_offset 4096 lies beyond the end of the file at 400");
    for (float inside : {0.0f, 348.0f}) {
        hosttest::writeFile(path, niftiBytes({2, 2, 1, 3}, inside, counting(12)));
        EXPECT_EQ(runRefusal(path),
                  q(path) + ": its vox_offset " + (inside == 0.0f ? "0" : "348") +
                      " is not a whole byte from 352 on; the values follow the header and its extension flag");
    }
    hosttest::writeFile(dir.file("beyond.nii.gz"), gzipped(bytes));
    EXPECT_EQ(runRefusal(dir.file("beyond.nii.gz")),
              q(dir.file("beyond.nii.gz")) +
                  ": its vox_offset 4096 lies beyond the end of the uncompressed data at 400");
}

TEST(SafeReadsNifti, AnUpperCaseNameIsReadByItsContent) {
    TempDir dir;
    const std::string path = dir.file("RUN.NII.GZ");
    hosttest::writeFile(path, gzipped(niftiBytes({2, 2, 1, 3}, 352, counting(12))));
    const corvantis::FmrDocument run = corvantis::openRunDocument(path);
    EXPECT_EQ(run.path(), dir.file("RUN.fmr"));
    ASSERT_EQ(run.layout().voxels(), 4);
    ASSERT_EQ(run.layout().nrOfVolumes, 3);
    EXPECT_EQ(run.timeCourses().floatValue(2, 3), 11.5f);
}

// The header goes to niftilib as stored, which turns it round; the values are turned round here.
TEST(SafeReadsNifti, ABigEndianRunIsReadTheRightWayRound) {
    TempDir dir;
    std::string bytes = niftiBytes({1, 1, 1, 2}, 352, {});
    const auto reverse = [&bytes](std::size_t at, std::size_t size) {
        std::reverse(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
    };
    reverse(0, 4);                                               // sizeof_hdr
    for (std::size_t at = 40; at < 56; at += 2) reverse(at, 2);  // dim
    reverse(70, 2);                                              // datatype
    reverse(72, 2);                                              // bitpix
    for (std::size_t at = 76; at < 112; at += 4) reverse(at, 4); // pixdim, vox_offset
    bytes += std::string("\x3f\xc0\x00\x00\xc0\x20\x00\x00", 8); // 1.5 and -2.5, big-endian
    hosttest::writeFile(dir.file("be.nii"), bytes);
    const corvantis::FmrDocument run = corvantis::openRunDocument(dir.file("be.nii"));
    ASSERT_EQ(run.layout().nrOfVolumes, 2);
    EXPECT_EQ(run.timeCourses().floatValue(0, 0), 1.5f);
    EXPECT_EQ(run.timeCourses().floatValue(1, 0), -2.5f);
}

TEST(SafeReadsNifti, ANiiHoldingAnFmrTextSaysSo) {
    TempDir dir;
    const std::string fmr = smallRun(dir.path());
    const std::string path = dir.file("run.nii");
    hosttest::writeFile(path, hosttest::readFile(fmr));
    EXPECT_EQ(runRefusal(path), q(path) +
                                    " is not a NIfTI-1 image: it has no NIfTI-1 magic \"n+1\" at byte 344; "
                                    "it holds the text of an .fmr run: give it a name ending in .fmr");
}

// A picture's sizes were ints: 2^31 - 1 voxels a row at zoom 64 wrapped.
TEST(SafeReadsPicture, PicturesTooLargeToDrawAreRefused) {
    corvantis::MapContents map;
    map.header.DimX = 2147483647;
    map.header.DimY = 1;
    map.header.DimZ = 1;
    EXPECT_EQ(refusal([&] {
                  corvantis::panelLayout({{"m.map", map}}, 64);
              }),
              "1 maps of 2147483647 x 1 x 1 voxels make panels of 137438953501 x 84 pixels; a picture holds at most "
              "1000000 pixels a side and 268435456 in all");
    map.header.DimX = 20000;
    map.header.DimY = 20000;
    EXPECT_EQ(refusal([&] {
                  corvantis::panelLayout({{"m.map", map}}, 1);
              }),
              "1 maps of 20000 x 20000 x 1 voxels make panels of 20093 x 20020 pixels; a picture holds at most "
              "1000000 pixels a side and 268435456 in all");
}

#endif

} // namespace
