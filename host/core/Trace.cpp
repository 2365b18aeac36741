#include "host/core/Trace.h"

#include <cstdio>
#include <stdexcept>

#include "host/formats/HostErrors.h"

namespace corvantis {

// Binary: the same bytes on every platform.
Trace::Trace(const std::string& path)
    : file_(std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc)) {
    if (!*file_) {
        throw std::runtime_error("cannot create the trace file " + inQuotes(path));
    }
}

void Trace::write(const std::string& line) {
    if (file_) {
        // Flushed at once: a plug-in that crashes the host still leaves its calls.
        *file_ << line << '\n' << std::flush;
    }
}

std::string quoted(const char* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string result = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '"': result += "\\\""; break;
        case '\\': result += "\\\\"; break;
        case '\n': result += "\\n"; break;
        case '\r': result += "\\r"; break;
        case '\t': result += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                result += escaped;
            } else {
                result += static_cast<char>(c);
            }
        }
    }
    return result + "\"";
}

std::string formatFloat(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

} // namespace corvantis
