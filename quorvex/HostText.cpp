#include "quorvex/HostText.h"

#include "plugin/HostCalls.h"

std::string textOfBuffer(char (&buffer)[kHostTextBufferSize]) {
    buffer[kHostTextBufferSize - 1] = '\0';
    return std::string(buffer);
}

std::string stringParameter(const char* name) {
    char buffer[kHostTextBufferSize] = {};
    host::cvGetStringParameter(name, buffer);
    return textOfBuffer(buffer);
}
