#include "quorvex/Paths.h"

std::string fileNameOf(const std::string& path) {
    const std::string::size_type separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

namespace {

// Where the extension starts, or npos: only a '.' in the last path component counts.
std::string::size_type extensionDot(const std::string& path) {
    const std::string::size_type dot = path.rfind('.');
    const std::string::size_type separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
        return std::string::npos;
    }
    return dot;
}

} // namespace

std::string stemOf(const std::string& text) {
    const std::string::size_type dot = extensionDot(text);
    return dot == std::string::npos ? text : text.substr(0, dot);
}

std::string insertBeforeExtension(const std::string& path, const std::string& suffix) {
    const std::string::size_type dot = extensionDot(path);
    if (dot == std::string::npos) {
        return path + suffix;
    }
    return path.substr(0, dot) + suffix + path.substr(dot);
}
