// Reads an .sdm design-matrix text file.
#pragma once

#include <string>

#include "design/SDMFile.h"

// Throws OpenFileError ("Failed opening for reading: " + path), IOError (a header
// that never reaches "FirstConfoundPredictor:", or counts no design can have),
// std::invalid_argument ("invalid stof argument") and std::out_of_range
// ("stof argument out of range"). Never returns a partial record.
SDMFile readSDMFile(std::string path);
