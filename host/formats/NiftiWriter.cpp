#include "host/formats/NiftiWriter.h"

#include <cstring>
#include <new>

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

} // namespace

std::vector<unsigned char> niftiFileBytes(const nifti_image& image) {
    if (image.data == nullptr) {
        throw SaveError("the NIfTI image has no values to write");
    }
    if (image.num_ext > 0) {
        throw SaveError("NIfTI extensions are not written");
    }
    if (image.byteorder != nifti_short_order()) {
        throw SaveError("the NIfTI image is in the other byte order");
    }
    const nifti_1_header header = singleFileHeader(image);
    std::vector<unsigned char> bytes(kDataOffset + dataSize(image), 0);
    std::memcpy(bytes.data(), &header, kHeaderSize);
    std::memcpy(bytes.data() + kDataOffset, image.data, dataSize(image));
    return bytes;
}

namespace {

// The whole file as it goes to disk; the uncompressed bytes are gone before the write.
std::vector<unsigned char> fileBytes(const nifti_image& image, bool compressed, const std::string& path) {
    try {
        std::vector<unsigned char> bytes = niftiFileBytes(image);
        if (!compressed) return bytes;
        return gzipCompress(bytes.data(), bytes.size());
    } catch (const SaveError& error) {
        throw SaveError("cannot write " + inQuotes(path) + ": " + error.what());
    } catch (const std::bad_alloc&) {
        throw SaveError("cannot write " + inQuotes(path) + ": not enough memory");
    }
}

} // namespace

void writeNiftiImage(const nifti_image& image, const std::string& path) {
    const bool compressed = endsWith(path, ".nii.gz");
    if (!compressed && !endsWith(path, ".nii")) {
        throw SaveError(inQuotes(path) + " does not end in .nii or .nii.gz");
    }
    const std::vector<unsigned char> bytes = fileBytes(image, compressed, path);
    writeFileAtomically(path, bytes.data(), bytes.size());
}

} // namespace corvantis
