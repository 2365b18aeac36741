// The path functions that name every output of a run. Both separators, '/' and
// '\\', count, since the host's paths are Windows paths.
#pragma once

#include <string>

// The part after the last separator; the whole path when it holds none.
std::string fileNameOf(const std::string& path);
// The part before the last '.' anywhere in the text; the whole text without one.
std::string stemOf(const std::string& text);
// suffix inserted before the last '.', or appended when there is none.
std::string insertBeforeExtension(const std::string& path, const std::string& suffix);
