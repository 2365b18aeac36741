// The repetition time of an opened run, as designs need it for task events:
// from the run's header, from the run's JSON sidecar where the header tells
// none, or as given on the command line.
#pragma once

#include <optional>
#include <string>

#include "host/formats/FmrDocument.h"

namespace corvantis {

struct RepetitionTime {
    std::optional<double> seconds;
    // What gave it ("the header of \"r.nii.gz\"", "the sidecar \"r.json\"",
    // "--tr"), or, with no seconds, why none is known, naming the files looked at.
    std::string source;
    // The run's sidecar when it gave a RepetitionTime (an input then, which no
    // output may replace); empty otherwise.
    std::string sidecar;
};

// The run's sidecar: RUN.json beside RUN.nii.gz, RUN.nii or RUN.fmr.
std::string runSidecarPath(const std::string& runPath);

// The run's TR in seconds: its header's (an .fmr keeps it in milliseconds, a
// NIfTI header's is converted alike; 0 means unknown), and where the header
// gives none, the "RepetitionTime" (seconds) of the run's sidecar when that
// file exists. Throws DocumentError naming both files when both give one and
// they differ, and for a sidecar that is not a JSON object or whose
// RepetitionTime is no number of seconds above 0. Builds without a JSON reader
// (see QUORVEX_HOST_JSON) read no sidecar.
RepetitionTime runRepetitionTime(const FmrDocument& run, const std::string& runPath);

// The TR a design uses: the given one (e.g. --tr; seconds above 0), which must
// agree with the run's when the run tells one, or the run's. Throws
// DocumentError ("--tr 2.5 differs from the run's TR of 2 s; ...") otherwise.
RepetitionTime chosenRepetitionTime(const RepetitionTime& run, std::optional<double> given);

} // namespace corvantis
