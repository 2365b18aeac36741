// Writes a design as an .sdm text that the plug-in's design reader reads back
// value for value.
#pragma once

#include <string>

#include "host/formats/AtomicFile.h"
#include "host/formats/DesignTable.h"

namespace corvantis {

// One value as it stands in a data row. The reader cuts a row into fields two
// characters in front of each decimal point, so every value is written with one
// character (a sign or a blank) and one digit before its point: scientific
// notation with nine significant digits, which every float survives through the
// reader's double conversion and narrowing.
std::string sdmValueText(float value);

std::string formatSdm(const DesignTable& design);

// Throws SaveError when the file cannot be written.
void writeSdmFile(const std::string& path, const DesignTable& design, Durability durability = Durability::Complete);

} // namespace corvantis
