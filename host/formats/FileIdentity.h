// Whether two names lead to one file, or a name into a folder: by the file
// itself (device and inode, or the platform's equivalent), so links and
// different spellings of a path count. Commands use it to refuse an output that
// would replace one of their inputs or land inside a folder they read.
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

// True when path, its links followed, is folder or lies inside it. The folders
// on the way are compared by identity, so a link, another spelling or a second
// mount of folder counts; path need not exist yet (its existing part is
// followed). False when folder does not exist.
bool liesWithin(const std::filesystem::path& path, const std::filesystem::path& folder);

// Where inside folder path lies, as liesWithin tells it: the rest of its
// resolved path after folder ("." for folder itself), or nothing.
std::optional<std::filesystem::path> placeWithin(const std::filesystem::path& path,
                                                 const std::filesystem::path& folder);

} // namespace corvantis
