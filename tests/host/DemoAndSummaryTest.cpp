#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "HostTestSupport.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/HostErrors.h"
#include "host/formats/MapImage.h"
#include "host/research/DemoRun.h"
#include "host/research/MapSummary.h"

using namespace corvantis;

TEST(DemoRun, SameSeedSameFilesAndTheRunOpensAsADocument) {
    hosttest::TempDir a, b;
    const DemoRunSpec shape{6, 5, 4, 30, 9};
    const DemoRunFiles fa = writeDemoRun(a.path(), shape);
    writeDemoRun(b.path(), shape);
    for (const char* name : {"run.fmr", "run.stc", "model1_drift.sdm", "model2_drift_motion.sdm"}) {
        EXPECT_EQ(hosttest::readFile(a.file(name)), hosttest::readFile(b.file(name))) << name;
    }
    const FmrDocument doc = FmrDocument::open(fa.fmr);
    EXPECT_EQ(doc.layout().voxels(), 120);
    EXPECT_EQ(doc.layout().nrOfVolumes, 30);
    EXPECT_NE(hosttest::readFile(fa.model2).find("NrOfPredictors:         10"), std::string::npos);
    EXPECT_NE(hosttest::readFile(fa.model1).find("NrOfDataPoints:         30"), std::string::npos);
}

TEST(DemoRun, AnotherSeedAnotherRun) {
    hosttest::TempDir a, b;
    writeDemoRun(a.path(), DemoRunSpec{4, 4, 2, 20, 1});
    writeDemoRun(b.path(), DemoRunSpec{4, 4, 2, 20, 2});
    EXPECT_NE(hosttest::readFile(a.file("run.stc")), hosttest::readFile(b.file("run.stc")));
}

namespace {

std::string mapFileBytes(MapExtents extents, const std::vector<float>& values, float lower) {
    MapHeader h = newMapHeader(extents);
    h.LowerThreshold = lower;
    std::string bytes(kMapFileMagic, kMapFileMagicLength);
    bytes.append(reinterpret_cast<const char*>(&h), sizeof h);
    bytes += hosttest::floatBytes(values);
    return bytes;
}

} // namespace

TEST(MapSummary, CountsValuedVoxelsAndLeavesOutZerosAndNonFinite) {
    hosttest::TempDir dir;
    const float inf = std::numeric_limits<float>::infinity();
    hosttest::writeFile(dir.file("m.map"), mapFileBytes({3, 2, 1}, {0.0f, -1.0f, 4.0f, 2.0f, inf, 3.0f}, 2.5f));
    const MapStatistics s = summarize(readMapFile(dir.file("m.map")));
    EXPECT_EQ(s.voxels, 6);
    EXPECT_EQ(s.withValue, 4);
    EXPECT_EQ(s.nonFinite, 1);
    EXPECT_EQ(s.positive, 3);
    EXPECT_EQ(s.aboveLower, 2);
    EXPECT_EQ(s.min, -1.0);
    EXPECT_EQ(s.median, 2.5);
    EXPECT_EQ(s.max, 4.0);
}

TEST(MapSummary, RefusesFilesThatAreNotCompleteMaps) {
    hosttest::TempDir dir;
    hosttest::writeFile(dir.file("short.map"), mapFileBytes({2, 2, 1}, {1.0f, 2.0f, 3.0f}, 1.0f));
    hosttest::writeFile(dir.file("other.map"), std::string(80, 'x'));
    EXPECT_THROW(readMapFile(dir.file("short.map")), DocumentError);
    EXPECT_THROW(readMapFile(dir.file("other.map")), DocumentError);
    EXPECT_THROW(readMapFile(dir.file("absent.map")), DocumentError);
}

TEST(MapSummary, CommandPrintsOneLinePerMap) {
    hosttest::TempDir dir;
    hosttest::writeFile(dir.file("a.map"), mapFileBytes({2, 1, 1}, {0.0f, 7.0f}, 1.0f));
    const hosttest::Outcome o = hosttest::runProgram(hosttest::corvantisProgram(), {"summary", dir.file("a.map")});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("a.map"), std::string::npos);
    EXPECT_EQ(o.out.find("a.map"), o.out.rfind("a.map"));
    EXPECT_EQ(hosttest::runProgram(hosttest::corvantisProgram(), {"summary"}).status, 2);
}
