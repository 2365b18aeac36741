// The host's own failures. Each becomes one line on stderr that starts with
// "Corvantis:"; none of them ever reaches the plug-in as an exception.
#pragma once

#include <stdexcept>
#include <string>

namespace corvantis {

// A document the host refuses to open: the run ends with exit status 1.
class DocumentError : public std::runtime_error {
public:
    explicit DocumentError(const std::string& message) : std::runtime_error(message) {}
};

// A save the host could not carry out: a warning, and the service answers false.
class SaveError : public std::runtime_error {
public:
    explicit SaveError(const std::string& message) : std::runtime_error(message) {}
};

// Quotes a path or value inside a message.
inline std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

} // namespace corvantis
