// The strategy grammar on arbitrary text: a StrategyError, or a strategy whose
// expanded text reads back as the same strategy.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "host/research/ConfoundStrategy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    corvantis::ConfoundStrategy strategy;
    try {
        strategy = corvantis::parseConfoundStrategy(text);
    } catch (const corvantis::StrategyError&) {
        return 0;
    }
    const std::string expanded = strategy.expanded();
    try {
        const corvantis::ConfoundStrategy again = corvantis::parseConfoundStrategy(expanded);
        if (again.expanded() != expanded) {
            fuzzing::broken("the expanded strategy \"" + expanded + "\" reads back as \"" + again.expanded() + "\"");
        }
    } catch (const corvantis::StrategyError& error) {
        fuzzing::broken("the expanded strategy \"" + expanded + "\" is refused: " + error.what());
    }
    return 0;
}
