#include "plugin/AssertionCheck.h"

#include <sstream>
#include <stdexcept>

namespace cvts {

void assertionCheck(bool condition, const char* sourceFile, int line, const char* conditionText) {
    if (condition) {
        return;
    }
    std::ostringstream text;
    text << "assertion failure (" << sourceFile << ":" << line << "): " << conditionText;
    throw std::logic_error(text.str());
}

} // namespace cvts
