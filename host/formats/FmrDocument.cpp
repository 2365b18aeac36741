#include "host/formats/FmrDocument.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kMaxInt32 = std::numeric_limits<int32_t>::max();

std::string readWholeFile(const std::string& path) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw DocumentError("cannot open " + inQuotes(path) + ": " + std::strerror(errno));
    }
    // A device or pipe such as /dev/zero never ends: reading it whole would hang and grow without bound.
    std::error_code statusError;
    if (!fs::is_regular_file(path, statusError)) {
        throw DocumentError("cannot open " + inQuotes(path) + ": not a regular file");
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string& required(const FmrText& text, const std::string& key, const std::string& source) {
    const std::string* value = text.find(key);
    if (value == nullptr) {
        throw DocumentError(inQuotes(source) + ": the required key " + inQuotes(key) + " is missing");
    }
    return *value;
}

// A whole decimal number from 0 to 2147483647; anything else is refused.
int32_t count(const FmrText& text, const std::string& key, const std::string& source) {
    const std::string& value = required(text, key, source);
    bool valid = !value.empty() && value.size() <= 10;
    for (char c : value) {
        valid = valid && c >= '0' && c <= '9';
    }
    const long long number = valid ? std::strtoll(value.c_str(), nullptr, 10) : -1;
    if (!valid || number > kMaxInt32) {
        throw DocumentError(inQuotes(source) + ": " + key + " must be a whole number from 0 to 2147483647, not " +
                            inQuotes(value));
    }
    return static_cast<int32_t>(number);
}

void checkOptionalNumber(const FmrText& text, const std::string& key, const std::string& source) {
    const std::string* value = text.find(key);
    if (value == nullptr) {
        return;
    }
    char* end = nullptr;
    std::strtod(value->c_str(), &end);
    if (value->empty() || *end != '\0') {
        throw DocumentError(inQuotes(source) + ": " + key + " must be a number, not " + inQuotes(*value));
    }
}

RunLayout layoutOf(const FmrText& text, const std::string& source) {
    RunLayout layout;
    layout.nrOfVolumes = count(text, "NrOfVolumes", source);
    layout.dimX = count(text, "DimX", source);
    layout.dimY = count(text, "DimY", source);
    layout.dimZ = count(text, "DimZ", source);
    const std::string& dataType = required(text, "DataType", source);
    if (dataType != "1" && dataType != "2") {
        throw DocumentError(inQuotes(source) + ": DataType must be 1 (int16) or 2 (float32), not " +
                            inQuotes(dataType));
    }
    layout.dataType = dataType == "1" ? kDataTypeInt16 : kDataTypeFloat32;
    // The plug-in counts voxels in 32 bits.
    const long long voxels = static_cast<long long>(layout.dimX) * layout.dimY * layout.dimZ;
    if (voxels > kMaxInt32) {
        throw DocumentError(inQuotes(source) + ": DimX x DimY x DimZ is " + std::to_string(voxels) +
                            " voxels; a run holds at most 2147483647");
    }
    for (const char* key : {"TR", "VoxelSizeX", "VoxelSizeY", "VoxelSizeZ"}) {
        checkOptionalNumber(text, key, source);
    }
    return layout;
}

std::string typeName(int32_t dataType) { return dataType == kDataTypeInt16 ? "int16" : "float32"; }

TimeCourses readTimeCourses(const fs::path& stcPath, const RunLayout& layout) {
    const std::string shown = stcPath.string();
    errno = 0;
    std::ifstream in(stcPath, std::ios::binary);
    std::error_code sizeError;
    const uintmax_t bytes = fs::file_size(stcPath, sizeError);
    if (!in || sizeError) {
        throw DocumentError("cannot open the time-course file " + inQuotes(shown) + ": " +
                            (sizeError ? sizeError.message() : std::string(std::strerror(errno))));
    }
    // Both counts are below 2^31, so their product and the byte count fit in 64 bits.
    const uintmax_t values = static_cast<uintmax_t>(layout.nrOfVolumes) * static_cast<uintmax_t>(layout.voxels());
    const uintmax_t expected = values * TimeCourses::valueSize(layout.dataType);
    if (bytes != expected) {
        throw DocumentError(inQuotes(shown) + ": the time-course file holds " + std::to_string(bytes) +
                            " bytes; " + std::to_string(layout.nrOfVolumes) + " volumes of " +
                            std::to_string(layout.dimX) + " x " + std::to_string(layout.dimY) + " x " +
                            std::to_string(layout.dimZ) + " " + typeName(layout.dataType) + " values take " +
                            std::to_string(expected));
    }
    TimeCourses timeCourses(layout.nrOfVolumes, layout.voxels(), layout.dataType);
    timeCourses.readFrom(in);
    if (!in && expected > 0) {
        throw DocumentError("cannot read the time-course file " + inQuotes(shown));
    }
    return timeCourses;
}

std::string absolutePath(const std::string& path) { return fs::absolute(fs::path(path)).lexically_normal().string(); }

void checkHeaderPath(const std::string& absolute, const std::string& shown) {
    if (absolute.size() > kMaxHeaderPathLength) {
        throw DocumentError(inQuotes(shown) + ": its absolute path has " + std::to_string(absolute.size()) +
                            " bytes; the FMR header holds at most " + std::to_string(kMaxHeaderPathLength));
    }
}

bool isBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

} // namespace

FmrDocument::FmrDocument(std::string path, FmrText text, RunLayout layout, TimeCourses timeCourses)
    : path_(std::move(path)), text_(std::move(text)), layout_(layout), timeCourses_(std::move(timeCourses)) {}

FmrDocument FmrDocument::open(const std::string& path) {
    FmrText text = FmrText::parse(readWholeFile(path), path);
    const RunLayout layout = layoutOf(text, path);
    const std::string& stcFile = required(text, "STCFile", path);
    if (stcFile.empty()) {
        throw DocumentError(inQuotes(path) + ": STCFile names no time-course file");
    }
    const std::string absolute = absolutePath(path);
    checkHeaderPath(absolute, path);
    TimeCourses timeCourses = readTimeCourses(fs::path(absolute).parent_path() / stcFile, layout);
    return FmrDocument(absolute, std::move(text), layout, std::move(timeCourses));
}

FmrDocument FmrDocument::fromParts(const std::string& path, FmrText text, TimeCourses timeCourses) {
    const RunLayout layout = layoutOf(text, path);
    if (timeCourses.volumes() != layout.nrOfVolumes || timeCourses.voxels() != layout.voxels() ||
        timeCourses.dataType() != layout.dataType) {
        throw DocumentError(inQuotes(path) + ": the time courses do not match the run's extents");
    }
    const std::string absolute = absolutePath(path);
    checkHeaderPath(absolute, path);
    return FmrDocument(absolute, std::move(text), layout, std::move(timeCourses));
}

FMRHeader FmrDocument::header() const {
    FMRHeader header;
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.FileName, path_.c_str(), path_.size() + 1);
    header.NrOfVolumes = layout_.nrOfVolumes;
    header.DimX = layout_.dimX;
    header.DimY = layout_.dimY;
    header.DimZ = layout_.dimZ;
    header.DataType = layout_.dataType;
    return header;
}

void FmrDocument::saveAs(const std::string& newPath, const std::string& stcName) {
    if (!isBareFileName(stcName)) {
        throw SaveError("the time-course name " + inQuotes(stcName) + " is not a bare file name");
    }
    const std::string absolute = absolutePath(newPath);
    if (absolute.size() > kMaxHeaderPathLength) {
        throw SaveError("the path is longer than the FMR header's " + std::to_string(kMaxHeaderPathLength) +
                        " bytes");
    }
    FmrText newText = text_;
    newText.set("STCFile", stcName + ".stc");
    const fs::path stcPath = fs::path(absolute).parent_path() / (stcName + ".stc");
    // The time courses first: a saved .fmr never names a file that is not there yet.
    writeFileAtomically(stcPath, [this](std::ostream& out) { timeCourses_.writeTo(out); });
    const std::string fmrText = newText.format();
    writeFileAtomically(absolute, [&fmrText](std::ostream& out) { out << fmrText; });
    text_ = std::move(newText);
    path_ = absolute;
}

} // namespace corvantis
