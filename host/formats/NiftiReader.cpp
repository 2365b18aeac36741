// Reading a single-file NIfTI-1 image: the bytes are read here, through the safe
// input and zlib, and niftilib is handed only the header. Its own reader opens
// any path (a FIFO blocks it), allocates what a header claims and fills a short
// file's missing values with zeros; here every value is read or the file refused.
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiMagic.h"
#include "host/formats/SafeInput.h"

namespace corvantis {

namespace {

// The header and the four bytes that say whether extensions follow: the first
// byte a single-file NIfTI-1 image's values may start at.
constexpr std::uint64_t kFirstDataByte = 352;
// No image holds more; it keeps every count of bytes far from wrapping.
constexpr std::uint64_t kMaxDataBytes = std::uint64_t(1) << 50;
// A compressed image's buffer starts at this size and doubles as its values
// arrive, so a header that claims more than the stream holds costs at most
// twice what the stream holds.
constexpr std::size_t kGrowthStep = std::size_t(64) << 20;

// The bytes of the file as stored, or inflated when they start with the gzip
// magic: the content decides, not the name.
class ImageBytes {
public:
    explicit ImageBytes(InputFile file) : file_(std::move(file)), input_(1 << 16) {
        available_ = file_.read(reinterpret_cast<char*>(input_.data()), input_.size());
        compressed_ =
            isGzip(std::string(reinterpret_cast<const char*>(input_.data()), std::min<std::size_t>(available_, 2)));
        if (compressed_) {
            if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) {
                throw DocumentError(inQuotes(file_.path()) + ": cannot start decompressing it");
            }
            stream_.next_in = input_.data();
            stream_.avail_in = static_cast<uInt>(available_);
        }
    }
    ~ImageBytes() {
        if (compressed_) inflateEnd(&stream_);
    }
    ImageBytes(const ImageBytes&) = delete;
    ImageBytes& operator=(const ImageBytes&) = delete;

    bool compressed() const { return compressed_; }
    const std::string& path() const { return file_.path(); }
    std::uint64_t storedSize() const { return file_.size(); }

    // Up to count bytes; fewer only where the data ends.
    std::size_t read(char* bytes, std::size_t count) {
        return compressed_ ? inflated(bytes, count) : stored(bytes, count);
    }

private:
    std::size_t stored(char* bytes, std::size_t count) {
        const std::size_t buffered = std::min(count, available_ - used_);
        std::memcpy(bytes, input_.data() + used_, buffered);
        used_ += buffered;
        return buffered + file_.read(bytes + buffered, count - buffered);
    }

    std::size_t inflated(char* bytes, std::size_t count) {
        std::size_t done = 0;
        while (done < count && !ended_) {
            if (stream_.avail_in == 0 && refill() == 0) break; // the compressed file is cut short
            stream_.next_out = reinterpret_cast<Bytef*>(bytes + done);
            stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(count - done, std::size_t(1) << 30));
            const uInt outBefore = stream_.avail_out, inBefore = stream_.avail_in;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            done += outBefore - stream_.avail_out;
            if (status == Z_STREAM_END) {
                // gzip allows members one after another; the data ends with the last.
                ended_ = stream_.avail_in == 0 && refill() == 0;
                if (!ended_ && inflateReset(&stream_) != Z_OK) damaged(Z_STREAM_ERROR);
            } else if (status != Z_OK &&
                       !(status == Z_BUF_ERROR && (outBefore != stream_.avail_out || inBefore != stream_.avail_in))) {
                damaged(status);
            }
        }
        return done;
    }

    std::size_t refill() {
        stream_.next_in = input_.data();
        stream_.avail_in = static_cast<uInt>(file_.read(reinterpret_cast<char*>(input_.data()), input_.size()));
        return stream_.avail_in;
    }

    [[noreturn]] void damaged(int status) const {
        throw DocumentError(
            inQuotes(file_.path()) + ": its compressed data is damaged (" +
            (stream_.msg != nullptr ? std::string(stream_.msg) : "zlib status " + std::to_string(status)) + ")");
    }

    InputFile file_;
    std::vector<unsigned char> input_;
    std::size_t available_ = 0;
    std::size_t used_ = 0;
    bool compressed_ = false;
    bool ended_ = false;
    z_stream stream_{};
};

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string where(const ImageBytes& bytes) { return bytes.compressed() ? " of the uncompressed data" : " of the file"; }

// The header as this machine reads it, checked where niftilib would accept what
// later goes wrong: extents, data type, the place of the values.
struct CheckedHeader {
    nifti_1_header stored; // as in the file, for niftilib, which swaps it itself
    bool swapped = false;
    std::uint64_t voxOffset = 0;
    std::uint64_t dataBytes = 0;
    int swapSize = 0;
    std::uint64_t values = 0;
};

nifti_1_header headerBytes(ImageBytes& bytes) {
    char block[kNiftiHeaderBytes];
    const std::size_t got = bytes.read(block, sizeof block);
    const std::string first(block, got);
    if (got < sizeof block) {
        throw DocumentError(inQuotes(bytes.path()) + " is not a NIfTI-1 image: it holds " + std::to_string(got) +
                            " bytes" + (bytes.compressed() ? " when uncompressed" : "") + ", fewer than a header's " +
                            std::to_string(kNiftiHeaderBytes));
    }
    if (first.compare(344, 4, "ni1\0", 4) == 0) {
        throw DocumentError(
            inQuotes(bytes.path()) +
            " is the header of a two-file NIfTI-1 image (.hdr and .img); a run is read from one .nii file");
    }
    if (first.compare(4, 4, "n+2\0", 4) == 0) {
        throw DocumentError(inQuotes(bytes.path()) + " is a NIfTI-2 image; only NIfTI-1 is read");
    }
    if (first.compare(344, 4, "n+1\0", 4) != 0) {
        throw DocumentError(inQuotes(bytes.path()) +
                            " is not a NIfTI-1 image: it has no NIfTI-1 magic \"n+1\" at byte 344");
    }
    nifti_1_header header;
    std::memcpy(&header, block, sizeof header);
    return header;
}

std::string extentsText(const nifti_1_header& h) {
    std::string text;
    for (int i = 1; i <= h.dim[0]; ++i) text += (i > 1 ? " x " : "") + std::to_string(h.dim[i]);
    return text;
}

CheckedHeader checkedHeader(ImageBytes& bytes) {
    CheckedHeader checked;
    checked.stored = headerBytes(bytes);
    nifti_1_header h = checked.stored;
    checked.swapped = h.sizeof_hdr != static_cast<int>(kNiftiHeaderBytes);
    if (checked.swapped) swap_nifti_header(&h, 1);
    const std::string shown = inQuotes(bytes.path());
    if (h.sizeof_hdr != static_cast<int>(kNiftiHeaderBytes)) {
        throw DocumentError(shown + " is not a NIfTI-1 image: its header size is " + std::to_string(h.sizeof_hdr) +
                            ", not 348");
    }
    if (h.dim[0] < 1 || h.dim[0] > 7) {
        throw DocumentError(shown + ": dim[0] is " + std::to_string(h.dim[0]) +
                            "; a NIfTI-1 image has 1 to 7 dimensions");
    }
    checked.values = 1;
    for (int i = 1; i <= h.dim[0]; ++i) {
        // niftilib would make an extent of 0 into 1 and read values that are not there.
        if (h.dim[i] < 1) {
            throw DocumentError(shown + ": the image's extents are " + extentsText(h) + "; each must be at least 1");
        }
        if (!productWithin(checked.values, static_cast<std::uint64_t>(h.dim[i]), kMaxDataBytes, checked.values)) {
            throw DocumentError(shown + ": its extents " + extentsText(h) + " claim more than " +
                                std::to_string(kMaxDataBytes) + " values");
        }
    }
    int valueSize = 0;
    nifti_datatype_sizes(h.datatype, &valueSize, &checked.swapSize);
    if (valueSize == 0) {
        throw DocumentError(shown + ": its data type code " + std::to_string(h.datatype) + " is not a NIfTI-1 type");
    }
    if (!productWithin(checked.values, static_cast<std::uint64_t>(valueSize), kMaxDataBytes, checked.dataBytes)) {
        throw DocumentError(shown + ": its extents " + extentsText(h) + " claim more than " +
                            std::to_string(kMaxDataBytes) + " bytes of values");
    }
    const double offset = h.vox_offset;
    if (!(offset >= static_cast<double>(kFirstDataByte)) || offset != std::floor(offset) ||
        offset > static_cast<double>(kMaxDataBytes)) {
        throw DocumentError(shown + ": its vox_offset " + number(offset) +
                            " is not a whole byte from 352 on; the values follow the header and its extension flag");
    }
    checked.voxOffset = static_cast<std::uint64_t>(offset);
    if (!bytes.compressed()) {
        if (checked.voxOffset > bytes.storedSize()) {
            throw DocumentError(shown + ": its vox_offset " + std::to_string(checked.voxOffset) +
                                " lies beyond the end of the file at " + std::to_string(bytes.storedSize()));
        }
        checkSize(bytes.path(), "the file", bytes.storedSize(), checked.voxOffset + checked.dataBytes, UINT64_MAX,
                  "its header places " + std::to_string(checked.dataBytes) + " bytes of values (" + extentsText(h) +
                      ") at byte " + std::to_string(checked.voxOffset) + ", so it needs at least " +
                      std::to_string(checked.voxOffset + checked.dataBytes));
    }
    return checked;
}

struct FreeBuffer {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<void, FreeBuffer>;

void skipTo(ImageBytes& bytes, const CheckedHeader& header) {
    std::vector<char> skipped(1 << 16);
    for (std::uint64_t at = kNiftiHeaderBytes; at < header.voxOffset;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(skipped.size(), header.voxOffset - at));
        const std::size_t got = bytes.read(skipped.data(), piece);
        at += got;
        if (got < piece) {
            throw DocumentError(inQuotes(bytes.path()) + ": its vox_offset " + std::to_string(header.voxOffset) +
                                " lies beyond the end" + where(bytes) + " at " + std::to_string(at));
        }
    }
}

// malloc'd, as niftilib frees an image's data with free. A stored file's values
// are known to be there; a compressed one's buffer grows as they arrive.
Buffer values(ImageBytes& bytes, const CheckedHeader& header) {
    const std::size_t total = static_cast<std::size_t>(header.dataBytes);
    std::size_t capacity = bytes.compressed() ? std::min(total, kGrowthStep) : total;
    Buffer buffer(std::malloc(std::max<std::size_t>(capacity, 1)));
    std::size_t done = 0;
    for (;;) {
        if (buffer == nullptr) {
            throw DocumentError(inQuotes(bytes.path()) + ": there is not enough memory for its " +
                                std::to_string(total) + " bytes of values");
        }
        done += bytes.read(static_cast<char*>(buffer.get()) + done, capacity - done);
        if (done < capacity || capacity == total) break;
        capacity = std::min(total, 2 * capacity);
        void* grown = std::realloc(buffer.get(), capacity);
        if (grown != nullptr) static_cast<void>(buffer.release());
        buffer.reset(grown); // a failed realloc leaves the old block, freed here
    }
    if (done < total) {
        throw DocumentError(inQuotes(bytes.path()) + ": its values end after " + std::to_string(done) + " of the " +
                            std::to_string(total) + " bytes its header declares" +
                            (bytes.compressed() ? " (the compressed file is cut short)" : ""));
    }
    return buffer;
}

} // namespace

NiftiImagePtr readNiftiImage(const std::string& path, bool withData) {
    ImageBytes bytes(InputFile::open(path));
    const CheckedHeader header = checkedHeader(bytes);
    Buffer data;
    if (withData) {
        skipTo(bytes, header);
        data = values(bytes, header);
    }
    nifti_set_debug_level(0); // our own message says what went wrong
    NiftiImagePtr image(nifti_convert_nhdr2nim(header.stored, path.c_str()));
    if (!image || image->nifti_type != NIFTI_FTYPE_NIFTI1_1 || image->nvox != header.values) {
        throw DocumentError(inQuotes(path) + " cannot be read as a NIfTI-1 image");
    }
    if (data) {
        if (header.swapped && header.swapSize > 1) {
            nifti_swap_Nbytes(static_cast<std::size_t>(header.dataBytes) / header.swapSize, header.swapSize,
                              data.get());
        }
        image->data = data.release();
    }
    return image;
}

} // namespace corvantis
