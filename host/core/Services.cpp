// The 20 services the host exports to its plug-ins under their plain C names,
// generated from the host kit's list. Each one forwards to the session's
// HostServices method of the same name.
#include <exception>
#include <iostream>
#include <type_traits>

#include "host/core/ServiceExports.h"
#include "plugin/HostKit.h"

namespace corvantis {

namespace {

HostServices* session = nullptr;

// An exception must never unwind into the plug-in: the service fails instead.
void reportFailure(const char* service, const char* reason) {
    std::cerr << "Corvantis: warning: " << service << " failed: " << reason << std::endl;
}

// Calls the session, or answers like a host without one.
template <class Call, class Answer>
auto withSession(const char* service, Call call, Answer noSession) -> decltype(noSession()) {
    if (session == nullptr) {
        return noSession();
    }
    try {
        return call(*session);
    } catch (const std::exception& error) {
        reportFailure(service, error.what());
    } catch (...) {
        reportFailure(service, "unknown error");
    }
    return noSession();
}

} // namespace

ServiceAttachment::ServiceAttachment(HostServices& services) { session = &services; }

ServiceAttachment::~ServiceAttachment() { session = nullptr; }

} // namespace corvantis

using corvantis::HostServices;
using corvantis::withSession;

extern "C" {

// Each export forwards its arguments to the session's method of the same name.
#define CORVANTIS_EXPORT_SERVICE(name, result, parameters, arguments, answer) \
    CVTS_EXPORT result name parameters { \
        return withSession( \
            #name, [&](HostServices& s) -> result { return s.name arguments; }, []() -> result { return answer; }); \
    }
CVTS_CALLED_HOST_SERVICES(CORVANTIS_EXPORT_SERVICE)
#undef CORVANTIS_EXPORT_SERVICE

} // extern "C"

// The exports keep exactly the signatures plug-ins are compiled against.
#define CORVANTIS_SAME_SIGNATURE(name, ...) \
    static_assert(std::is_same_v<decltype(&name), name##_t>, #name " matches the host kit");
CVTS_CALLED_HOST_SERVICES(CORVANTIS_SAME_SIGNATURE)
#undef CORVANTIS_SAME_SIGNATURE
