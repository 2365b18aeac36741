// The names of what a comparison writes, built from the run's name and the two
// strategies so that comparisons of other runs or strategies share a folder:
//   RUN_S1.sdm, RUN_S1.json                 model 1's design and its record
//   RUN_S2.sdm, RUN_S2.json                 model 2's
//   RUN_S1_tSNR_residuals.EXT               tSNR of model 1's residuals
//   RUN_S2_tSNR_residuals.EXT               and of model 2's
//   RUN_S2_tSNR_diff_RUN_S1.EXT             model 2's tSNR minus model 1's
//   RUN_S1_R2adj.EXT, RUN_S2_R2adj.EXT      adjusted R squared
//   RUN_S2_R2adj_diff_RUN_S1.EXT            model 2's minus model 1's
//   RUN_S2_Fval_diff_RUN_S1.EXT             F of model 2 against model 1 (nested only)
//   RUN_S2_Fval_diff_RUN_S1_neglog10p.EXT   -log10(p) of that F
//   RUN_min_confounds_of_RUN_S1.EXT         the run cleaned of model 1's confounds
//   RUN_min_confounds_of_RUN_S2.EXT         and of model 2's
//   RUN_S1_vs_S2_summary.json               what the comparison found, the files above listed
// RUN is the run's file name without .nii.gz, .nii or .fmr, printable
// (PrintableText.h); S1 and S2 are the strategies as labels. EXT is .nii.gz for a NIfTI run; for an .fmr run the maps
// are .map files and the cleaned runs .fmr with their .stc.
#pragma once

#include <string>

namespace corvantis {

// "sub-01_task-rest_bold.nii.gz" gives "sub-01_task-rest_bold"; "run.fmr" gives
// "run". Printable: a Latin-1 "caf\xE9.nii" gives "caf\\xE9".
std::string runStem(const std::string& runPath);

// The strategy as part of a file name: letters, digits, "-", "_" and "+" kept;
// "," becomes "+", "*" becomes "x", any other character "-". "6P" stays "6P";
// "motion=full,high_pass" gives "motion-full+high_pass".
std::string strategyLabel(const std::string& strategy);

// The file name the summary is written under: "RUN_S1_vs_S2_summary.json".
std::string summaryFileName(const std::string& runStem, const std::string& strategy1, const std::string& strategy2);

} // namespace corvantis
