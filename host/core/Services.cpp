// The 20 services the host exports to its plug-ins under their plain C names.
// Each one forwards to the session's HostServices.
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
template <class Result, class Call>
Result withSession(const char* service, Result fallback, Call call) {
    if (session == nullptr) {
        return fallback;
    }
    try {
        return call(*session);
    } catch (const std::exception& error) {
        reportFailure(service, error.what());
    } catch (...) {
        reportFailure(service, "unknown error");
    }
    return fallback;
}

template <class Call>
void whenAttached(const char* service, Call call) {
    withSession(service, 0, [&call](HostServices& s) {
        call(s);
        return 0;
    });
}

} // namespace

ServiceAttachment::ServiceAttachment(HostServices& services) { session = &services; }

ServiceAttachment::~ServiceAttachment() { session = nullptr; }

} // namespace corvantis

using corvantis::HostServices;
using corvantis::whenAttached;
using corvantis::withSession;

extern "C" {

CVTS_EXPORT void cvGetVersionOfCorvantis(int32_t* major, int32_t* minor, int32_t* revision) {
    whenAttached(__func__, [&](HostServices& s) { s.getVersionOfCorvantis(major, minor, revision); });
}

CVTS_EXPORT void cvShowLogTab() {
    whenAttached(__func__, [](HostServices& s) { s.showLogTab(); });
}

CVTS_EXPORT bool cvLogText(const char* text) {
    return withSession(__func__, false, [&](HostServices& s) { return s.logText(text); });
}

CVTS_EXPORT bool cvMessageBox(const char* text) {
    return withSession(__func__, false, [&](HostServices& s) { return s.messageBox(text); });
}

CVTS_EXPORT void cvShowBusyCursor() {
    whenAttached(__func__, [](HostServices& s) { s.showBusyCursor(); });
}

CVTS_EXPORT void cvStopBusyCursor() {
    whenAttached(__func__, [](HostServices& s) { s.stopBusyCursor(); });
}

CVTS_EXPORT int32_t cvGetIDOfCurrentDocument() {
    return withSession(__func__, int32_t(-1), [](HostServices& s) { return s.getIDOfCurrentDocument(); });
}

CVTS_EXPORT int32_t cvGetDocumentType(int32_t documentId) {
    return withSession(__func__, int32_t(-1), [&](HostServices& s) { return s.getDocumentType(documentId); });
}

CVTS_EXPORT bool cvGetHeaderOfCurrentFMR(FMRHeader* header) {
    return withSession(__func__, false, [&](HostServices& s) { return s.getHeaderOfCurrentFMR(header); });
}

CVTS_EXPORT float** cvGetSTCFloatDataOfCurrentFMR() {
    return withSession<float**>(__func__, nullptr, [](HostServices& s) { return s.getSTCFloatDataOfCurrentFMR(); });
}

CVTS_EXPORT bool cvSaveFMRAndSTC(const char* fmrPath, const char* stcName) {
    return withSession(__func__, false, [&](HostServices& s) { return s.saveFMRAndSTC(fmrPath, stcName); });
}

CVTS_EXPORT bool cvCreateMAPForCurrentFMR() {
    return withSession(__func__, false, [](HostServices& s) { return s.createMAPForCurrentFMR(); });
}

CVTS_EXPORT float** cvGetMAPOfCurrentFMR(MapHeader* header) {
    return withSession<float**>(__func__, nullptr, [&](HostServices& s) { return s.getMAPOfCurrentFMR(header); });
}

CVTS_EXPORT bool cvSetMAPParametersOfCurrentFMR(MapHeader* header) {
    return withSession(__func__, false, [&](HostServices& s) { return s.setMAPParametersOfCurrentFMR(header); });
}

CVTS_EXPORT bool cvSaveMAPsOfCurrentFMR(const char* path) {
    return withSession(__func__, false, [&](HostServices& s) { return s.saveMAPsOfCurrentFMR(path); });
}

CVTS_EXPORT bool cvGetStringParameter(const char* name, char* buffer512) {
    return withSession(__func__, false, [&](HostServices& s) { return s.getStringParameter(name, buffer512); });
}

CVTS_EXPORT bool cvSetStringParameter(const char* name, const char* text) {
    return withSession(__func__, false, [&](HostServices& s) { return s.setStringParameter(name, text); });
}

CVTS_EXPORT int32_t cvGetIntParameter(const char* name) {
    return withSession(__func__, int32_t(0), [&](HostServices& s) { return s.getIntParameter(name); });
}

CVTS_EXPORT float cvGetFloatParameter(const char* name) {
    return withSession(__func__, 0.0f, [&](HostServices& s) { return s.getFloatParameter(name); });
}

CVTS_EXPORT bool cvGetOpenFileName(const char* title, const char* initial, const char* filter, char* buffer512) {
    return withSession(__func__, false,
                       [&](HostServices& s) { return s.getOpenFileName(title, initial, filter, buffer512); });
}

} // extern "C"

// The exports keep exactly the signatures plug-ins are compiled against.
#define CORVANTIS_SAME_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), name##_t>, #name " matches the host kit")
CORVANTIS_SAME_SIGNATURE(cvGetVersionOfCorvantis);
CORVANTIS_SAME_SIGNATURE(cvShowLogTab);
CORVANTIS_SAME_SIGNATURE(cvLogText);
CORVANTIS_SAME_SIGNATURE(cvMessageBox);
CORVANTIS_SAME_SIGNATURE(cvShowBusyCursor);
CORVANTIS_SAME_SIGNATURE(cvStopBusyCursor);
CORVANTIS_SAME_SIGNATURE(cvGetIDOfCurrentDocument);
CORVANTIS_SAME_SIGNATURE(cvGetDocumentType);
CORVANTIS_SAME_SIGNATURE(cvGetHeaderOfCurrentFMR);
CORVANTIS_SAME_SIGNATURE(cvGetSTCFloatDataOfCurrentFMR);
CORVANTIS_SAME_SIGNATURE(cvSaveFMRAndSTC);
CORVANTIS_SAME_SIGNATURE(cvCreateMAPForCurrentFMR);
CORVANTIS_SAME_SIGNATURE(cvGetMAPOfCurrentFMR);
CORVANTIS_SAME_SIGNATURE(cvSetMAPParametersOfCurrentFMR);
CORVANTIS_SAME_SIGNATURE(cvSaveMAPsOfCurrentFMR);
CORVANTIS_SAME_SIGNATURE(cvGetStringParameter);
CORVANTIS_SAME_SIGNATURE(cvSetStringParameter);
CORVANTIS_SAME_SIGNATURE(cvGetIntParameter);
CORVANTIS_SAME_SIGNATURE(cvGetFloatParameter);
CORVANTIS_SAME_SIGNATURE(cvGetOpenFileName);
#undef CORVANTIS_SAME_SIGNATURE
