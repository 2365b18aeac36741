// One line of the plug-in's log: an optional leading line break, the plug-in's
// display name, the message, then a flush that hands it to the host as one text.
#pragma once

#include <ostream>
#include <string>

void logLine(std::ostream* log, const std::string& message, bool leadingBreak = false);
