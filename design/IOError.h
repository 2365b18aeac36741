// The file-error exceptions of design input.
#pragma once

#include <stdexcept>
#include <string>

class IOError : public std::runtime_error {
public:
    explicit IOError(const std::string& message) : std::runtime_error(message) {}
};

class OpenFileError : public IOError {
public:
    explicit OpenFileError(const std::string& message) : IOError(message) {}
};
