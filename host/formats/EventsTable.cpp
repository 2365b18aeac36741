#include "host/formats/EventsTable.h"

#include <algorithm>
#include <sstream>

#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"
#include "host/formats/TabSeparated.h"

namespace corvantis {

namespace {

constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

std::size_t columnIndex(const std::vector<std::string>& names, const std::string& name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? kAbsent : static_cast<std::size_t>(found - names.begin());
}

double secondsOf(const std::string& field, const std::string& where) {
    const std::optional<double> value = finiteNumber(trimmedField(field));
    if (!value) {
        throw DocumentError(where + " holds " + inQuotes(field) + ", not a finite number of seconds");
    }
    return *value;
}

} // namespace

std::vector<std::string> EventsTable::conditions() const {
    std::vector<std::string> names;
    for (const TaskEvent& event : events) names.push_back(event.condition);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

EventsTable parseEventsTable(const std::string& text, const std::string& path) {
    std::istringstream in(text.substr(byteOrderMarkLength(text)));
    std::string line;
    if (!std::getline(in, line)) {
        throw DocumentError(inQuotes(path) + ": the events table is empty; its first row must name the columns");
    }
    std::vector<std::string> names;
    for (const std::string& name : tabFields(line)) names.push_back(trimmedField(name));
    const std::size_t onset = columnIndex(names, "onset");
    const std::size_t duration = columnIndex(names, "duration");
    const std::size_t trialType = columnIndex(names, "trial_type");
    if (onset == kAbsent || duration == kAbsent) {
        throw DocumentError(
            inQuotes(path) +
            ": an events table names the columns \"onset\" and \"duration\" (seconds) in its first row");
    }
    EventsTable table;
    table.path = path;
    for (std::size_t row = 0; std::getline(in, line);) {
        if (line.empty() || line == "\r") continue;
        ++row;
        const std::vector<std::string> fields = tabFields(line);
        const std::string rowName = inQuotes(path) + ": row " + std::to_string(row);
        if (fields.size() != names.size()) {
            throw DocumentError(rowName + " has " + std::to_string(fields.size()) + " fields; the header names " +
                                std::to_string(names.size()) + " columns");
        }
        TaskEvent event;
        event.onset = secondsOf(fields[onset], rowName + ", column \"onset\"");
        event.duration = secondsOf(fields[duration], rowName + ", column \"duration\"");
        if (event.duration < 0.0) {
            throw DocumentError(rowName + ", column \"duration\" holds " + inQuotes(fields[duration]) +
                                "; a duration is not negative");
        }
        event.condition = trialType == kAbsent ? "events" : trimmedField(fields[trialType]);
        if (event.condition.empty() || event.condition == "n/a") {
            throw DocumentError(rowName + ", column \"trial_type\" holds " + inQuotes(fields[trialType]) +
                                ", not the name of a condition");
        }
        table.events.push_back(event);
    }
    if (table.events.empty()) {
        throw DocumentError(inQuotes(path) + " lists no events below its header");
    }
    return table;
}

EventsTable readEventsTable(const std::string& path) {
    return parseEventsTable(readTextFile(path, "the events table"), path);
}

} // namespace corvantis
