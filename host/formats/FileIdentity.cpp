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

std::optional<std::filesystem::path> placeWithin(const std::filesystem::path& path,
                                                 const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) return std::nullopt;
    // Links on the way are followed: a link to a folder inside leads inside.
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) resolved = std::filesystem::absolute(path, error).lexically_normal();
    for (std::filesystem::path at = resolved;; at = at.parent_path()) {
        if (isSameFile(at, folder)) return resolved.lexically_relative(at);
        if (at.empty() || at == at.parent_path()) return std::nullopt;
    }
}

bool liesWithin(const std::filesystem::path& path, const std::filesystem::path& folder) {
    return placeWithin(path, folder).has_value();
}

} // namespace corvantis
