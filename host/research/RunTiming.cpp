#include "host/research/RunTiming.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"
#include "host/formats/TabSeparated.h"

#ifdef QUORVEX_HOST_JSON
#include <nlohmann/json.hpp>
#endif

namespace corvantis {

namespace {

std::string secondsText(double seconds) {
    std::ostringstream text;
    text << seconds;
    return text.str();
}

// Header and sidecar are written with float and decimal rounding of one value.
bool agree(double a, double b) { return std::abs(a - b) <= 1e-6 * std::max(a, b); }

std::optional<double> headerSeconds(const FmrDocument& run) {
    const std::string* text = run.text().find("TR");
    if (text == nullptr) return std::nullopt;
    const std::optional<double> milliseconds = finiteNumber(trimmedField(*text));
    if (!milliseconds || *milliseconds <= 0.0) return std::nullopt;
    return *milliseconds / 1000.0;
}

#ifdef QUORVEX_HOST_JSON

std::optional<double> sidecarSeconds(const std::string& path) {
    const std::string text = readTextFile(path, "the run's sidecar");
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text.substr(byteOrderMarkLength(text)));
    } catch (const nlohmann::json::parse_error& error) {
        throw DocumentError(inQuotes(path) + " is not JSON: " + error.what());
    }
    if (!root.is_object()) {
        throw DocumentError(inQuotes(path) + " holds no JSON object; a run's sidecar maps keys such as " +
                            "\"RepetitionTime\" to values");
    }
    const auto found = root.find("RepetitionTime");
    if (found == root.end() || found->is_null()) return std::nullopt;
    if (!found->is_number() || !std::isfinite(found->get<double>()) || !(found->get<double>() > 0.0)) {
        throw DocumentError(inQuotes(path) + ": \"RepetitionTime\" holds " + found->dump() +
                            ", not a number of seconds above 0");
    }
    return found->get<double>();
}

#else

std::optional<double> sidecarSeconds(const std::string&) { return std::nullopt; }

#endif

} // namespace

std::string runSidecarPath(const std::string& runPath) {
    const auto endsWith = [&runPath](const std::string& end) {
        return runPath.size() >= end.size() &&
               std::equal(end.begin(), end.end(), runPath.end() - static_cast<std::ptrdiff_t>(end.size()),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    };
    const std::size_t cut = endsWith(".nii.gz") ? 7
                            : endsWith(".nii")  ? 4
                                                : std::filesystem::path(runPath).extension().string().size();
    return runPath.substr(0, runPath.size() - cut) + ".json";
}

RepetitionTime runRepetitionTime(const FmrDocument& run, const std::string& runPath) {
    const std::optional<double> header = headerSeconds(run);
    const std::string sidecar = runSidecarPath(runPath);
    std::error_code error;
    const std::optional<double> side =
        std::filesystem::is_regular_file(sidecar, error) ? sidecarSeconds(sidecar) : std::nullopt;
    if (header && side && !agree(*header, *side)) {
        throw DocumentError("the header of " + inQuotes(runPath) + " gives a TR of " + secondsText(*header) +
                            " s, its sidecar " + inQuotes(sidecar) + " a RepetitionTime of " + secondsText(*side) +
                            " s; correct the one that is wrong");
    }
    const std::string read = side ? sidecar : std::string();
    if (header) return RepetitionTime{header, "the header of " + inQuotes(runPath), read};
    if (side) return RepetitionTime{side, "the sidecar " + inQuotes(sidecar), read};
    return RepetitionTime{std::nullopt,
                          "the header of " + inQuotes(runPath) + " gives no TR (0: unknown) and no sidecar " +
                              inQuotes(sidecar) + " gives a RepetitionTime",
                          read};
}

RepetitionTime chosenRepetitionTime(const RepetitionTime& run, std::optional<double> given) {
    if (!given) return run;
    if (run.seconds && !agree(*run.seconds, *given)) {
        throw DocumentError("--tr " + secondsText(*given) + " differs from the run's TR of " +
                            secondsText(*run.seconds) + " s (" + run.source + "); leave --tr out to use the run's");
    }
    return RepetitionTime{given, "--tr", run.sidecar};
}

} // namespace corvantis
