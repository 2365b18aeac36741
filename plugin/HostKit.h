// The contract between the Corvantis host and its plug-ins: the records they
// exchange and the signatures of the host services a plug-in calls. Both the
// plug-in and the substitute host compile against this header and nothing else
// of each other.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define CVTS_EXPORT __declspec(dllexport)
#else
#define CVTS_EXPORT __attribute__((visibility("default")))
#endif

// The functional run as the host describes it. Only the named fields are read by
// the plug-in; the reserved bytes belong to the host.
struct FMRHeader {
    char FileName[304];
    int32_t NrOfVolumes;
    int32_t DimX;
    int32_t DimY;
    int32_t DimZ;
    unsigned char reserved1[36];
    int32_t DataType;
    unsigned char reserved2[808];
};
static_assert(sizeof(FMRHeader) == 1168, "FMRHeader is 1168 bytes");
static_assert(offsetof(FMRHeader, FileName) == 0, "FileName at 0");
static_assert(offsetof(FMRHeader, NrOfVolumes) == 304, "NrOfVolumes at 304");
static_assert(offsetof(FMRHeader, DimX) == 308, "DimX at 308");
static_assert(offsetof(FMRHeader, DimY) == 312, "DimY at 312");
static_assert(offsetof(FMRHeader, DimZ) == 316, "DimZ at 316");
static_assert(offsetof(FMRHeader, DataType) == 356, "DataType at 356");

// A map of the current run, as handed out by cvGetMAPOfCurrentFMR.
struct MapHeader {
    int32_t DimX;
    int32_t DimY;
    int32_t DimZ;
    int32_t MapType;
    float LowerThreshold;
    float UpperThreshold;
    int32_t reserved24; // the host's own; the plug-in leaves it alone
    int32_t field28;    // the plug-in always writes 0 here
    int32_t DF1;
    int32_t DF2;
    unsigned char reserved40[24];
};
static_assert(sizeof(MapHeader) == 64, "MapHeader is 64 bytes");
static_assert(offsetof(MapHeader, DimX) == 0, "DimX at 0");
static_assert(offsetof(MapHeader, DimY) == 4, "DimY at 4");
static_assert(offsetof(MapHeader, DimZ) == 8, "DimZ at 8");
static_assert(offsetof(MapHeader, MapType) == 12, "MapType at 12");
static_assert(offsetof(MapHeader, LowerThreshold) == 16, "LowerThreshold at 16");
static_assert(offsetof(MapHeader, UpperThreshold) == 20, "UpperThreshold at 20");
static_assert(offsetof(MapHeader, reserved24) == 24, "byte 24 is the host's");
static_assert(offsetof(MapHeader, field28) == 28, "the zeroed int32 at 28");
static_assert(offsetof(MapHeader, DF1) == 32, "DF1 at 32");
static_assert(offsetof(MapHeader, DF2) == 36, "DF2 at 36");

// Codes of the host contract.
constexpr int32_t kDocumentTypeFMR = 1;    // cvGetDocumentType of an FMR document
constexpr int32_t kFMRDataTypeInt16 = 1;   // FMRHeader::DataType: the older short-integer storage
constexpr int32_t kFMRDataTypeFloat32 = 2; // FMRHeader::DataType: 32-bit float time courses
constexpr int32_t kMapTypePlain = 0;       // MapHeader::MapType of a map of plain values
constexpr int32_t kMapTypeF = 4;           // MapHeader::MapType of an F map, with DF1 and DF2

// Texts read from the host go through buffers of this size.
constexpr int kHostTextBufferSize = 512;

// The services a plug-in calls, in the host kit's order, one row each:
//     X(name, result type, (parameters), (arguments), answer of a host without a session)
// This list is the one place that names and types them: the signatures below, the
// plug-in's typed calls, the host's exports and the host programs' export lists
// (which the build reads out of these rows) are all generated from it. Each row
// starts a line with "X(name,"; a void service has no answer, so its last column is empty.
#define CVTS_CALLED_HOST_SERVICES(X) \
    X(cvGetVersionOfCorvantis, void, (int32_t * major, int32_t * minor, int32_t * revision), \
      (major, minor, revision), ) \
    X(cvShowLogTab, void, (), (), ) \
    X(cvLogText, bool, (const char* text), (text), false) \
    X(cvMessageBox, bool, (const char* text), (text), false) \
    X(cvShowBusyCursor, void, (), (), ) \
    X(cvStopBusyCursor, void, (), (), ) \
    X(cvGetIDOfCurrentDocument, int32_t, (), (), -1) \
    X(cvGetDocumentType, int32_t, (int32_t documentId), (documentId), -1) \
    X(cvGetHeaderOfCurrentFMR, bool, (FMRHeader * header), (header), false) \
    X(cvGetSTCFloatDataOfCurrentFMR, float**, (), (), nullptr) \
    X(cvSaveFMRAndSTC, bool, (const char* fmrPath, const char* stcName), (fmrPath, stcName), false) \
    X(cvCreateMAPForCurrentFMR, bool, (), (), false) \
    X(cvGetMAPOfCurrentFMR, float**, (MapHeader * header), (header), nullptr) \
    X(cvSetMAPParametersOfCurrentFMR, bool, (MapHeader * header), (header), false) \
    X(cvSaveMAPsOfCurrentFMR, bool, (const char* path), (path), false) \
    X(cvGetStringParameter, bool, (const char* name, char* buffer512), (name, buffer512), false) \
    X(cvSetStringParameter, bool, (const char* name, const char* text), (name, text), false) \
    X(cvGetIntParameter, int32_t, (const char* name), (name), 0) \
    X(cvGetFloatParameter, float, (const char* name), (name), 0.0f) \
    X(cvGetOpenFileName, bool, (const char* title, const char* initial, const char* filter, char* buffer512), \
      (title, initial, filter, buffer512), false)

// Signatures of the services a plug-in calls (C linkage on the host side), as
// cvXxx_t.
extern "C" {
#define CVTS_SERVICE_SIGNATURE(name, result, parameters, arguments, answer) typedef result(*name##_t) parameters;
CVTS_CALLED_HOST_SERVICES(CVTS_SERVICE_SIGNATURE)
#undef CVTS_SERVICE_SIGNATURE
}
