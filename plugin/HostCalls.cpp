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
        throw std::runtime_error(std::string("Corvantis does not provide the service ") +
                                 cvts::hostServiceName(which));
    }
    return reinterpret_cast<Function>(entry);
}

} // namespace

#define HOST_SERVICE(name) service<::name##_t>(HostService::name)

void cvGetVersionOfCorvantis(int32_t* major, int32_t* minor, int32_t* revision) {
    HOST_SERVICE(cvGetVersionOfCorvantis)(major, minor, revision);
}

void cvShowLogTab() { HOST_SERVICE(cvShowLogTab)(); }

void cvMessageBox(const char* text) { HOST_SERVICE(cvMessageBox)(text); }

void cvShowBusyCursor() { HOST_SERVICE(cvShowBusyCursor)(); }

void cvStopBusyCursor() { HOST_SERVICE(cvStopBusyCursor)(); }

int32_t cvGetIDOfCurrentDocument() { return HOST_SERVICE(cvGetIDOfCurrentDocument)(); }

int32_t cvGetDocumentType(int32_t documentId) { return HOST_SERVICE(cvGetDocumentType)(documentId); }

void cvGetHeaderOfCurrentFMR(FMRHeader* header) { HOST_SERVICE(cvGetHeaderOfCurrentFMR)(header); }

float** cvGetSTCFloatDataOfCurrentFMR() { return HOST_SERVICE(cvGetSTCFloatDataOfCurrentFMR)(); }

void cvSaveFMRAndSTC(const char* fmrPath, const char* stcName) {
    HOST_SERVICE(cvSaveFMRAndSTC)(fmrPath, stcName);
}

void cvCreateMAPForCurrentFMR() { HOST_SERVICE(cvCreateMAPForCurrentFMR)(); }

float** cvGetMAPOfCurrentFMR(MapHeader* header) { return HOST_SERVICE(cvGetMAPOfCurrentFMR)(header); }

void cvSetMAPParametersOfCurrentFMR(MapHeader* header) {
    HOST_SERVICE(cvSetMAPParametersOfCurrentFMR)(header);
}

void cvSaveMAPsOfCurrentFMR(const char* path) { HOST_SERVICE(cvSaveMAPsOfCurrentFMR)(path); }

void cvGetStringParameter(const char* name, char* buffer512) {
    HOST_SERVICE(cvGetStringParameter)(name, buffer512);
}

void cvSetStringParameter(const char* name, const char* text) {
    HOST_SERVICE(cvSetStringParameter)(name, text);
}

int32_t cvGetIntParameter(const char* name) { return HOST_SERVICE(cvGetIntParameter)(name); }

float cvGetFloatParameter(const char* name) { return HOST_SERVICE(cvGetFloatParameter)(name); }

void cvGetOpenFileName(const char* title, const char* initial, const char* filter, char* buffer512) {
    HOST_SERVICE(cvGetOpenFileName)(title, initial, filter, buffer512);
}

#undef HOST_SERVICE

cvLogText_t logTextEntry() {
    return reinterpret_cast<cvLogText_t>(cvts::hostServiceEntry(HostService::cvLogText));
}

} // namespace host
