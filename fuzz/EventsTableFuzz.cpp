// The events table reader on arbitrary bytes: a DocumentError, or events with
// finite onsets, durations not below zero and named conditions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzScratch.h"
#include "host/formats/EventsTable.h"
#include "host/formats/HostErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    corvantis::EventsTable table;
    try {
        table = corvantis::parseEventsTable(text, "fuzz.tsv");
    } catch (const corvantis::DocumentError&) {
        return 0;
    }
    if (table.events.empty()) fuzzing::broken("a table without events was accepted");
    for (const corvantis::TaskEvent& event : table.events) {
        if (!std::isfinite(event.onset) || !std::isfinite(event.duration) || event.duration < 0.0) {
            fuzzing::broken("an event's onset or duration is not a finite time");
        }
        if (event.condition.empty() || event.condition == "n/a") fuzzing::broken("an event has no condition");
    }
    return 0;
}
