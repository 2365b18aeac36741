// The preprocessed runs of a BIDS derivatives folder as preprocessing pipelines
// write it: sub-*/[ses-*/]func/*_desc-preproc_bold.nii.gz, each with the
// sibling confound table and its sidecar, the brain mask of the same space when
// present, and the events of the raw dataset when one is given.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace corvantis {

// The key-value pairs of a BIDS file name ("sub-01_task-rest_run-1_bold.nii.gz"
// gives sub 01, task rest, run 1), in order, and its suffix ("bold").
struct BidsName {
    std::vector<std::pair<std::string, std::string>> entities;
    std::string suffix;
    std::string extension; // ".nii.gz", ".tsv", ...

    // The label, or empty when the name has no such entity.
    std::string label(const std::string& key) const;
    // The entities joined again, without the ones listed.
    std::string joined(const std::vector<std::string>& without) const;
};

// A name that is not entity pairs and a suffix gives an empty suffix.
BidsName parseBidsName(const std::string& fileName);

struct PreprocessedRun {
    // id and folder are printable (PrintableText.h), as the study names its outputs.
    std::string id;                                 // the run's name: its file name before "_desc-preproc_bold"
    std::string subject, session, task, run, space; // labels, empty when absent
    std::string folder;                             // sub-XX[/ses-YY]/func, inside the dataset
    std::string bold;
    std::string confounds;        // empty when the table is missing
    std::string confoundsSidecar; // empty when missing
    std::string mask;             // empty when missing
    std::string events;           // empty without a raw dataset or when missing
};

// Which runs to take; an empty list takes every value.
struct RunSelection {
    std::vector<std::string> participants; // with or without "sub-"
    std::vector<std::string> tasks;
    std::vector<std::string> spaces;
    std::vector<std::string> runs; // "1" also selects "01"
    std::string runId;             // exactly this run, when not empty
};

// The selected runs, sorted by id. Throws DocumentError naming the folder and
// what was looked for when it holds no preprocessed run, and naming the
// selection when none of them is selected.
std::vector<PreprocessedRun> findPreprocessedRuns(const std::string& derivatives, const std::string& rawDataset,
                                                  const RunSelection& selection);

} // namespace corvantis
