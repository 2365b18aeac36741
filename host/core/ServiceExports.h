// Connects the exported service functions to the session of the running
// command: the one pointer through which they reach it.
#pragma once

#include "host/core/HostServices.h"

namespace corvantis {

// While it lives, every exported service is answered by these services; before
// and after, the exports answer as a host with no session (no document, nothing
// stored) and trace nothing.
class ServiceAttachment {
public:
    explicit ServiceAttachment(HostServices& services);
    ~ServiceAttachment();
    ServiceAttachment(const ServiceAttachment&) = delete;
    ServiceAttachment& operator=(const ServiceAttachment&) = delete;
};

} // namespace corvantis
