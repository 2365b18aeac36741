// A task's events as BIDS lists them: a tab-separated table with a header row,
// one row per event, the columns onset and duration (seconds from the start of
// the run's first volume) and usually trial_type (the condition). Other columns
// may hold anything, "n/a" included; they are not read.
#pragma once

#include <string>
#include <vector>

namespace corvantis {

struct TaskEvent {
    double onset = 0.0;    // seconds
    double duration = 0.0; // seconds, >= 0
    std::string condition; // trial_type, or "events" when the table has no such column
};

struct EventsTable {
    std::string path;
    std::vector<TaskEvent> events; // in the table's order

    // The conditions, sorted by name, each once.
    std::vector<std::string> conditions() const;
};

// Throws DocumentError naming the file, the row and the column: a missing onset
// or duration column, a value that is not a finite number (a duration below
// zero), an empty or "n/a" trial_type, a row with the wrong number of fields.
EventsTable readEventsTable(const std::string& path);
EventsTable parseEventsTable(const std::string& text, const std::string& path);

} // namespace corvantis
