// Typed calls of the host services the plug-in uses. Each one looks its entry up
// in the host service table and throws std::runtime_error naming the service
// when the host does not provide it, so a missing service is never called.
#pragma once

#include "plugin/HostKit.h"

namespace host {

void cvGetVersionOfCorvantis(int32_t* major, int32_t* minor, int32_t* revision);
void cvShowLogTab();
void cvMessageBox(const char* text);
void cvShowBusyCursor();
void cvStopBusyCursor();
int32_t cvGetIDOfCurrentDocument();
int32_t cvGetDocumentType(int32_t documentId);
void cvGetHeaderOfCurrentFMR(FMRHeader* header);
float** cvGetSTCFloatDataOfCurrentFMR();
void cvSaveFMRAndSTC(const char* fmrPath, const char* stcName);
void cvCreateMAPForCurrentFMR();
float** cvGetMAPOfCurrentFMR(MapHeader* header);
void cvSetMAPParametersOfCurrentFMR(MapHeader* header);
void cvSaveMAPsOfCurrentFMR(const char* path);
void cvGetStringParameter(const char* name, char* buffer512);
void cvSetStringParameter(const char* name, const char* text);
int32_t cvGetIntParameter(const char* name);
float cvGetFloatParameter(const char* name);
void cvGetOpenFileName(const char* title, const char* initial, const char* filter, char* buffer512);

// The log function as the log stream takes it: the raw entry, possibly null.
cvLogText_t logTextEntry();

} // namespace host
