#include "host/formats/NiftiMap.h"

#include <cstdlib>
#include <cstring>

#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"

namespace corvantis {

namespace {

int32_t mapTypeOf(const nifti_image& image) {
    if (image.intent_code == NIFTI_INTENT_FTEST) return kMapTypeF;
    const std::size_t prefix = sizeof kNiftiMapDescription - 1;
    const char* text = image.descrip;
    if (std::strncmp(text, kNiftiMapDescription, prefix) != 0) return 0;
    char* end = nullptr;
    const long type = std::strtol(text + prefix, &end, 10);
    return end != text + prefix && *end == '\0' && type >= 0 && type <= 1000 ? static_cast<int32_t>(type) : 0;
}

// A count stored as a float; 0 for anything that is not one.
int32_t degreesOfFreedom(float value) {
    return value >= 0.0f && value <= 2147483520.0f ? static_cast<int32_t>(value) : 0;
}

void checkMapHeader(const nifti_image& image, const std::string& path) {
    for (int i = 4; i <= image.dim[0]; ++i) {
        if (image.dim[i] > 1) {
            throw DocumentError(inQuotes(path) + ": its dim[" + std::to_string(i) + "] is " +
                                std::to_string(image.dim[i]) + "; a map is one 3D image");
        }
    }
    if (image.nvox > kMaxMapVoxels) {
        throw DocumentError(inQuotes(path) + ": its " + std::to_string(image.nvox) + " voxels are more than the " +
                            std::to_string(kMaxMapVoxels) + " a map holds");
    }
    if (!isRealDataType(image.datatype)) {
        throw DocumentError(inQuotes(path) + " holds " + nifti_datatype_string(image.datatype) +
                            " values; a map holds real numbers");
    }
}

} // namespace

MapContents readNiftiMap(const std::string& path) {
    const NiftiImagePtr image = readNiftiImage(path, false);
    checkMapHeader(*image, path);
    MapContents map;
    std::memset(&map.header, 0, sizeof map.header);
    map.header.DimX = image->nx;
    map.header.DimY = image->ny;
    map.header.DimZ = image->nz;
    map.header.MapType = mapTypeOf(*image);
    map.header.LowerThreshold = image->cal_min;
    map.header.UpperThreshold = image->cal_max;
    if (image->intent_code == NIFTI_INTENT_FTEST) {
        map.header.DF1 = degreesOfFreedom(image->intent_p1);
        map.header.DF2 = degreesOfFreedom(image->intent_p2);
    }
    checkClaimedValues(path, 1);
    map.values.resize(image->nvox);
    readScaledValues(path, *image, map.values.data(), 1);
    return map;
}

} // namespace corvantis
