// The names of a study's outputs, in one table that the study's code and the
// study command's help both read. A run's outputs lie in OUTPUT/sub-XX[/ses-YY]/func
// and are named "RUN_model-LABEL_ENDING": RUN the run's name (its preprocessed
// file's name before "_desc-preproc_bold"), LABEL the two models' names joined
// by "vs" (24P and 36P give "24Pvs36P"), ENDING a row below. A model whose
// text is more than letters and digits (24P,global_signal*) keeps only those
// in the label, which then ends in "h" and the CRC-32 of both exact texts, so
// that no two pairs of strategies share their outputs.
#pragma once

#include <string>
#include <vector>

namespace corvantis {

struct StudyOutput {
    const char* key;    // the map's key in the comparison's summary, or a file's role
    const char* ending; // after "RUN_model-LABEL_"
    const char* what;   // one line for the help
};

// The maps, then the summary, then the record of the run (written last).
const std::vector<StudyOutput>& studyOutputs();

// The row of that key; throws std::out_of_range for a key the table lacks.
const StudyOutput& studyOutput(const std::string& key);

// "24P" and "36P" give "24Pvs36P"; "24P,global_signal" and "36P" give
// "24Pglobalsignalvs36Ph" and 8 hexadecimal digits. Throws std::invalid_argument
// when a model's name has no letter or digit.
std::string modelLabel(const std::string& model1, const std::string& model2);

// The help's paragraph on LABEL.
std::string modelLabelHelp();

// "RUN_model-LABEL_" + the key's ending.
std::string studyOutputName(const std::string& runId, const std::string& label, const std::string& key);

// The folder (inside the run's folder) that keeps the comparison's other files
// (its designs and their records) under their own names.
std::string studyFilesFolderName(const std::string& runId, const std::string& label);

// The files of the whole study, in OUTPUT.
constexpr const char kStudyDescriptionFile[] = "dataset_description.json";
constexpr const char kGroupTableFile[] = "group.tsv";
constexpr const char kGroupReportFile[] = "report.html";

// The help's table of output names, generated from the rows.
std::string studyOutputsHelp();

} // namespace corvantis
