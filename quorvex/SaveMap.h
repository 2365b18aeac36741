// Hands one result volume to the host as a new map of the current run and saves it.
#pragma once

#include <cstdint>
#include <string>

#include "linalg/Volume.h"

// Fails with the assertion errors of lines 169-172 when the host gives no slices
// or a map whose extents differ from the volume's; the map then stays created
// but unfilled and unsaved. A df of 0 leaves the host's value in the header.
void saveMap(const Volume& volume, int32_t mapType, float lowerThreshold, float upperThreshold, int32_t df1,
             int32_t df2, const std::string& fileName);
