// The voxel statistics of a float64 least-squares fit, computed by Householder
// QR in double on the float data: the yardstick for the plug-in's fits.
#pragma once

#include <cstdint>

#include "linalg/Matrix.h"
#include "linalg/Vector.h"

namespace lsref {

struct ModelReference {
    double sse;
    double tSNR;
    double r2adj;
};

struct VoxelReference {
    ModelReference model[2];
    double F;
};

struct ReferenceModel {
    Matrix X; // full column rank
    Vector confoundSelector;
    int32_t p; // the column count the statistics use
};

VoxelReference referenceStatistics(const Vector& y, const ReferenceModel (&models)[2]);

} // namespace lsref
