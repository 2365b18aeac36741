#include "quorvex/LogLine.h"

#include "plugin/PluginTexts.h"

void logLine(std::ostream* log, const std::string& message, bool leadingBreak) {
    if (log == nullptr) {
        return; // not initialised: nowhere to write
    }
    if (leadingBreak) {
        *log << "\n";
    }
    *log << cvts::pluginName() << message << std::flush;
}
