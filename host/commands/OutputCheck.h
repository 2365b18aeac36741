// Commands refuse an output that would replace one of their inputs, compared
// by file and not by name (a link or another spelling of the path is caught
// too), before anything is opened for writing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/commands/CommandLine.h"
#include "host/formats/FileIdentity.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

// Throws UsageError naming the option, the output and the input it would replace.
inline void refuseOutputOverInput(const std::string& option, const std::string& output,
                                  const std::vector<std::string>& inputs) {
    if (const std::optional<std::string> input = inputSameAs(output, inputs)) {
        throw UsageError(option + " " + inQuotes(output) + " is the same file as the input " + inQuotes(*input) +
                         "; an output must not replace an input");
    }
}

} // namespace corvantis
