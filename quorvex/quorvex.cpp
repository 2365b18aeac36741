#include "quorvex/quorvex.h"

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "plugin/HostCalls.h"
#include "plugin/HostServiceTable.h"
#include "plugin/PluginTexts.h"
#include "quorvex/HostText.h"

namespace {

// Shows the busy cursor for as long as it lives, however the scope is left.
class BusyCursorGuard {
public:
    BusyCursorGuard() { host::cvShowBusyCursor(); }
    ~BusyCursorGuard() {
        try {
            host::cvStopBusyCursor();
        } catch (const std::exception&) {
            // A host without the service has nothing to remove.
        }
    }
    BusyCursorGuard(const BusyCursorGuard&) = delete;
    BusyCursorGuard& operator=(const BusyCursorGuard&) = delete;
};

} // namespace

quorvex::quorvex() : log(nullptr) {}

quorvex::~quorvex() {
    if (log) {
        *log << "\n" << cvts::pluginName() << ">  Plugin finished!\n" << std::flush;
        log.reset();
    }
}

bool quorvex::initPlugin() {
    if (!cvts::fillHostServiceTable()) {
        return false;
    }
    log = std::make_unique<CVTSLog>(host::logTextEntry());
    try {
        int32_t major = 0, minor = 0, revision = 0;
        host::cvGetVersionOfCorvantis(&major, &minor, &revision);
        if (!cvts::hostVersionPasses(major, minor, revision)) {
            host::cvMessageBox("Can not execute this plugin - Corvantis version 2.8 or higher required.");
            return false;
        }
        host::cvShowLogTab();
        *log << "\n" << cvts::pluginName() << ">  Running..." << std::flush;
        const int32_t id = host::cvGetIDOfCurrentDocument();
        if (id < 0) {
            host::cvMessageBox("No current document available.");
            return false;
        }
        if (host::cvGetDocumentType(id) != kDocumentTypeFMR) {
            host::cvMessageBox("The currently active document is not a FMR document.");
            return false;
        }
        FMRHeader header;
        std::memset(&header, 0, sizeof header);
        host::cvGetHeaderOfCurrentFMR(&header);
        if (header.DataType != kFMRDataTypeFloat32) {
            host::cvMessageBox(
                "The current FMR's timecourse data is stored as SHORT INT type. This old "
                "format is not supported by the Quorvex.");
            return false;
        }
        return true;
    } catch (const std::exception&) {
        // A host that lacks a service needed to start cannot run the plug-in.
        return false;
    }
}

bool quorvex::execute() {
    try {
        const std::string task = stringParameter("task");
        if (task == "choose_sdm") {
            chooseSDM();
            return true;
        }
        BusyCursorGuard busy;
        if (task == "start") {
            return compareModels();
        }
        return true;
    } catch (const std::exception& e) {
        try {
            host::cvMessageBox(("Error: " + std::string(e.what())).c_str());
        } catch (const std::exception&) {
            // Without a message service there is no one to tell.
        }
        return true;
    }
}

void quorvex::chooseSDM() {
    // Start from an empty text so that a cancelled dialog stores "", never stale bytes.
    char buffer[kHostTextBufferSize] = {};
    host::cvGetOpenFileName("Select an SDM:", "", "Design Matrix (*.sdm)", buffer);
    host::cvSetStringParameter("sdmfile", textOfBuffer(buffer).c_str());
}
