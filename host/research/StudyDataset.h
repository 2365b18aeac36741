// A small study as a preprocessing pipeline leaves it, generated from a seed:
// a raw BIDS dataset with the events of every run, and a derivatives dataset
// with each run's preprocessed 4D image, its brain mask, and its confound table
// in the scanner's units (motion in mm and radians; csf, white matter and
// global signal in the thousands; their derivatives with "n/a" in the first
// row and their squares; framewise displacement, DVARS, cosines, anatomical
// and temporal component columns described in a JSON sidecar, non-steady-state
// outliers). The voxels carry what the table describes: motion and its
// squares and derivatives near the head's edge, the csf, white-matter and
// global signals, slow drift, the events' responses, and noise, so models of
// 6, 24 and 36 confound parameters explain visibly different shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvantis {

struct StudyDatasetShape {
    int32_t subjects = 3;
    int32_t runs = 2; // per subject
    int32_t dimX = 20;
    int32_t dimY = 20;
    int32_t dimZ = 12;
    int32_t volumes = 120;
    uint32_t seed = 1;
    std::string task = "rest";
};

struct StudyDatasetFiles {
    std::string derivatives; // FOLDER/derivatives
    std::string rawdata;     // FOLDER/rawdata
    std::vector<std::string> boldRuns;
    std::string heavyMotionRun; // the one run whose head moves a lot
};

// The run that moves a lot: sub-02's run 2 when the study has it, else the last run.
bool isHeavyMotionRun(const StudyDatasetShape& shape, int32_t subject, int32_t run);

// Writes the study into folder (created when missing; files of the same names
// are replaced). The same shape and seed always give the same bytes. Throws
// SaveError when a file cannot be written.
StudyDatasetFiles writeStudyDataset(const std::string& folder, const StudyDatasetShape& shape);

} // namespace corvantis
