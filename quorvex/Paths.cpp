#include "quorvex/Paths.h"

std::string fileNameOf(const std::string& path) {
    const std::string::size_type separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string stemOf(const std::string& text) {
    const std::string::size_type dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

std::string insertBeforeExtension(const std::string& path, const std::string& suffix) {
    const std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos) {
        return path + suffix;
    }
    return path.substr(0, dot) + suffix + path.substr(dot);
}
