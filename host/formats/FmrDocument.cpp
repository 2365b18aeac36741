#include "host/formats/FmrDocument.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <istream>
#include <limits>
#include <new>
#include <optional>
#include <streambuf>

#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"
#include "host/formats/SafeInput.h"

namespace corvantis {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kMaxInt32 = std::numeric_limits<int32_t>::max();

// The time courses come through an istream; this one reads the safely opened
// file straight into the caller's buffer.
class InputFileBuffer : public std::streambuf {
public:
    explicit InputFileBuffer(InputFile& file) : file_(file) {}

protected:
    std::streamsize xsgetn(char* bytes, std::streamsize count) override {
        std::streamsize done = 0;
        if (count > 0 && gptr() < egptr()) {
            *bytes = *gptr();
            gbump(1);
            done = 1;
        }
        return done + static_cast<std::streamsize>(file_.read(bytes + done, static_cast<std::size_t>(count - done)));
    }
    int_type underflow() override {
        if (file_.read(&one_, 1) == 0) return traits_type::eof();
        setg(&one_, &one_, &one_ + 1);
        return traits_type::to_int_type(one_);
    }

private:
    InputFile& file_;
    char one_ = 0;
};

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
    // A run without voxels or volumes gives the plug-in nothing to fit and every map no slice.
    if (voxels == 0 || layout.nrOfVolumes == 0) {
        throw DocumentError(inQuotes(source) + ": the run's extents are " + std::to_string(layout.dimX) + " x " +
                            std::to_string(layout.dimY) + " x " + std::to_string(layout.dimZ) + " with " +
                            std::to_string(layout.nrOfVolumes) + " volumes; each must be at least 1");
    }
    for (const char* key : {"TR", "VoxelSizeX", "VoxelSizeY", "VoxelSizeZ"}) {
        checkOptionalNumber(text, key, source);
    }
    return layout;
}

std::string typeName(int32_t dataType) { return dataType == kDataTypeInt16 ? "int16" : "float32"; }

TimeCourses readTimeCourses(const fs::path& stcPath, const RunLayout& layout) {
    const std::string shown = stcPath.string();
    const std::string noun = "the time-course file";
    InputFile file = InputFile::open(shown, noun);
    // Both counts are below 2^31, so their product and the byte count fit in 64 bits.
    const uint64_t values = static_cast<uint64_t>(layout.nrOfVolumes) * static_cast<uint64_t>(layout.voxels());
    const uint64_t expected = values * TimeCourses::valueSize(layout.dataType);
    checkSize(shown, noun, file.size(), expected, expected,
              std::to_string(layout.nrOfVolumes) + " volumes of " + std::to_string(layout.dimX) + " x " +
                  std::to_string(layout.dimY) + " x " + std::to_string(layout.dimZ) + " " + typeName(layout.dataType) +
                  " values take " + std::to_string(expected));
    std::optional<TimeCourses> timeCourses;
    try {
        timeCourses.emplace(layout.nrOfVolumes, layout.voxels(), layout.dataType);
    } catch (const std::bad_alloc&) {
        throw DocumentError(inQuotes(shown) + ": there is not enough memory for its " + std::to_string(expected) +
                            " bytes of time courses");
    }
    InputFileBuffer buffer(file);
    std::istream in(&buffer);
    timeCourses->readFrom(in);
    if (!in && expected > 0) {
        throw DocumentError("cannot read the time-course file " + inQuotes(shown));
    }
    return std::move(*timeCourses);
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
    FmrText text = FmrText::parse(readTextFile(path), path);
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

namespace {

RunLayout partsLayout(const std::string& path, const FmrText& text, const TimeCourses& timeCourses) {
    const RunLayout layout = layoutOf(text, path);
    if (timeCourses.volumes() != layout.nrOfVolumes || timeCourses.voxels() != layout.voxels() ||
        timeCourses.dataType() != layout.dataType) {
        throw DocumentError(inQuotes(path) + ": the time courses do not match the run's extents");
    }
    return layout;
}

} // namespace

FmrDocument FmrDocument::fromParts(const std::string& path, FmrText text, TimeCourses timeCourses) {
    const RunLayout layout = partsLayout(path, text, timeCourses);
    const std::string absolute = absolutePath(path);
    checkHeaderPath(absolute, path);
    return FmrDocument(absolute, std::move(text), layout, std::move(timeCourses));
}

FmrDocument FmrDocument::inFolder(const std::string& folder, const std::string& name, FmrText text,
                                  TimeCourses timeCourses) {
    if (name.empty() || fs::path(name).is_absolute()) {
        throw DocumentError(inQuotes(name) + ": a document in a folder carries a relative name");
    }
    const RunLayout layout = partsLayout(name, text, timeCourses);
    const std::string carried = fs::path(name).lexically_normal().string();
    checkHeaderPath(carried, name);
    FmrDocument document(carried, std::move(text), layout, std::move(timeCourses));
    document.folder_ = absolutePath(folder);
    return document;
}

std::string FmrDocument::location() const { return onDisk(path_); }

std::string FmrDocument::onDisk(const std::string& carried) const {
    if (folder_.empty() || fs::path(carried).is_absolute()) return carried;
    return (fs::path(folder_) / carried).lexically_normal().string();
}

std::string FmrDocument::carriedPath(const std::string& newPath) const {
    const std::string carried = folder_.empty() || fs::path(newPath).is_absolute()
                                    ? absolutePath(newPath)
                                    : fs::path(newPath).lexically_normal().string();
    if (carried.size() > kMaxHeaderPathLength) {
        throw SaveError("the path is longer than the FMR header's " + std::to_string(kMaxHeaderPathLength) + " bytes");
    }
    return carried;
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

std::string FmrDocument::savePath(const std::string& newPath, const std::string& stcName) const {
    if (!isBareFileName(stcName)) {
        throw SaveError("the time-course name " + inQuotes(stcName) + " is not a bare file name");
    }
    return onDisk(carriedPath(newPath));
}

void FmrDocument::saveAs(const std::string& newPath, const std::string& stcName, Durability durability) {
    const std::string absolute = savePath(newPath, stcName);
    const std::string carried = carriedPath(newPath);
    FmrText newText = text_;
    newText.set("STCFile", stcName + ".stc");
    const fs::path stcPath = fs::path(absolute).parent_path() / (stcName + ".stc");
    // Formatted before anything is written: a text that cannot be kept leaves no .stc.
    const std::string fmrText = newText.format();
    // The time courses first: a saved .fmr never names a file that is not there yet.
    writeFileAtomically(
        stcPath, [this](std::ostream& out) { timeCourses_.writeTo(out); }, durability);
    writeFileAtomically(
        absolute, [&fmrText](std::ostream& out) { out << fmrText; }, durability);
    text_ = std::move(newText);
    path_ = carried;
}

void FmrDocument::takeSavedName(const std::string& newPath, const std::string& stcName) {
    const std::string carried = carriedPath(newPath);
    (void)savePath(newPath, stcName);
    text_.set("STCFile", stcName + ".stc");
    path_ = carried;
}

} // namespace corvantis
