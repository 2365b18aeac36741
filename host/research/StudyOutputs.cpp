#include "host/research/StudyOutputs.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "host/formats/FileChecksum.h"

namespace corvantis {

namespace {

// A function's static, so that help texts built before main see it filled.
const std::vector<StudyOutput>& outputTable() {
    static const std::vector<StudyOutput> outputs = {
        {"f", "stat-F_statmap.nii.gz", "F of model 2 against model 1 (nested models only)"},
        {"neglog10p", "stat-neglog10p_statmap.nii.gz", "-log10 p of that F test (nested models only)"},
        {"tsnr1", "desc-model1_stat-tsnr_statmap.nii.gz", "temporal SNR of model 1's residuals"},
        {"tsnr2", "desc-model2_stat-tsnr_statmap.nii.gz", "temporal SNR of model 2's residuals"},
        {"delta_tsnr", "desc-model2minus1_stat-tsnr_statmap.nii.gz", "model 2's tSNR minus model 1's"},
        {"r2adj1", "desc-model1_stat-r2adj_statmap.nii.gz", "adjusted R2 of model 1"},
        {"r2adj2", "desc-model2_stat-r2adj_statmap.nii.gz", "adjusted R2 of model 2"},
        {"delta_r2adj", "desc-model2minus1_stat-r2adj_statmap.nii.gz", "model 2's adjusted R2 minus model 1's"},
        {"summary", "summary.json", "the comparison's numbers and warnings, file names as here"},
        {"record", "record.json", "the study's record: inputs, options, outputs or the error; written last"},
    };
    return outputs;
}

std::string lettersAndDigits(const std::string& name) {
    std::string kept;
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c))) kept += c;
    }
    if (kept.empty()) throw std::invalid_argument("the model \"" + name + "\" has no letter or digit in its name");
    return kept;
}

// Kept as it is in the label: letters and digits only, and no "vs" that would
// make the two names' border ambiguous.
bool plainModelName(const std::string& name) {
    return lettersAndDigits(name) == name && name.find("vs") == std::string::npos;
}

} // namespace

const std::vector<StudyOutput>& studyOutputs() { return outputTable(); }

const StudyOutput& studyOutput(const std::string& key) {
    for (const StudyOutput& output : outputTable()) {
        if (key == output.key) return output;
    }
    throw std::out_of_range("no study output named \"" + key + "\"");
}

std::string modelLabel(const std::string& model1, const std::string& model2) {
    const std::string label = lettersAndDigits(model1) + "vs" + lettersAndDigits(model2);
    if (plainModelName(model1) && plainModelName(model2)) return label;
    // The newline cannot occur in a strategy given on a command line, so no two pairs hash the same text.
    const std::string exact = model1 + "\n" + model2;
    return label + "h" + crc32Text(crc32Of(exact.data(), exact.size()));
}

std::string modelLabelHelp() {
    return "LABEL is the two models' names joined by \"vs\" (24Pvs36P). A name with other\n"
           "characters than letters and digits (24P,global_signal) keeps only those, and\n"
           "the label then ends in \"h\" and the CRC-32 of both exact texts in 8 hex digits\n"
           "(" +
           modelLabel("24P,global_signal", "36P") +
           "), so that strategies told apart by\n"
           "those characters alone (24P,global_signal*) never share outputs.\n";
}

std::string studyOutputName(const std::string& runId, const std::string& label, const std::string& key) {
    return runId + "_model-" + label + "_" + studyOutput(key).ending;
}

std::string studyFilesFolderName(const std::string& runId, const std::string& label) {
    return runId + "_model-" + label + "_files";
}

std::string studyOutputsHelp() {
    const auto row = [](const std::string& name, const char* what) {
        std::string padded = "    " + name;
        padded.resize(std::max<std::size_t>(padded.size() + 2, 66), ' ');
        return padded + what + "\n";
    };
    std::string text;
    for (const StudyOutput& output : outputTable())
        text += row(std::string("RUN_model-LABEL_") + output.ending, output.what);
    return text + row("RUN_model-LABEL_files/", "the comparison's other files (designs, their records, cleaned runs)");
}

} // namespace corvantis
