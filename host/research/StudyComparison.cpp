#include "host/research/StudyComparison.h"

#include <sstream>

#include "host/research/RunComparison.h"

namespace corvantis {

RunComparison studyComparison() {
    return [](const StudyRunRequest& study) {
        CompareRequest request;
        request.run = study.bold;
        request.confounds = study.confounds;
        if (!study.events.empty()) request.events = study.events;
        if (!study.mask.empty()) request.mask = study.mask;
        request.model1 = study.model1;
        request.model2 = study.model2;
        request.outDir = study.outputFolder;
        request.name = study.comparisonName;
        request.cleanedRuns = study.cleanedRuns;
        request.threads = study.writing.threads;
        request.durability = study.writing.durability;
        // The plug-in's log of each run would bury the study's one line per
        // run; what goes wrong arrives as the exception's message.
        std::ostringstream log;
        compareRun(request, log);
    };
}

} // namespace corvantis
