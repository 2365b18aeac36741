#include "host/core/HostServices.h"

#include <chrono>
#include <ctime>
#include <filesystem>

#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

std::string textOrEmpty(const char* text) { return text == nullptr ? std::string() : std::string(text); }

std::string boolText(bool value) { return value ? "true" : "false"; }

std::string extentsText(const MapHeader& header) {
    return std::to_string(header.DimX) + " x " + std::to_string(header.DimY) + " x " + std::to_string(header.DimZ);
}

std::string parametersText(const MapHeader& header) {
    return "MapType " + std::to_string(header.MapType) + ", LowerThreshold " + formatFloat(header.LowerThreshold) +
           ", UpperThreshold " + formatFloat(header.UpperThreshold) + ", int32@24 " +
           std::to_string(header.reserved24) + ", int32@28 " + std::to_string(header.field28) + ", DF1 " +
           std::to_string(header.DF1) + ", DF2 " + std::to_string(header.DF2);
}

// Adds the time from its making to its end to a total.
class SaveTimer {
public:
    explicit SaveTimer(SaveTime& total)
        : total_(total), start_(std::chrono::steady_clock::now()), cpuStart_(std::clock()) {}
    ~SaveTimer() {
        total_.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        total_.cpuSeconds += static_cast<double>(std::clock() - cpuStart_) / CLOCKS_PER_SEC;
    }
    SaveTimer(const SaveTimer&) = delete;
    SaveTimer& operator=(const SaveTimer&) = delete;

private:
    SaveTime& total_;
    std::chrono::steady_clock::time_point start_;
    std::clock_t cpuStart_;
};

} // namespace

const std::vector<std::string>& providedServiceNames() {
    static const std::vector<std::string> names = {
#define CORVANTIS_SERVICE_NAME(name, ...) #name,
        CVTS_CALLED_HOST_SERVICES(CORVANTIS_SERVICE_NAME)
#undef CORVANTIS_SERVICE_NAME
    };
    return names;
}

HostServices::HostServices(HostSimulation simulation, std::optional<FmrDocument> document, Parameters parameters,
                           std::deque<std::string> openFileAnswers, HostChannels channels)
    : simulation_(simulation),
      document_(std::move(document)),
      parameters_(std::move(parameters)),
      openFileAnswers_(std::move(openFileAnswers)),
      channels_(channels) {}

void HostServices::warn(const std::string& message) {
    channels_.messages << "Corvantis: warning: " << message << '\n' << std::flush;
}

bool HostServices::refuseSave(const char* path, const std::string& reason) {
    warn("cannot save " + (path == nullptr ? std::string("(null)") : inQuotes(path)) + ": " + reason);
    return false;
}

template <class Hook>
void HostServices::afterSave(const Hook& hook) {
    try {
        hook();
    } catch (const SaveError& error) {
        warn(error.what());
    }
}

void HostServices::cvGetVersionOfCorvantis(int32_t* major, int32_t* minor, int32_t* revision) {
    if (major != nullptr) *major = simulation_.major;
    if (minor != nullptr) *minor = simulation_.minor;
    if (revision != nullptr) *revision = simulation_.revision;
    channels_.trace.write("cvGetVersionOfCorvantis() -> " + std::to_string(simulation_.major) + "." +
                          std::to_string(simulation_.minor) + "." + std::to_string(simulation_.revision));
}

void HostServices::cvShowLogTab() { channels_.trace.write("cvShowLogTab()"); }

bool HostServices::cvLogText(const char* text) {
    channels_.trace.write("cvLogText(" + quoted(text) + ")");
    channels_.logPane << textOrEmpty(text) << '\n' << std::flush;
    return true;
}

bool HostServices::cvMessageBox(const char* text) {
    channels_.trace.write("cvMessageBox(" + quoted(text) + ")");
    channels_.messages << textOrEmpty(text) << '\n' << std::flush;
    messageBoxShown_ = true;
    messageBoxTexts_.push_back(textOrEmpty(text));
    return true;
}

void HostServices::cvShowBusyCursor() { channels_.trace.write("cvShowBusyCursor()"); }

void HostServices::cvStopBusyCursor() { channels_.trace.write("cvStopBusyCursor()"); }

int32_t HostServices::cvGetIDOfCurrentDocument() {
    const int32_t id = document_ ? simulation_.documentId : -1;
    channels_.trace.write("cvGetIDOfCurrentDocument() -> " + std::to_string(id));
    return id;
}

int32_t HostServices::cvGetDocumentType(int32_t documentId) {
    const int32_t type = document_ && documentId == simulation_.documentId ? simulation_.documentType : -1;
    channels_.trace.write("cvGetDocumentType(" + std::to_string(documentId) + ") -> " + std::to_string(type));
    return type;
}

bool HostServices::cvGetHeaderOfCurrentFMR(FMRHeader* header) {
    const bool filled = document_ && header != nullptr;
    if (filled) {
        *header = document_->header();
    }
    channels_.trace.write("cvGetHeaderOfCurrentFMR() -> " + boolText(filled));
    return filled;
}

float** HostServices::cvGetSTCFloatDataOfCurrentFMR() {
    float** volumes = document_ ? document_->timeCourses().floatVolumes() : nullptr;
    channels_.trace.write(
        "cvGetSTCFloatDataOfCurrentFMR() -> " +
        (volumes == nullptr ? std::string("(null)") : std::to_string(document_->layout().nrOfVolumes) + " volumes"));
    return volumes;
}

bool HostServices::cvSaveFMRAndSTC(const char* fmrPath, const char* stcName) {
    bool saved = false;
    if (fmrPath == nullptr || stcName == nullptr) {
        refuseSave(fmrPath, "no path or time-course name given");
    } else if (!document_) {
        refuseSave(fmrPath, "there is no current document");
    } else if (simulation_.readOnly) {
        refuseSave(fmrPath, "the host is read-only (--read-only)");
    } else {
        try {
            const SaveTimer timer(saveTime_);
            if (saveHooks_.hostFormats) {
                document_->saveAs(fmrPath, stcName, saveHooks_.durability);
                saved = true;
                if (saveHooks_.run) afterSave([this] { saveHooks_.run(*document_, document_->location()); });
            } else {
                // Written first: a failed write leaves the document as it was.
                if (saveHooks_.run) saveHooks_.run(*document_, document_->savePath(fmrPath, stcName));
                document_->takeSavedName(fmrPath, stcName);
                saved = true;
            }
        } catch (const SaveError& error) {
            refuseSave(fmrPath, error.what());
        }
    }
    channels_.trace.write("cvSaveFMRAndSTC(" + quoted(fmrPath) + ", " + quoted(stcName) + ") -> " + boolText(saved));
    return saved;
}

bool HostServices::cvCreateMAPForCurrentFMR() {
    if (document_) {
        const RunLayout& run = document_->layout();
        maps_.emplace_back(simulation_.mapExtents.value_or(MapExtents{run.dimX, run.dimY, run.dimZ}));
    } else {
        warn("cannot create a map: there is no current document");
    }
    channels_.trace.write("cvCreateMAPForCurrentFMR() -> " + boolText(document_.has_value()));
    return document_.has_value();
}

float** HostServices::cvGetMAPOfCurrentFMR(MapHeader* header) {
    float** slices = nullptr;
    if (!simulation_.mapNull && !maps_.empty() && header != nullptr) {
        *header = maps_.back().header();
        slices = maps_.back().slices();
    }
    channels_.trace.write("cvGetMAPOfCurrentFMR() -> " +
                          (slices == nullptr ? std::string("(null)") : extentsText(maps_.back().header())));
    return slices;
}

bool HostServices::cvSetMAPParametersOfCurrentFMR(MapHeader* header) {
    const bool taken = !maps_.empty() && header != nullptr;
    if (taken) {
        maps_.back().takeParameters(*header);
    }
    channels_.trace.write("cvSetMAPParametersOfCurrentFMR(" +
                          (header == nullptr ? std::string("(null)") : parametersText(*header)) + ") -> " +
                          boolText(taken));
    return taken;
}

bool HostServices::cvSaveMAPsOfCurrentFMR(const char* path) {
    bool saved = false;
    if (path == nullptr) {
        refuseSave(path, "no path given");
    } else if (maps_.empty()) {
        refuseSave(path, "no map has been created");
    } else if (simulation_.readOnly) {
        refuseSave(path, "the host is read-only (--read-only)");
    } else {
        try {
            const SaveTimer timer(saveTime_);
            const MapImage& map = maps_.back();
            if (saveHooks_.hostFormats) {
                writeFileAtomically(
                    std::filesystem::path(path), [&map](std::ostream& out) { map.writeTo(out); },
                    saveHooks_.durability);
                saved = true;
                if (saveHooks_.map && document_) afterSave([&] { saveHooks_.map(map, *document_, path); });
            } else {
                if (saveHooks_.map && document_) saveHooks_.map(map, *document_, path);
                saved = true;
            }
        } catch (const SaveError& error) {
            refuseSave(path, error.what());
        }
    }
    channels_.trace.write("cvSaveMAPsOfCurrentFMR(" + quoted(path) + ") -> " + boolText(saved));
    return saved;
}

bool HostServices::cvGetStringParameter(const char* name, char* buffer) {
    const std::string* value = name == nullptr ? nullptr : parameters_.find(name);
    if (buffer != nullptr) {
        copyToHostBuffer(value == nullptr ? std::string() : *value, buffer);
    }
    // The trace shows what the caller received, cut to the buffer.
    channels_.trace.write("cvGetStringParameter(" + quoted(name) + ") -> " +
                          (value == nullptr    ? std::string("(absent)")
                           : buffer == nullptr ? std::string("(no buffer)")
                                               : quoted(buffer)));
    return value != nullptr;
}

bool HostServices::cvSetStringParameter(const char* name, const char* text) {
    const bool stored = name != nullptr && text != nullptr;
    if (stored) {
        parameters_.set(name, text);
    }
    channels_.trace.write("cvSetStringParameter(" + quoted(name) + ", " + quoted(text) + ")");
    return stored;
}

int32_t HostServices::cvGetIntParameter(const char* name) {
    const std::string* value = name == nullptr ? nullptr : parameters_.find(name);
    const int32_t number = value == nullptr ? 0 : parseIntParameter(*value);
    channels_.trace.write("cvGetIntParameter(" + quoted(name) + ") -> " + std::to_string(number));
    return number;
}

float HostServices::cvGetFloatParameter(const char* name) {
    const std::string* value = name == nullptr ? nullptr : parameters_.find(name);
    const float number = value == nullptr ? 0.0f : parseFloatParameter(*value);
    channels_.trace.write("cvGetFloatParameter(" + quoted(name) + ") -> " + formatFloat(number));
    return number;
}

bool HostServices::cvGetOpenFileName(const char* title, const char* initial, const char* filter, char* buffer) {
    const std::string call =
        "cvGetOpenFileName(" + quoted(title) + ", " + quoted(initial) + ", " + quoted(filter) + ")";
    // A cancelled dialog leaves the caller's buffer exactly as it was.
    if (openFileAnswers_.empty() || buffer == nullptr) {
        channels_.trace.write(call + " -> (cancelled)");
        return false;
    }
    const std::string answer = openFileAnswers_.front();
    openFileAnswers_.pop_front();
    copyToHostBuffer(answer, buffer);
    channels_.trace.write(call + " -> " + quoted(answer.c_str()));
    return true;
}

} // namespace corvantis
