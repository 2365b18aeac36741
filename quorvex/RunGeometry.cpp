#include "quorvex/RunGeometry.h"

#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

void checkRunGeometry(const FMRHeader& h) {
    if (h.NrOfVolumes < 1) {
        throw std::runtime_error("The FMR has no volumes (NrOfVolumes " + std::to_string(h.NrOfVolumes) + ")");
    }
    std::ostringstream size;
    size << h.DimX << " x " << h.DimY << " x " << h.DimZ;
    if (h.DimX < 0 || h.DimY < 0 || h.DimZ < 0) {
        throw std::runtime_error("The FMR's dimensions " + size.str() + " are invalid");
    }
    const long long voxels = static_cast<long long>(h.DimX) * h.DimY * h.DimZ;
    if (voxels > std::numeric_limits<int32_t>::max()) {
        throw std::runtime_error("The FMR's " + size.str() + " voxels are more than a run can hold");
    }
}
