// What each parameter of the dialog holds, told by the default its dialog script
// declares: "0" or "1" marks an integer switch, any other finite number a
// number, anything else (the empty text too) text. Values given on the command
// line are checked against it, so a mistyped name or value is refused instead
// of silently reading as 0.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/core/DialogScript.h"

namespace corvantis {

enum class ParameterKind { integer, number, text };

ParameterKind kindOfDefault(const std::string& declaredDefault);

// "an integer", "a finite number", "any text".
std::string kindDescription(ParameterKind kind);

// Whether value reads completely as kind: an integer as cvGetIntParameter reads
// it, a number as cvGetFloatParameter does and finite; any text is text.
bool isValueOf(ParameterKind kind, const std::string& value);

// What is wrong with setting name to value when the dialog declares these
// parameters: an undeclared name (with the declared ones listed) or a value not
// of its kind; nothing when the setting is sound.
std::optional<std::string> settingProblem(const std::vector<ParameterDefault>& declared, const std::string& name,
                                          const std::string& value);

} // namespace corvantis
