// The checks a run's header must pass before the voxel loop may address its
// data: at least one volume, no negative extent, a voxel count within 32 bits.
#pragma once

#include "plugin/HostKit.h"

// Throws std::runtime_error saying what is wrong.
void checkRunGeometry(const FMRHeader& header);
