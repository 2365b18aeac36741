#include "host/core/Trace.h"

#include <cstdio>
#include <utility>

#include "host/formats/HostErrors.h"

namespace corvantis {

Trace::Trace(const std::string& path, Durability durability) : file_(std::make_unique<AtomicFile>(path, durability)) {}

Trace::~Trace() {
    if (file_ && failure_.empty()) {
        try {
            file_->commit();
        } catch (const SaveError&) {
            // Unwinding from another error, which is the one reported.
        }
    }
}

void Trace::write(const std::string& line) {
    if (!file_ || !failure_.empty()) {
        return;
    }
    // Binary, the same bytes on every platform; written at once, so a plug-in
    // that crashes the host still leaves its calls in the temporary file.
    const std::string bytes = line + '\n';
    try {
        file_->write(bytes.data(), bytes.size());
    } catch (const SaveError& error) {
        failure_ = error.what();
    }
}

void Trace::finish() {
    if (!file_) {
        return;
    }
    const std::unique_ptr<AtomicFile> file = std::move(file_);
    if (!failure_.empty()) {
        throw SaveError("the trace is incomplete: " + failure_);
    }
    file->commit();
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
