// The .fmr text parser on arbitrary bytes: a DocumentError, or entries that
// format and parse back to themselves (a saved document loses nothing).
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "host/formats/FmrText.h"
#include "host/formats/HostErrors.h"

namespace {

bool sameEntries(const corvantis::FmrText& a, const corvantis::FmrText& b) {
    if (a.entries().size() != b.entries().size()) return false;
    for (std::size_t i = 0; i < a.entries().size(); ++i) {
        if (a.entries()[i].key != b.entries()[i].key || a.entries()[i].value != b.entries()[i].value) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    corvantis::FmrText parsed;
    try {
        parsed = corvantis::FmrText::parse(text, "fuzz.fmr");
    } catch (const corvantis::DocumentError&) {
        return 0;
    }
    try {
        if (!sameEntries(corvantis::FmrText::parse(parsed.format(), "again.fmr"), parsed)) {
            fuzzing::broken("formatting and parsing again changed the entries");
        }
    } catch (const corvantis::DocumentError& error) {
        fuzzing::broken(std::string("the formatted text does not parse: ") + error.what());
    }
    return 0;
}
