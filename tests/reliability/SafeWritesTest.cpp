// Every file the host writes reaches its name whole or not at all: links planted
// where a temporary file could go are left alone, a folder that cannot be
// written and a full disk are reported and keep the earlier file byte for byte,
// and no command writes over one of its own inputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"

namespace {

namespace fs = std::filesystem;
using hosttest::fileExists;
using hosttest::filesIn;
using hosttest::Outcome;
using hosttest::readFile;
using hosttest::TempDir;
using itest::Scenario;

Outcome corvantis(const std::vector<std::string>& args) {
    return hosttest::runProgram(hosttest::corvantisProgram(), args);
}

// root writes into any folder; without these two capabilities it is bound by
// the folder's mode like everyone else.
Outcome corvantisBoundByModes(std::vector<std::string> args) {
    if (geteuid() != 0) return corvantis(args);
    args.insert(args.begin(), {"--inh-caps=-dac_override,-dac_read_search",
                               "--bounding-set=-dac_override,-dac_read_search", "--", hosttest::corvantisProgram()});
    return hosttest::runProgram("/usr/bin/setpriv", args);
}

// A .map as the host saves it: magic, the 64-byte header, then the values.
void writeMap(const std::string& path, int dx, int dy, int dz, const std::vector<float>& values) {
    MapHeader header{};
    header.DimX = dx;
    header.DimY = dy;
    header.DimZ = dz;
    header.LowerThreshold = 1.0f;
    header.UpperThreshold = 8.0f;
    std::string bytes = "CVMAP01\n";
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    hosttest::writeFile(path, bytes + hosttest::floatBytes(values));
}

// Values that compress badly (a linear congruential sequence from -8 to 8), so a
// picture of them is large.
std::vector<float> noisyValues(int count) {
    std::vector<float> values;
    uint32_t x = 12345;
    for (int l = 0; l < count; ++l) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        values.push_back(static_cast<float>(x % 1601) / 100.0f - 8.0f);
    }
    return values;
}

// The host's warnings among the lines on stderr, which also hold its notes on the run.
std::string warningsIn(const std::string& err) {
    std::string warnings;
    std::size_t start = 0;
    while (start < err.size()) {
        const std::size_t end = std::min(err.find('\n', start), err.size() - 1) + 1;
        const std::string line = err.substr(start, end - start);
        if (line.rfind("Corvantis: warning: ", 0) == 0) warnings += line;
        start = end;
    }
    return warnings;
}

const char kTable[] = "a\tb\n1\t2\n3\t5\n4\t4\n";
// Long enough for a design of its columns to leave make-sdm nothing to warn about.
const char kLongTable[] = "a\tb\n1\t2\n3\t5\n4\t4\n2\t7\n5\t1\n6\t3\n1\t9\n8\t2\n3\t3\n7\t6\n2\t8\n9\t1\n4\t5\n";

std::vector<std::string> oneMapOnly(const Scenario& s, const std::string& designs) {
    std::vector<std::string> args = {
        "--fmr", s.fmr, "--set", "sdmfile1=" + designs + "/model1.sdm", "--set", "sdmfile2=" + designs + "/model2.sdm"};
    for (const char* map : {"tSNR2", "tSNR3", "R2adj1", "R2adj2", "R2adj3", "Fmap"}) {
        args.insert(args.end(), {"--set", std::string(map) + "=0"});
    }
    return args;
}

// ---------------------------------------------------------------- links and special files

TEST(PlantedLinks, ALinkAtTheOldTemporaryNameIsLeftAloneAndItsFileIsNotWritten) {
    TempDir dir;
    const std::string victim = dir.write("victim.txt", "precious");
    fs::create_symlink(victim, dir.file("out.map.partial"));
    corvantis::writeFileAtomically(dir.file("out.map"), [](std::ostream& out) { out << "new content"; });
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(dir.file("out.map.partial")));
    EXPECT_EQ(readFile(dir.file("out.map")), "new content");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"out.map", "out.map.partial", "victim.txt"}));
}

TEST(PlantedLinks, NoSaveOfARunWritesThroughALinkAtAnyOldTemporaryName) {
    Scenario s;
    const std::string victims = s.dir.file("victims");
    fs::create_directory(victims);
    const std::string designs = s.dir.file("designs");
    fs::create_directory(designs);
    itest::writeDesign(designs + "/model1.sdm", s.model1);
    itest::writeDesign(designs + "/model2.sdm", s.model2);
    // Every name the saves used for their temporaries, and the trace's own name.
    std::vector<std::string> links = {designs + "/model1_tSNR_residuals.map.partial",
                                      s.dir.file("run_min_confounds_of_model1.stc.partial"),
                                      s.dir.file("run_min_confounds_of_model1.fmr.partial"), s.dir.file("trace.txt")};
#ifdef QUORVEX_HOST_NIFTI
    links.push_back(designs + "/model1_tSNR_residuals.partial.nii.gz");
    links.push_back(s.dir.file("run_min_confounds_of_model1.partial.nii.gz"));
#endif
    for (std::size_t i = 0; i < links.size(); ++i) {
        fs::create_symlink(s.dir.write("victims/" + std::to_string(i), "precious " + std::to_string(i)), links[i]);
    }
    std::vector<std::string> args = oneMapOnly(s, designs);
    args.insert(args.end(), {"--set", "residuals1=1", "--trace", s.dir.file("trace.txt")});
#ifdef QUORVEX_HOST_NIFTI
    args.push_back("--nifti");
#endif
    args.push_back("start");
    const Outcome o = corvantis(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(warningsIn(o.err), "");
    for (std::size_t i = 0; i < links.size(); ++i) {
        EXPECT_EQ(readFile(victims + "/" + std::to_string(i)), "precious " + std::to_string(i)) << links[i];
    }
    // The trace's link was replaced by the trace, not written through.
    EXPECT_FALSE(fs::is_symlink(s.dir.file("trace.txt")));
    EXPECT_EQ(readFile(s.dir.file("trace.txt")).rfind("cvGetVersionOfCorvantis() -> 2.8.0\n", 0), 0u);
    EXPECT_TRUE(fileExists(designs + "/model1_tSNR_residuals.map"));
#ifdef QUORVEX_HOST_NIFTI
    const Outcome gzip = hosttest::runProgram("/bin/gzip", {"-t", designs + "/model1_tSNR_residuals.nii.gz",
                                                            s.dir.file("run_min_confounds_of_model1.nii.gz")});
    EXPECT_EQ(gzip.status, 0) << gzip.err;
#endif
}

TEST(SpecialFiles, APipeAsTheTargetIsRefusedAndStaysAPipe) {
    TempDir dir;
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    try {
        corvantis::writeFileAtomically(pipe, [](std::ostream& out) { out << "x"; });
        FAIL() << "wrote over a pipe";
    } catch (const corvantis::SaveError& error) {
        EXPECT_EQ(std::string(error.what()), "cannot write \"" + pipe + "\": it is not a regular file");
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(pipe)));
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"pipe"});
}

// ---------------------------------------------------------------- a folder that cannot be written

class ReadOnlyTarget : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.file("out");
        fs::create_directory(folder);
    }
    void TearDown() override { chmod(folder.c_str(), 0755); }

    TempDir dir;
    std::string folder;
};

TEST_F(ReadOnlyTarget, ADesignFileIsNotSavedTheFailureIsReportedAndTheEarlierFileStays) {
    const std::string table = dir.write("t.tsv", kLongTable);
    const std::string sdm = folder + "/m.sdm";
    hosttest::writeFile(sdm, "earlier design");
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const Outcome o = corvantisBoundByModes({"make-sdm", "--table", table, "--confounds", "a", "--output", sdm});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Corvantis: error: cannot create \"" + sdm + "\": Permission denied\n");
    EXPECT_EQ(readFile(sdm), "earlier design");
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{"m.sdm"});
}

#ifdef QUORVEX_HOST_NIFTI
TEST_F(ReadOnlyTarget, APictureIsNotSavedTheFailureIsReportedAndTheEarlierPictureStays) {
    const std::string map = dir.file("m.map");
    writeMap(map, 4, 3, 2, noisyValues(24));
    const std::string png = folder + "/m.png";
    hosttest::writeFile(png, "earlier picture");
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const Outcome o = corvantisBoundByModes({"render", map, "-o", png});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Corvantis: error: cannot create \"" + png + "\": Permission denied\n");
    EXPECT_EQ(readFile(png), "earlier picture");
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{"m.png"});
}
#endif

// ---------------------------------------------------------------- a full disk

// A 64 KiB file system of its own, mounted over a fresh folder (root only).
class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
        disk = s.dir.file("disk");
        fs::create_directory(disk);
        if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted = true;
    }
    void TearDown() override {
        if (mounted) umount(disk.c_str());
    }

    // Fills the disk, then frees the given number of 4 KiB pages.
    void fill(int pagesLeft = 0) {
        const std::string filler = disk + "/filler";
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ASSERT_GE(fd, 0);
        const std::string page(4096, 'f');
        while (write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size())) {
        }
        close(fd);
        const off_t size = static_cast<off_t>(fs::file_size(filler));
        ASSERT_EQ(truncate(filler.c_str(), size - (size % 4096) - 4096 * pagesLeft), 0);
    }

    void writeDesigns() {
        itest::writeDesign(disk + "/model1.sdm", s.model1);
        itest::writeDesign(disk + "/model2.sdm", s.model2);
    }

    Scenario s;
    std::string disk;
    bool mounted = false;
};

TEST_F(FullDisk, AMapThatDoesNotFitIsReportedAndTheEarlierMapStays) {
    writeDesigns();
    std::vector<std::string> args = oneMapOnly(s, disk);
    args.push_back("start");
    ASSERT_EQ(corvantis(args).status, 0);
    const std::string map = disk + "/model1_tSNR_residuals.map";
    const std::string earlier = readFile(map);
    fill();
    const std::vector<std::string> before = filesIn(disk);
    const Outcome o = corvantis(args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(warningsIn(o.err), "Corvantis: warning: cannot save \"" + map + "\": cannot write \"" + map +
                                     "\": No space left on device\n");
    EXPECT_EQ(readFile(map), earlier);
    EXPECT_EQ(filesIn(disk), before);
}

#ifdef QUORVEX_HOST_NIFTI
TEST_F(FullDisk, ANiftiCopyThatDoesNotFitIsReportedAndTheEarlierCopyStays) {
    writeDesigns();
    std::vector<std::string> args = oneMapOnly(s, disk);
    args.insert(args.end(), {"--nifti", "start"});
    ASSERT_EQ(corvantis(args).status, 0);
    const std::string map = disk + "/model1_tSNR_residuals.map";
    const std::string copy = disk + "/model1_tSNR_residuals.nii.gz";
    const std::string earlier = readFile(copy);
    // Room for the map, none for its copy.
    fs::remove(map);
    fill(1);
    const Outcome o = corvantis(args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(warningsIn(o.err), "Corvantis: warning: cannot write \"" + copy + "\": No space left on device\n");
    EXPECT_EQ(readFile(copy), earlier);
    EXPECT_TRUE(fileExists(map));
    EXPECT_EQ(filesIn(disk), (std::vector<std::string>{"filler", "model1.sdm", "model1_tSNR_residuals.map",
                                                       "model1_tSNR_residuals.nii.gz", "model2.sdm"}));
}

TEST_F(FullDisk, APictureThatDoesNotFitIsReportedAndTheEarlierPictureStays) {
    const std::string map = s.dir.file("m.map");
    writeMap(map, 16, 16, 4, noisyValues(16 * 16 * 4));
    const std::string png = disk + "/m.png";
    ASSERT_EQ(corvantis({"render", "--zoom", "1", map, "-o", png}).status, 0);
    const std::string earlier = readFile(png);
    fill();
    // Over 4 KiB, more than the earlier picture's one page: it would not fit even in the earlier picture's room.
    const Outcome o = corvantis({"render", "--zoom", "12", map, "-o", png});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Corvantis: error: cannot write \"" + png + "\": No space left on device\n");
    EXPECT_EQ(readFile(png), earlier);
    EXPECT_EQ(filesIn(disk), (std::vector<std::string>{"filler", "m.png"}));
}
#endif

TEST_F(FullDisk, ATraceThatDoesNotFitIsReportedAndTheEarlierTraceStays) {
    const std::string trace = disk + "/trace.txt";
    hosttest::writeFile(trace, "earlier trace\n");
    fill();
    const Outcome o = corvantis({"--fmr", s.fmr, "--trace", trace});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "Corvantis: error: the trace is incomplete: cannot write \"" + trace + "\": No space left on device\n");
    EXPECT_EQ(readFile(trace), "earlier trace\n");
    EXPECT_EQ(filesIn(disk), (std::vector<std::string>{"filler", "trace.txt"}));
}

TEST_F(FullDisk, ADesignFileThatDoesNotFitIsReportedAndTheEarlierFileStays) {
    const std::string table = s.dir.write("t.tsv", kLongTable);
    const std::string sdm = disk + "/m.sdm";
    hosttest::writeFile(sdm, "earlier design");
    fill();
    const Outcome o = corvantis({"make-sdm", "--table", table, "--confounds", "a,b", "--output", sdm});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Corvantis: error: cannot write \"" + sdm + "\": No space left on device\n");
    EXPECT_EQ(readFile(sdm), "earlier design");
    EXPECT_EQ(filesIn(disk), (std::vector<std::string>{"filler", "m.sdm"}));
}

// ---------------------------------------------------------------- no output over an input

std::string refusal(const std::string& option, const std::string& output, const std::string& input) {
    return "Corvantis: " + option + " \"" + output + "\" is the same file as the input \"" + input +
           "\"; an output must not replace an input\n\n";
}

TEST(OutputIsInput, ATraceOntoTheRunsDataIsRefusedBeforeAnythingIsWritten) {
    Scenario s;
    const std::string stc = s.dir.file("run.stc");
    const std::string stcBytes = readFile(stc);
    const std::string fmrBytes = readFile(s.fmr);
    // By its own name, through a symbolic link, through a hard link.
    const std::string linked = s.dir.file("link.txt");
    fs::create_symlink(s.fmr, linked);
    const std::string hard = s.dir.file("hard.txt");
    fs::create_hard_link(stc, hard);
    for (const auto& [trace, input] :
         std::vector<std::pair<std::string, std::string>>{{stc, stc}, {linked, s.fmr}, {hard, stc}}) {
        const Outcome o = s.run({"--trace", trace});
        EXPECT_EQ(o.status, 2) << trace;
        EXPECT_EQ(o.err.rfind(refusal("--trace", trace, input), 0), 0u) << o.err;
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(readFile(stc), stcBytes);
    EXPECT_EQ(readFile(s.fmr), fmrBytes);
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(filesIn(s.dir.path()),
              (std::vector<std::string>{"hard.txt", "link.txt", "model1.sdm", "model2.sdm", "run.fmr", "run.stc"}));
}

#ifdef QUORVEX_HOST_NIFTI
TEST(OutputIsInput, ATraceOntoANiftiRunThroughAHardLinkIsRefused) {
    Scenario s;
    ASSERT_EQ(s.run({"--set", "residuals1=1", "--nifti"}).status, 0);
    const std::string run = s.dir.file("run_min_confounds_of_model1.nii.gz");
    const std::string runBytes = readFile(run);
    const std::string trace = s.dir.file("trace.txt");
    fs::create_hard_link(run, trace);
    const Outcome o = corvantis({"--fmr", run, "--trace", trace});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind(refusal("--trace", trace, run), 0), 0u) << o.err;
    EXPECT_EQ(readFile(run), runBytes);
}
#endif

TEST(OutputIsInput, ADesignFileOntoOneOfItsTablesOrItsRunIsRefused) {
    Scenario s;
    const std::string first = s.dir.write("first.tsv", kTable);
    const std::string second = s.dir.write("second.tsv", "c\n1\n2\n3\n");
    const std::string linked = s.dir.file("link.sdm");
    fs::create_symlink(second, linked);
    const std::string hard = s.dir.file("hard.sdm");
    fs::create_hard_link(first, hard);
    const std::string stc = s.dir.file("run.stc");
    const std::string stcBytes = readFile(stc);
    for (const auto& [output, input] :
         std::vector<std::pair<std::string, std::string>>{{second, second}, {linked, second}, {hard, first}}) {
        const Outcome o = corvantis({"make-sdm", "--table", first, "--table", second, "--confounds", "a,c", "--volumes",
                                     "3", "--output", output});
        EXPECT_EQ(o.status, 2) << output;
        EXPECT_EQ(o.err.rfind(refusal("--output", output, input), 0), 0u) << o.err;
    }
    // The run's time courses, which make-sdm reads for the number of volumes.
    const Outcome o = corvantis({"make-sdm", "--table", first, "--fmr", s.fmr, "--output", stc});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.rfind(refusal("--output", stc, stc), 0), 0u) << o.err;
    EXPECT_EQ(readFile(first), kTable);
    EXPECT_EQ(readFile(second), "c\n1\n2\n3\n");
    EXPECT_EQ(readFile(stc), stcBytes);
}

#ifdef QUORVEX_HOST_NIFTI
TEST(OutputIsInput, APictureOntoAMapOrItsRunIsRefused) {
    Scenario s;
    const std::string map = s.dir.file("m.map");
    writeMap(map, s.dimX, s.dimY, s.dimZ, noisyValues(s.voxels()));
    const std::string mapBytes = readFile(map);
    const std::string hard = s.dir.file("hard.png");
    fs::create_hard_link(map, hard);
    const std::string stc = s.dir.file("run.stc");
    const std::string stcBytes = readFile(stc);
    const std::string linked = s.dir.file("link.png");
    fs::create_symlink(stc, linked);
    for (const auto& [output, input] :
         std::vector<std::pair<std::string, std::string>>{{map, map}, {hard, map}, {linked, stc}}) {
        const Outcome o = corvantis({"render", "--fmr", s.fmr, map, "-o", output});
        EXPECT_EQ(o.status, 2) << output;
        EXPECT_EQ(o.err.rfind(refusal("--output", output, input), 0), 0u) << o.err;
    }
    EXPECT_EQ(readFile(map), mapBytes);
    EXPECT_EQ(readFile(stc), stcBytes);
    EXPECT_TRUE(fs::is_symlink(linked));
}
#endif

} // namespace
