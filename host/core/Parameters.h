// The plug-in's parameters as the host keeps them: texts by name, shared with
// the dialog script, read back as text, integer or float.
#pragma once

#include <cstdint>
#include <map>
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

// A decimal integer, blanks around it allowed; 0 when it is not one or does not
// fit in 32 bits.
int32_t parseIntParameter(const std::string& text);

// A float as strtof reads it, blanks around it allowed; 0.0 when it is not one.
float parseFloatParameter(const std::string& text);

// Copies at most 511 bytes of text plus a NUL into a host text buffer of 512.
void copyToHostBuffer(const std::string& text, char* buffer);

} // namespace corvantis
