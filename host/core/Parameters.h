// The plug-in's parameters as the host keeps them: texts by name, shared with
// the dialog script, read back as text, integer or float.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace corvantis {

class Parameters {
public:
    void set(const std::string& name, const std::string& value);
    // Null when the parameter was never set.
    const std::string* find(const std::string& name) const;

private:
    std::map<std::string, std::string> values_;
};

// A decimal integer, blanks around it allowed; nothing when it is not one or
// does not fit in 32 bits.
std::optional<int32_t> intParameterValue(const std::string& text);
// The same, 0 for nothing: what cvGetIntParameter answers.
int32_t parseIntParameter(const std::string& text);

// A float as strtof reads it, blanks around it allowed (so "inf" and "nan" too);
// nothing when it is not one.
std::optional<float> floatParameterValue(const std::string& text);
// The same, 0.0 for nothing: what cvGetFloatParameter answers.
float parseFloatParameter(const std::string& text);

// Copies at most 511 bytes of text plus a NUL into a host text buffer of 512.
void copyToHostBuffer(const std::string& text, char* buffer);

} // namespace corvantis
