// The study's output names, the help that lists them, and the progress lines.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "HostTestSupport.h"
#include "Nibabel.h"
#include "host/commands/Command.h"
#include "host/formats/FileChecksum.h"
#include "host/research/RunComparison.h"
#include "host/research/StudyOutputs.h"
#include "host/research/StudyParticipant.h"
#include "host/research/StudyProcesses.h"

namespace {

TEST(StudyOutputs, NamesAreTheRunTheModelsAndTheRowsEnding) {
    EXPECT_EQ(corvantis::modelLabel("24P", "36P"), "24Pvs36P");
    EXPECT_EQ(corvantis::modelLabel("motionfull", "36P"), "motionfullvs36P");
    EXPECT_THROW(corvantis::modelLabel("24P", "-,_"), std::invalid_argument);
    EXPECT_EQ(corvantis::studyOutputName("sub-01_task-rest_run-1_space-MNI", "24Pvs36P", "f"),
              "sub-01_task-rest_run-1_space-MNI_model-24Pvs36P_stat-F_statmap.nii.gz");
    EXPECT_EQ(corvantis::studyOutputName("r", "L", "tsnr2"), "r_model-L_desc-model2_stat-tsnr_statmap.nii.gz");
    EXPECT_EQ(corvantis::studyOutputName("r", "L", "summary"), "r_model-L_summary.json");
    EXPECT_THROW(corvantis::studyOutputName("r", "L", "no-such-map"), std::out_of_range);
    // Every ending is distinct, so no two outputs of a run share a name.
    std::set<std::string> endings;
    for (const corvantis::StudyOutput& output : corvantis::studyOutputs()) endings.insert(output.ending);
    EXPECT_EQ(endings.size(), corvantis::studyOutputs().size());
}

// The label's hash, computed by Python's zlib from the exact texts.
std::string zlibLabel(const std::string& letters, const std::string& model1, const std::string& model2) {
    const hosttest::Outcome crc = hostio::runPython(
        "import sys, zlib\nprint('%08x' % zlib.crc32((sys.argv[1] + '\\n' + sys.argv[2]).encode()), end='')\n",
        {model1, model2});
    EXPECT_EQ(crc.status, 0) << crc.err;
    return letters + "h" + crc.out;
}

TEST(StudyOutputs, StrategiesWithOtherCharactersGetALabelOfTheirOwn) {
    using corvantis::modelLabel;
    // Letters and digits only: the label stays as stored names and the README have it.
    EXPECT_EQ(modelLabel("24P", "36P"), "24Pvs36P");
    EXPECT_EQ(modelLabel("6P", "compcor"), "6Pvscompcor");
    const std::string plain = modelLabel("24P", "24P,global_signal");
    const std::string starred = modelLabel("24P", "24P,global_signal*");
    EXPECT_NE(plain, starred);
    EXPECT_EQ(plain.rfind("24Pvs24Pglobalsignalh", 0), 0u) << plain;
    EXPECT_EQ(plain.size(), std::string("24Pvs24Pglobalsignalh").size() + 8);
    EXPECT_EQ(plain.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
              std::string::npos);
    // Stable: the same texts give the same label in every program.
    if (hostio::nibabelMissing().empty()) {
        EXPECT_EQ(plain, zlibLabel("24Pvs24Pglobalsignal", "24P", "24P,global_signal"));
        EXPECT_EQ(starred, zlibLabel("24Pvs24Pglobalsignal", "24P", "24P,global_signal*"));
    }
    // Which model a text is matters.
    EXPECT_NE(modelLabel("a,b", "c"), modelLabel("a", "b,c"));
    // A "vs" inside a name would make two pairs' labels alike.
    EXPECT_NE(modelLabel("a", "vsb"), modelLabel("avs", "b"));
    EXPECT_THROW(modelLabel("*", "36P"), std::invalid_argument);
}

TEST(FileChecksum, IsTheCrc32OfZlibAndGzip) {
    EXPECT_EQ(corvantis::crc32Of("123456789", 9), 0xcbf43926u); // the CRC-32's published check value
    EXPECT_EQ(corvantis::crc32Of("", 0), 0u);
    EXPECT_EQ(corvantis::crc32Text(0x0000abcdu), "0000abcd");
    hosttest::TempDir dir;
    // Over several of the reader's chunks, and not a whole number of them.
    std::string bytes(3 * (1 << 20) + 12345, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    hosttest::writeFile(dir.file("data"), bytes);
    const std::optional<corvantis::FileChecksum> sum = corvantis::fileChecksum(dir.file("data"));
    ASSERT_TRUE(sum);
    EXPECT_EQ(sum->size, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(sum->crc32, corvantis::crc32Of(bytes.data(), bytes.size()));
    if (hostio::nibabelMissing().empty()) {
        const hosttest::Outcome crc =
            hostio::runPython("import sys, zlib\nprint('%08x' % zlib.crc32(open(sys.argv[1], 'rb').read()), end='')\n",
                              {dir.file("data")});
        EXPECT_EQ(corvantis::crc32Text(sum->crc32), crc.out);
    }
    EXPECT_FALSE(corvantis::fileChecksum(dir.file("missing")));
}

TEST(StudyProcesses, EachRunAtOnceGetsItsShareOfTheCores) {
    EXPECT_EQ(corvantis::threadsPerRun(2, 1, 20), 2);
    EXPECT_EQ(corvantis::threadsPerRun(2, 2, 20), 1);
    EXPECT_EQ(corvantis::threadsPerRun(8, 3, 20), 2);
    EXPECT_EQ(corvantis::threadsPerRun(8, 4, 1), 8); // one run left takes them all
    EXPECT_EQ(corvantis::threadsPerRun(1, 4, 4), 1);
    EXPECT_EQ(corvantis::threadsPerRun(4, 2, 0), 4);
}

TEST(StudyOutputs, TheStudyCommandsHelpListsEveryNameAndEveryGroupColumn) {
    const corvantis::Command* study = corvantis::findCommand("study");
    ASSERT_NE(study, nullptr);
    const std::string help = study->help;
    EXPECT_NE(help.find("(" + corvantis::modelLabel("24P,global_signal", "36P") + ")"), std::string::npos);
    EXPECT_NE(help.find("--cleaned-runs " + corvantis::cleanedRunsChoices()), std::string::npos);
    const corvantis::Command* compare = corvantis::findCommand("compare");
    ASSERT_NE(compare, nullptr);
    EXPECT_NE(std::string(compare->help).find("--cleaned-runs " + corvantis::cleanedRunsChoices()), std::string::npos);
    for (const corvantis::StudyOutput& output : corvantis::studyOutputs()) {
        EXPECT_NE(help.find(std::string("RUN_model-LABEL_") + output.ending), std::string::npos) << output.key;
    }
    for (const char* column : {"run_id", "share_f_survives_fdr", "median_delta_tsnr", "outlier_in", "error"}) {
        EXPECT_NE(help.find(std::string("\n    ") + column + " "), std::string::npos) << column;
    }
}

TEST(StudyProgress, OneLinePerRunAndABarOnlyOnATerminal) {
    corvantis::RunOutcome done{"sub-01_run-1", corvantis::RunOutcome::State::Done, "", 2.04, 1234};
    corvantis::RunOutcome failed{"sub-02_run-1", corvantis::RunOutcome::State::Failed, "no table", 0.1, -1};
    std::ostringstream plain;
    corvantis::StudyProgress lines(plain, 2, false);
    lines.finished(done);
    lines.finished(failed);
    lines.close();
    EXPECT_EQ(plain.str(),
              "Corvantis: sub-01_run-1: 2.0 s, 1234 voxels analysed\n"
              "Corvantis: sub-02_run-1: FAILED: no table\n");
    std::ostringstream terminal;
    corvantis::StudyProgress bar(terminal, 4, true);
    bar.finished(done);
    bar.close();
    EXPECT_EQ(terminal.str(),
              "\r\033[KCorvantis: sub-01_run-1: 2.0 s, 1234 voxels analysed\n[##########"
              "..............................] 1/4 runs\n");
}

} // namespace
