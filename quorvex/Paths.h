// The path functions that name every output of a run. Both separators, '/' and
// '\\', count, since the host's paths are Windows paths.
#pragma once

#include <string>

// The part after the last separator; the whole path when it holds none.
std::string fileNameOf(const std::string& path);
// The part before the extension: the last '.' after the last separator. A '.'
// in a folder name starts no extension; the whole text when there is none.
std::string stemOf(const std::string& text);
// suffix inserted before the extension (as stemOf finds it), or appended when there is none.
std::string insertBeforeExtension(const std::string& path, const std::string& suffix);
