#include "host/formats/NiftiWriter.h"

#include <cstring>
#include <new>
#include <optional>

#include "host/formats/AtomicFile.h"
#include "host/formats/Gzip.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

constexpr std::size_t kHeaderSize = 348;
// The header, then four zero bytes that say no extensions follow.
constexpr std::size_t kDataOffset = kHeaderSize + 4;
static_assert(sizeof(nifti_1_header) == kHeaderSize, "the NIfTI-1 header is 348 bytes");

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::size_t dataSize(const nifti_image& image) { return image.nvox * static_cast<std::size_t>(image.nbyper); }

nifti_1_header singleFileHeader(const nifti_image& image) {
    // A shallow copy: only its plain fields change, and niftilib only reads it.
    nifti_image single = image;
    single.nifti_type = NIFTI_FTYPE_NIFTI1_1;
    single.iname_offset = static_cast<int>(kDataOffset);
    nifti_1_header header = nifti_convert_nim2nhdr(&single);
    header.vox_offset = static_cast<float>(kDataOffset);
    std::memcpy(header.magic, "n+1", 4);
    return header;
}

void checkWritable(const nifti_image& header, const void* values, const std::string& path) {
    const char* problem = values == nullptr                         ? "the NIfTI image has no values to write"
                          : header.num_ext > 0                      ? "NIfTI extensions are not written"
                          : header.byteorder != nifti_short_order() ? "the NIfTI image is in the other byte order"
                                                                    : nullptr;
    if (problem != nullptr) throw SaveError("cannot write " + inQuotes(path) + ": " + problem);
}

void writeCompressed(AtomicFile& file, const std::vector<ByteSpan>& spans, int threads, const std::string& path) {
    // The file's own failures name it already; the compressor's are said of it here.
    std::optional<SaveError> writeFailure;
    try {
        writeGzip(spans, threads, [&](const unsigned char* bytes, std::size_t size) {
            try {
                file.write(bytes, size);
            } catch (const SaveError& error) {
                writeFailure = error;
                throw;
            }
        });
    } catch (const SaveError& error) {
        if (writeFailure) throw SaveError(*writeFailure);
        throw SaveError("cannot write " + inQuotes(path) + ": " + error.what());
    }
}

} // namespace

void writeNiftiImage(const nifti_image& header, const void* values, const std::string& path, int threads,
                     Durability durability) {
    const bool compressed = endsWith(path, ".nii.gz");
    if (!compressed && !endsWith(path, ".nii")) {
        throw SaveError(inQuotes(path) + " does not end in .nii or .nii.gz");
    }
    checkWritable(header, values, path);
    unsigned char head[kDataOffset] = {};
    const nifti_1_header fields = singleFileHeader(header);
    std::memcpy(head, &fields, kHeaderSize);
    AtomicFile file(path, durability);
    if (compressed) {
        writeCompressed(file, {{head, sizeof head}, {values, dataSize(header)}}, threads, path);
    } else {
        file.write(head, sizeof head);
        file.write(values, dataSize(header));
    }
    file.commit();
}

void writeNiftiImage(const nifti_image& image, const std::string& path, int threads, Durability durability) {
    writeNiftiImage(image, image.data, path, threads, durability);
}

} // namespace corvantis
