#include "quorvex/SaveMap.h"

#include <cstring>

#include "plugin/AssertionCheck.h"
#include "plugin/HostCalls.h"

namespace {

void copyIntoSlices(const Volume& volume, float** slices, const MapHeader& header) {
    for (int32_t z = 0; z < header.DimZ; ++z) {
        for (int32_t y = 0; y < header.DimY; ++y) {
            for (int32_t x = 0; x < header.DimX; ++x) {
                slices[z][y * header.DimX + x] = volume[(z * header.DimY + y) * header.DimX + x];
            }
        }
    }
}

} // namespace

void saveMap(const Volume& volume, int32_t mapType, float lowerThreshold, float upperThreshold, int32_t df1,
             int32_t df2, const std::string& fileName) {
    host::cvCreateMAPForCurrentFMR();
    MapHeader header;
    std::memset(&header, 0, sizeof header);
    float** slices = host::cvGetMAPOfCurrentFMR(&header);
    const VolumeSize& dim = volume.dim();
    cvts::assertionCheck(slices != nullptr, "quorvex", 169, "slices != nullptr");
    cvts::assertionCheck(dim.z == header.DimZ, "quorvex", 170, "dim.z == header.DimZ");
    cvts::assertionCheck(dim.y == header.DimY, "quorvex", 171, "dim.y == header.DimY");
    cvts::assertionCheck(dim.x == header.DimX, "quorvex", 172, "dim.x == header.DimX");
    copyIntoSlices(volume, slices, header);
    header.MapType = mapType;
    header.LowerThreshold = lowerThreshold;
    header.UpperThreshold = upperThreshold;
    header.field28 = 0;
    if (df1 != 0) {
        header.DF1 = df1;
    }
    if (df2 != 0) {
        header.DF2 = df2;
    }
    host::cvSetMAPParametersOfCurrentFMR(&header);
    host::cvSaveMAPsOfCurrentFMR(fileName.c_str());
}
