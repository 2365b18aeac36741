// The JSON record written beside every design (FILE.sdm gives FILE.json): what
// went in (tables, sidecar, events, TR, volumes, the strategy as given and
// expanded) and every column in order with its source, transformation, fill and
// standardization, so that an analysis can be reproduced.
#pragma once

#include <string>

#include "host/formats/AtomicFile.h"
#include "host/research/StrategyDesign.h"

namespace corvantis {

// FILE.sdm gives FILE.json; another name gets ".json" appended.
std::string designRecordPath(const std::string& sdmPath);

// The record as JSON text (two-space indent, keys in a fixed order).
std::string designRecordJson(const BuiltDesign& design, const DesignInputs& inputs);

// Written atomically. Throws SaveError. Builds without a JSON writer (see
// QUORVEX_HOST_JSON) throw SaveError saying so.
void writeDesignRecord(const std::string& path, const BuiltDesign& design, const DesignInputs& inputs,
                       Durability durability = Durability::Complete);

// True in builds that read and write JSON.
bool designRecordsSupported();

} // namespace corvantis
