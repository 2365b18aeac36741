// The call trace: one line per service call, in call order, written as the call
// returns so that its result can be shown. Off unless a file is given.
#pragma once

#include <fstream>
#include <memory>
#include <string>

namespace corvantis {

class Trace {
public:
    Trace() = default;
    // Throws std::runtime_error when the file cannot be created.
    explicit Trace(const std::string& path);

    void write(const std::string& line);

private:
    std::unique_ptr<std::ofstream> file_;
};

// A text as it appears in the trace: in double quotes, with \" \\ \n \r \t and
// \xHH for the other control bytes; (null) for a null pointer.
std::string quoted(const char* text);

// A float with enough digits to be read back to the same value.
std::string formatFloat(float value);

} // namespace corvantis
