// Glob patterns of column names, as shells match file names: "*" any text,
// "?" one character, "[abc]", "[a-z]" and "[!abc]" one character of a set or
// not of it; every other character stands for itself.
#pragma once

#include <string>

namespace corvantis {

// True when text contains "*", "?" or "[": it is meant as a pattern.
bool isGlobPattern(const std::string& text);

// The whole of name matches the whole of pattern. An unclosed "[" stands for itself.
bool globMatches(const std::string& pattern, const std::string& name);

} // namespace corvantis
