#include "host/research/StudyComparison.h"

#include "host/formats/HostErrors.h"

namespace corvantis {

RunComparison studyComparison() {
    return [](const StudyRunRequest&) { throw DocumentError("this build of Corvantis cannot compare runs yet"); };
}

} // namespace corvantis
