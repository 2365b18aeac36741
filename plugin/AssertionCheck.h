// The assertion check: a false condition throws std::logic_error with the text
// "assertion failure (" + file + ":" + line + "): " + condition.
#pragma once

namespace cvts {

void assertionCheck(bool condition, const char* sourceFile, int line, const char* conditionText);

} // namespace cvts
