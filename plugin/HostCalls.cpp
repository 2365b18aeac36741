#include "plugin/HostCalls.h"

#include <stdexcept>
#include <string>

#include "plugin/HostServiceTable.h"

namespace host {

namespace {

using cvts::HostService;

// The entry of a service as its own function type, or the error that names the
// service when the host does not provide it: a null entry is never called.
template <class Function>
Function service(HostService which) {
    const cvts::HostEntry entry = cvts::hostServiceEntry(which);
    if (entry == nullptr) {
        throw std::runtime_error(std::string("Corvantis does not provide the service ") + cvts::hostServiceName(which));
    }
    return reinterpret_cast<Function>(entry);
}

} // namespace

#define CVTS_TYPED_CALL(name, result, parameters, arguments, answer) \
    result name parameters { return service<::name##_t>(HostService::name) arguments; }
CVTS_CALLED_HOST_SERVICES(CVTS_TYPED_CALL)
#undef CVTS_TYPED_CALL

cvLogText_t logTextEntry() { return reinterpret_cast<cvLogText_t>(cvts::hostServiceEntry(HostService::cvLogText)); }

} // namespace host
