// What the host does behind each of the 20 services it exports: the session of
// one run (document, maps, parameters, dialog answers) and the simulated host's
// settings. Every call is traced; texts go to the log pane and message box
// streams; nothing a plug-in passes can make the host write out of bounds.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/core/Parameters.h"
#include "host/core/Trace.h"
#include "host/formats/AtomicFile.h"
#include "host/formats/FmrDocument.h"
#include "host/formats/MapImage.h"
#include "plugin/HostKit.h"

namespace corvantis {

// The names of the services this host exports, in the host kit's order.
const std::vector<std::string>& providedServiceNames();

// How the simulated host answers where a real one would differ.
struct HostSimulation {
    int32_t major = 2;
    int32_t minor = 8;
    int32_t revision = 0;
    int32_t documentId = 1;
    int32_t documentType = kDocumentTypeFMR;
    bool mapNull = false;                 // cvGetMAPOfCurrentFMR returns null
    std::optional<MapExtents> mapExtents; // new maps' extents instead of the run's
    bool readOnly = false;                // every save fails
};

struct HostChannels {
    std::ostream& logPane;  // cvLogText
    std::ostream& messages; // cvMessageBox and the host's warnings
    Trace& trace;
};

// Writers of other formats for each save. With the host's formats they run
// after each successful save, to write copies, and a SaveError they throw
// becomes a warning that leaves the service's answer as it is. Without them
// they are the save: no .map, .fmr or .stc is written, and a SaveError fails
// the service as a failed write of its own would.
struct SaveHooks {
    // fmrPath: the absolute path of the .fmr saved, or that would have been.
    std::function<void(const FmrDocument& run, const std::string& fmrPath)> run;
    std::function<void(const MapImage& map, const FmrDocument& run, const std::string& path)> map;
    bool hostFormats = true;
    // How the host's own formats are written (the hooks carry their own).
    Durability durability = Durability::Complete;
};

// Time spent in the save services, written files included.
struct SaveTime {
    double seconds = 0.0;    // wall clock
    double cpuSeconds = 0.0; // processor time of every thread of the host
};

class HostServices {
public:
    HostServices(HostSimulation simulation, std::optional<FmrDocument> document, Parameters parameters,
                 std::deque<std::string> openFileAnswers, HostChannels channels);

    // One method per exported service, named and typed as the service (the host
    // kit's list): cvGetDocumentType, cvSaveFMRAndSTC, ...
#define CORVANTIS_SERVICE_METHOD(name, result, parameters, arguments, answer) result name parameters;
    CVTS_CALLED_HOST_SERVICES(CORVANTIS_SERVICE_METHOD)
#undef CORVANTIS_SERVICE_METHOD

    void setSaveHooks(SaveHooks hooks) { saveHooks_ = std::move(hooks); }
    const SaveTime& saveTime() const { return saveTime_; }

    Parameters& parameters() { return parameters_; }
    bool messageBoxShown() const { return messageBoxShown_; }
    // The texts of the message boxes shown, in order.
    const std::vector<std::string>& messageBoxTexts() const { return messageBoxTexts_; }
    const std::optional<FmrDocument>& document() const { return document_; }
    const std::vector<MapImage>& maps() const { return maps_; }

private:
    void warn(const std::string& message);
    bool refuseSave(const char* path, const std::string& reason);
    template <class Hook>
    void afterSave(const Hook& hook);

    HostSimulation simulation_;
    std::optional<FmrDocument> document_;
    Parameters parameters_;
    std::deque<std::string> openFileAnswers_;
    HostChannels channels_;
    std::vector<MapImage> maps_; // every map created, the current one last
    SaveHooks saveHooks_;
    SaveTime saveTime_;
    bool messageBoxShown_ = false;
    std::vector<std::string> messageBoxTexts_;
};

} // namespace corvantis
