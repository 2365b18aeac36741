// Whether two names lead to one file: by the file itself (device and inode, or
// the platform's equivalent), so links and different spellings of a path count.
// Commands use it to refuse an output that would replace one of their inputs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvantis {

// False when either does not exist or cannot be examined.
bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The first of inputs that is the same file as output, if any.
std::optional<std::string> inputSameAs(const std::string& output, const std::vector<std::string>& inputs);

} // namespace corvantis
