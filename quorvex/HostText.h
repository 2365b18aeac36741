// Texts that come from the host through 512-byte buffers.
#pragma once

#include <string>

#include "plugin/HostKit.h"

// The buffer's text, cut at byte 511 when the host left it unterminated.
std::string textOfBuffer(char (&buffer)[kHostTextBufferSize]);

// The named string parameter, read into a fresh buffer.
std::string stringParameter(const char* name);
