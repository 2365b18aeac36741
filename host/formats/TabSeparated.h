// The lines of tab-separated tables: fields cut at every tab, a line's
// carriage return dropped, blanks around a field trimmed, numbers read the same
// whatever the locale.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvantis {

std::vector<std::string> tabFields(std::string line);

// Without leading and trailing blanks.
std::string trimmedField(const std::string& text);

// A finite decimal number ("+" allowed); nullopt for anything else.
std::optional<double> finiteNumber(const std::string& text);

} // namespace corvantis
