#include "host/research/RunTiming.h"

#include "host/formats/TabSeparated.h"

namespace corvantis {

std::optional<double> runRepetitionTime(const FmrDocument& run) {
    const std::string* text = run.text().find("TR");
    if (text == nullptr) return std::nullopt;
    const std::optional<double> milliseconds = finiteNumber(trimmedField(*text));
    if (!milliseconds || *milliseconds <= 0.0) return std::nullopt;
    return *milliseconds / 1000.0;
}

} // namespace corvantis
