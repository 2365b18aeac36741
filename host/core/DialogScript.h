// The parameter defaults of the plug-in's dialog script: its lines of the form
//     param("name", "default");
// (blanks around the tokens allowed; \" \\ \n \t inside the texts). Every other
// line of the script is the dialog's own business and is skipped, but for the
// tasks it hands the plug-in: its calls setStringParameter("task", "name").
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace corvantis {

using ParameterDefault = std::pair<std::string, std::string>;

std::vector<ParameterDefault> parseDialogDefaults(const std::string& script);

// The tasks the dialog offers, each once, in the order the script names them.
std::vector<std::string> parseDialogTasks(const std::string& script);

} // namespace corvantis
