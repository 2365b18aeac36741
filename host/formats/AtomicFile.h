// Writes a file so that its final name only ever names a complete file: the
// bytes go to a temporary file beside it, which is then renamed over it.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>

namespace corvantis {

// Throws SaveError (and leaves no temporary file) when the file cannot be
// created, written or renamed; an existing file of that name stays as it was.
void writeFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

} // namespace corvantis
