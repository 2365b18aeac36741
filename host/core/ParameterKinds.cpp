#include "host/core/ParameterKinds.h"

#include <cmath>

#include "host/core/Parameters.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

bool isFiniteNumber(const std::string& text) {
    const std::optional<float> value = floatParameterValue(text);
    return value && std::isfinite(*value);
}

std::string declaredNames(const std::vector<ParameterDefault>& declared) {
    if (declared.empty()) {
        return "it declares none";
    }
    std::string names = "it declares ";
    for (std::size_t k = 0; k < declared.size(); ++k) {
        names += (k == 0 ? "" : ", ") + declared[k].first;
    }
    return names;
}

} // namespace

ParameterKind kindOfDefault(const std::string& declaredDefault) {
    if (declaredDefault == "0" || declaredDefault == "1") {
        return ParameterKind::integer;
    }
    return isFiniteNumber(declaredDefault) ? ParameterKind::number : ParameterKind::text;
}

std::string kindDescription(ParameterKind kind) {
    switch (kind) {
    case ParameterKind::integer: return "an integer";
    case ParameterKind::number: return "a finite number";
    case ParameterKind::text: break;
    }
    return "any text";
}

bool isValueOf(ParameterKind kind, const std::string& value) {
    switch (kind) {
    case ParameterKind::integer: return intParameterValue(value).has_value();
    case ParameterKind::number: return isFiniteNumber(value);
    case ParameterKind::text: break;
    }
    return true;
}

std::optional<std::string> settingProblem(const std::vector<ParameterDefault>& declared, const std::string& name,
                                          const std::string& value) {
    // The last declaration of a name is the one in force, as when the defaults are set.
    const ParameterDefault* found = nullptr;
    for (const ParameterDefault& entry : declared) {
        if (entry.first == name) found = &entry;
    }
    if (found == nullptr) {
        return "the dialog script declares no parameter " + inQuotes(name) + "; " + declaredNames(declared);
    }
    const ParameterKind kind = kindOfDefault(found->second);
    if (!isValueOf(kind, value)) {
        return name + " takes " + kindDescription(kind) + " (its default is " + inQuotes(found->second) + "), not " +
               inQuotes(value);
    }
    return std::nullopt;
}

} // namespace corvantis
