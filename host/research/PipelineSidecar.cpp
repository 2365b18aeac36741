#include "host/research/PipelineSidecar.h"

#include <filesystem>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"

#ifdef QUORVEX_HOST_JSON
#include <nlohmann/json.hpp>
#endif

namespace corvantis {

const ComponentMetadata* PipelineSidecar::find(const std::string& column) const {
    const auto found = columns.find(column);
    return found == columns.end() ? nullptr : &found->second;
}

std::string sidecarPathOfTable(const std::string& tablePath) {
    const std::string suffix = ".tsv";
    if (tablePath.size() > suffix.size() &&
        tablePath.compare(tablePath.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return tablePath.substr(0, tablePath.size() - suffix.size()) + ".json";
    }
    return tablePath + ".json";
}

#ifdef QUORVEX_HOST_JSON

namespace {

using Json = nlohmann::json;

template <typename T>
std::optional<T> entry(const Json& object, const char* key, Json::value_t kind, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    const bool number = kind == Json::value_t::number_float;
    if (number ? !found->is_number() : found->type() != kind) {
        throw DocumentError(where + ": \"" + key + "\" holds " + found->dump() + ", not " +
                            (number                           ? "a number"
                             : kind == Json::value_t::boolean ? "true or false"
                                                              : "a text"));
    }
    return found->get<T>();
}

} // namespace

PipelineSidecar parsePipelineSidecar(const std::string& text, const std::string& path) {
    Json root;
    try {
        root = Json::parse(text.substr(byteOrderMarkLength(text)));
    } catch (const Json::parse_error& error) {
        throw DocumentError(inQuotes(path) + " is not JSON: " + error.what());
    }
    if (!root.is_object()) {
        throw DocumentError(inQuotes(path) +
                            " holds no JSON object; a confounds sidecar maps column names to "
                            "what they are");
    }
    PipelineSidecar sidecar;
    sidecar.path = path;
    for (const auto& [column, value] : root.items()) {
        if (!value.is_object()) continue;
        const std::string where = inQuotes(path) + ", column " + inQuotes(column);
        ComponentMetadata metadata;
        metadata.method = entry<std::string>(value, "Method", Json::value_t::string, where).value_or("");
        metadata.mask = entry<std::string>(value, "Mask", Json::value_t::string, where).value_or("");
        metadata.varianceExplained = entry<double>(value, "VarianceExplained", Json::value_t::number_float, where);
        metadata.cumulativeVarianceExplained =
            entry<double>(value, "CumulativeVarianceExplained", Json::value_t::number_float, where);
        metadata.retained = entry<bool>(value, "Retained", Json::value_t::boolean, where);
        sidecar.columns.emplace(column, metadata);
    }
    return sidecar;
}

#else

PipelineSidecar parsePipelineSidecar(const std::string&, const std::string& path) {
    throw DocumentError(inQuotes(path) + ": this build of Corvantis reads no JSON; use a native build");
}

#endif

PipelineSidecar readPipelineSidecar(const std::string& path) {
    return parsePipelineSidecar(readTextFile(path, "the table's sidecar"), path);
}

std::optional<PipelineSidecar> findPipelineSidecar(const std::string& tablePath) {
    const std::string path = sidecarPathOfTable(tablePath);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return std::nullopt;
    return readPipelineSidecar(path);
}

} // namespace corvantis
