// NIfTI-1 runs as the current document: written by nibabel, opened by the host,
// values compared bit for bit with the stored values scaled in double precision.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "Nibabel.h"
#include "host/core/RunDocument.h"
#include "host/formats/HostErrors.h"
#include "host/research/RunTiming.h"
#include "tests/support/FloatBits.h"

namespace {

using hosttest::TempDir;
using testsupport::bitsOf;

// Writes argv[1] with shape argv[2] ("3,2,2,4"), dtype argv[3], slope argv[4],
// intercept argv[5]; values run through the type's extremes and back.
// Writes argv[1] with shape argv[2] ("3,2,2,4"), dtype argv[3], scl_slope argv[4]
// and scl_inter argv[5] stored as given (nibabel's own save would rescale);
// values run through the type's range. The stored values also go to argv[1] + ".raw".
const char kWriteRun[] = R"(
import sys, gzip, numpy as np, nibabel as nib
path, shape, dtype = sys.argv[1], tuple(int(s) for s in sys.argv[2].split(',')), np.dtype(sys.argv[3])
n = int(np.prod(shape))
if dtype.kind in 'iu':
    raw = np.linspace(np.iinfo(dtype).min, np.iinfo(dtype).max, n).round().astype(dtype)
else:
    raw = ((np.arange(n, dtype=np.float64) * 1.37 - 40.0) / 3).astype(dtype)
hdr = nib.Nifti1Header()
hdr.set_data_shape(shape)
hdr.set_data_dtype(dtype)
tr = float(sys.argv[6]) if len(sys.argv) > 6 else 2.5
hdr.set_zooms((2.0, 3.0, 4.0, tr, 1.0)[:len(shape)])
hdr.set_xyzt_units('mm', 'sec')
hdr.set_qform(np.diag([2.0, 3.0, 4.0, 1.0]), code=1)
hdr['scl_slope'] = float(sys.argv[4])
hdr['scl_inter'] = float(sys.argv[5])
hdr['vox_offset'] = 352
blob = hdr.binaryblock + b'\0' * 4 + raw.astype(dtype.newbyteorder('<')).tobytes()
(gzip.open if path.endswith('.gz') else open)(path, 'wb').write(blob)
raw.astype(np.float64).tofile(path + '.raw')
)";

std::vector<double> rawValues(const std::string& path) {
    const std::string bytes = hosttest::readFile(path + ".raw");
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}

void writeRun(const std::string& path, const std::string& shape, const std::string& dtype, double slope, double inter,
              const std::string& tr = "2.5") {
    const hosttest::Outcome made =
        hostio::runPython(kWriteRun, {path, shape, dtype, std::to_string(slope), std::to_string(inter), tr});
    ASSERT_EQ(made.status, 0) << made.err;
}

void expectScaledValues(const corvantis::FmrDocument& run, const std::vector<double>& raw, double slope, double inter) {
    const corvantis::TimeCourses& tc = run.timeCourses();
    ASSERT_EQ(static_cast<std::size_t>(tc.volumes()) * tc.voxels(), raw.size());
    std::size_t i = 0;
    for (int32_t t = 0; t < tc.volumes(); ++t) {
        for (int32_t l = 0; l < tc.voxels(); ++l, ++i) {
            const float expected =
                static_cast<float>(slope == 0.0 ? raw[i]
                                                : raw[i] * static_cast<double>(static_cast<float>(slope)) +
                                                      static_cast<double>(static_cast<float>(inter)));
            ASSERT_EQ(bitsOf(tc.floatValue(t, l)), bitsOf(expected)) << "volume " << t << ", voxel " << l;
        }
    }
}

TEST(NiftiRun, Int16WithScalingBecomesFloatTimeCourses) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    const std::string path = dir.file("run.nii.gz");
    writeRun(path, "3,2,2,4", "int16", 0.25, -7.5);
    const corvantis::FmrDocument run = corvantis::openRunDocument(path);
    EXPECT_EQ(run.layout().dimX, 3);
    EXPECT_EQ(run.layout().dimY, 2);
    EXPECT_EQ(run.layout().dimZ, 2);
    EXPECT_EQ(run.layout().nrOfVolumes, 4);
    EXPECT_EQ(run.layout().dataType, corvantis::kDataTypeFloat32);
    EXPECT_EQ(run.path(), dir.file("run.fmr"));
    EXPECT_EQ(*run.text().find("TR"), "2500");
    EXPECT_EQ(*run.text().find("VoxelSizeX"), "2");
    EXPECT_EQ(*run.text().find("VoxelSizeY"), "3");
    EXPECT_EQ(*run.text().find("VoxelSizeZ"), "4");
    expectScaledValues(run, rawValues(path), 0.25, -7.5);
}

TEST(NiftiRun, Float32NiiKeepsItsValues) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    const std::string path = dir.file("run.nii");
    writeRun(path, "4,3,2,5", "float32", 0.0, 0.0);
    const corvantis::FmrDocument run = corvantis::openRunDocument(path);
    EXPECT_EQ(run.layout().voxels(), 24);
    expectScaledValues(run, rawValues(path), 0.0, 0.0);
}

TEST(NiftiRun, OtherStoredTypesAreScaledToo) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    for (const char* dtype : {"uint8", "int32", "uint16", "float64"}) {
        const std::string path = dir.file(std::string(dtype) + ".nii.gz");
        writeRun(path, "2,2,2,3", dtype, 1.5, 100.0);
        expectScaledValues(corvantis::openRunDocument(path), rawValues(path), 1.5, 100.0);
    }
}

std::string refusal(const std::string& path) {
    try {
        corvantis::openRunDocument(path);
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(NiftiRun, RefusesImagesThatAreNotFourDimensionalAndUnreadableFiles) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    writeRun(dir.file("anat.nii"), "3,2,2", "int16", 0.0, 0.0);
    EXPECT_EQ(refusal(dir.file("anat.nii")),
              "\"" + dir.file("anat.nii") + "\" is a 3D image; a functional run is 4D (x, y, z, time)");
    writeRun(dir.file("five.nii.gz"), "3,2,2,4,2", "float32", 0.0, 0.0);
    EXPECT_EQ(refusal(dir.file("five.nii.gz")),
              "\"" + dir.file("five.nii.gz") + "\" is a 5D image; a functional run is 4D (x, y, z, time)");
    hosttest::writeFile(dir.file("junk.nii"), std::string(400, 'x'));
    EXPECT_EQ(refusal(dir.file("junk.nii")),
              "\"" + dir.file("junk.nii") + "\" is not a NIfTI-1 image: it has no NIfTI-1 magic \"n+1\" at byte 344");
    EXPECT_EQ(refusal(dir.file("absent.nii.gz")),
              "cannot open \"" + dir.file("absent.nii.gz") + "\": No such file or directory");
}

TEST(NiftiRun, TheCommandLineRefusesWithTheMessage) {
    TempDir dir;
    hosttest::writeFile(dir.file("junk.nii.gz"), "not an image");
    const hosttest::Outcome outcome =
        hosttest::runProgram(hosttest::corvantisProgram(), {"--fmr", dir.file("junk.nii.gz"), "start"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Corvantis: error: \"" + dir.file("junk.nii.gz") +
                               "\" is not a NIfTI-1 image: it has no NIfTI-1 magic \"n+1\" at byte 344\n");
}

std::string refusalOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const corvantis::DocumentError& e) {
        return e.what();
    }
    return "(accepted)";
}

// A header's time step of 0 means the TR is unknown: it must not become 1 s.
// The run's sidecar then tells it; when both tell one they must agree, and so
// must a TR given on the command line.
TEST(NiftiRun, AHeaderTrOfZeroIsUnknownAndTheSidecarTellsIt) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    const std::string path = dir.file("sub-01_task-rest_desc-preproc_bold.nii.gz");
    writeRun(path, "3,2,2,4", "float32", 0.0, 0.0, "0");
    const corvantis::FmrDocument run = corvantis::openRunDocument(path);
    EXPECT_EQ(*run.text().find("TR"), "0");
    const std::string sidecar = dir.file("sub-01_task-rest_desc-preproc_bold.json");
    EXPECT_EQ(corvantis::runSidecarPath(path), sidecar);
    corvantis::RepetitionTime tr = corvantis::runRepetitionTime(run, path);
    EXPECT_FALSE(tr.seconds.has_value());
    EXPECT_TRUE(tr.sidecar.empty());
    EXPECT_EQ(tr.source, "the header of \"" + path + "\" gives no TR (0: unknown) and no sidecar \"" + sidecar +
                             "\" gives a RepetitionTime");
    EXPECT_EQ(*corvantis::chosenRepetitionTime(tr, 2.0).seconds, 2.0);

    hosttest::writeFile(sidecar, "{\"TaskName\": \"rest\", \"RepetitionTime\": 1.5}\n");
    tr = corvantis::runRepetitionTime(run, path);
    EXPECT_EQ(*tr.seconds, 1.5);
    EXPECT_EQ(tr.source, "the sidecar \"" + sidecar + "\"");
    EXPECT_EQ(tr.sidecar, sidecar);
    EXPECT_EQ(refusalOf([&] { corvantis::chosenRepetitionTime(tr, 2.0); }),
              "--tr 2 differs from the run's TR of 1.5 s (the sidecar \"" + sidecar +
                  "\"); leave --tr out to use the run's");
    hosttest::writeFile(sidecar, "{\"RepetitionTime\": \"1.5\"}\n");
    EXPECT_EQ(refusalOf([&] { corvantis::runRepetitionTime(run, path); }),
              "\"" + sidecar + "\": \"RepetitionTime\" holds \"1.5\", not a number of seconds above 0");
    hosttest::writeFile(sidecar, "[1.5]\n");
    EXPECT_NE(refusalOf([&] { corvantis::runRepetitionTime(run, path); }).find("holds no JSON object"),
              std::string::npos);

    // The header's TR and the sidecar's must agree.
    const std::string known = dir.file("known_bold.nii");
    writeRun(known, "3,2,2,4", "float32", 0.0, 0.0, "2.5");
    const corvantis::FmrDocument knownRun = corvantis::openRunDocument(known);
    hosttest::writeFile(dir.file("known_bold.json"), "{\"RepetitionTime\": 2.5}\n");
    EXPECT_EQ(*corvantis::runRepetitionTime(knownRun, known).seconds, 2.5);
    hosttest::writeFile(dir.file("known_bold.json"), "{\"RepetitionTime\": 3}\n");
    EXPECT_EQ(refusalOf([&] { corvantis::runRepetitionTime(knownRun, known); }),
              "the header of \"" + known + "\" gives a TR of 2.5 s, its sidecar \"" + dir.file("known_bold.json") +
                  "\" a RepetitionTime of 3 s; correct the one that is wrong");
}

// make-sdm on a run whose header gives no TR: events need --tr or the sidecar
// (the TR is not taken as 1 s, nor is --tr refused as differing from that).
TEST(NiftiRun, MakeSdmTakesAnUnknownTrFromTrOrTheSidecar) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    const std::string path = dir.file("run_bold.nii");
    writeRun(path, "3,2,2,12", "float32", 0.0, 0.0, "0");
    const std::string events = dir.write("events.tsv", "onset\tduration\ttrial_type\n2\t6\tgo\n");
    const auto makeSdm = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"make-sdm", "--fmr", path, "--events", events, "--output",
                                         dir.file("d.sdm")};
        args.insert(args.end(), extra.begin(), extra.end());
        return hosttest::runProgram(hosttest::corvantisProgram(), args);
    };
    hosttest::Outcome o = makeSdm({});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind("Corvantis: --events needs the run's TR: the header of \"" + path +
                              "\" gives no TR (0: unknown) and no sidecar \"" + dir.file("run_bold.json") +
                              "\" gives a RepetitionTime; give --tr SECONDS\n",
                          0),
              0u)
        << o.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("d.sdm")));
    o = makeSdm({"--tr", "2"});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string given = hosttest::readFile(dir.file("d.sdm"));
    EXPECT_NE(hosttest::readFile(dir.file("d.json")).find("\"tr_seconds\": 2.0"), std::string::npos);
    std::filesystem::remove(dir.file("d.sdm"));
    hosttest::writeFile(dir.file("run_bold.json"), "{\"RepetitionTime\": 2}\n");
    o = makeSdm({});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(hosttest::readFile(dir.file("d.sdm")), given);
    // The sidecar that gave the TR is an input: the design's record must not replace it.
    o = hosttest::runProgram(hosttest::corvantisProgram(), {"make-sdm", "--fmr", path, "--events", events,
                                                            "--output", dir.file("run_bold.sdm")});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("is the same file as the input \"" + dir.file("run_bold.json") + "\""), std::string::npos)
        << o.err;
    EXPECT_EQ(hosttest::readFile(dir.file("run_bold.json")), "{\"RepetitionTime\": 2}\n");
}

} // namespace
