#include "host/formats/FileIdentity.h"

#include <system_error>

namespace corvantis {

bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return same && !error;
}

std::optional<std::string> inputSameAs(const std::string& output, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        if (isSameFile(output, input)) return input;
    }
    return std::nullopt;
}

} // namespace corvantis
