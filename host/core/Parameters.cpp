#include "host/core/Parameters.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "plugin/HostKit.h"

namespace corvantis {

namespace {

bool onlyBlanksFrom(const char* text) {
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    return *text == '\0';
}

} // namespace

void Parameters::set(const std::string& name, const std::string& value) { values_[name] = value; }

const std::string* Parameters::find(const std::string& name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? nullptr : &found->second;
}

std::optional<int32_t> intParameterValue(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const char* start = text.c_str() + first;
    // strtoll would also take "0x1f"; only decimal digits after an optional sign count.
    const char* digits = (*start == '+' || *start == '-') ? start + 1 : start;
    if (*digits < '0' || *digits > '9') {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(start, &end, 10);
    if (errno == ERANGE || !onlyBlanksFrom(end) || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

int32_t parseIntParameter(const std::string& text) { return intParameterValue(text).value_or(0); }

std::optional<float> floatParameterValue(const std::string& text) {
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || !onlyBlanksFrom(end)) {
        return std::nullopt;
    }
    return value;
}

float parseFloatParameter(const std::string& text) { return floatParameterValue(text).value_or(0.0f); }

void copyToHostBuffer(const std::string& text, char* buffer) {
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(kHostTextBufferSize - 1));
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

} // namespace corvantis
