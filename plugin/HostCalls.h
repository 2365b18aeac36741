// Typed calls of the host services the plug-in uses. Each one looks its entry up
// in the host service table and throws std::runtime_error naming the service
// when the host does not provide it, so a missing service is never called.
#pragma once

#include "plugin/HostKit.h"

namespace host {

// One typed call per service of the host kit's list, with the service's own
// signature: host::cvGetDocumentType(documentId), host::cvSaveFMRAndSTC(path, name), ...
#define CVTS_TYPED_CALL(name, result, parameters, arguments, answer) result name parameters;
CVTS_CALLED_HOST_SERVICES(CVTS_TYPED_CALL)
#undef CVTS_TYPED_CALL

// The log function as the log stream takes it: the raw entry, possibly null.
cvLogText_t logTextEntry();

} // namespace host
