// Reading a single-file NIfTI-1 image: the bytes are read here, through the safe
// input and ISA-L's inflate, and niftilib is handed only the header. Its own reader opens
// any path (a FIFO blocks it), allocates what a header claims and fills a short
// file's missing values with zeros; here every value is read or the file refused.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "host/formats/GzipReader.h"
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
// Time courses compress far less than this; a compressed file whose header
// claims more is inflated once, keeping nothing, before memory is set aside
// for its values, so a small file cannot make the host allocate without bound.
constexpr std::uint64_t kPlausibleRatio = 64;

// The bytes of the file as stored, or inflated when they start with the gzip
// magic: the content decides, not the name.
class ImageBytes {
public:
    explicit ImageBytes(InputFile file) : file_(std::move(file)) {
        std::vector<unsigned char> first(1 << 16);
        first.resize(file_.read(reinterpret_cast<char*>(first.data()), first.size()));
        compressed_ = startsWithGzipMagic(first.data(), first.size());
        input_ = std::make_unique<CompressedInput>(file_, std::move(first));
        if (compressed_) stream_ = std::make_unique<GzipStream>(*input_);
    }

    bool compressed() const { return compressed_; }
    bool cutShort() const { return compressed_ && stream_->cutShort(); }
    const std::string& path() const { return file_.path(); }
    std::uint64_t storedSize() const { return file_.size(); }

    // Up to count bytes; fewer only where the data ends.
    std::size_t read(char* bytes, std::size_t count) {
        if (compressed_) return stream_->read(reinterpret_cast<unsigned char*>(bytes), count);
        const std::size_t buffered = std::min(count, input_->available());
        std::memcpy(bytes, input_->data(), buffered);
        input_->consume(buffered);
        return buffered + file_.read(bytes + buffered, count - buffered);
    }

private:
    InputFile file_;
    std::unique_ptr<CompressedInput> input_;
    std::unique_ptr<GzipStream> stream_;
    bool compressed_ = false;
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
                            (bytes.cutShort() ? " (the compressed file is cut short)" : ""));
    }
    return buffer;
}

// The stored values of one data type turned into float32 as scaledValue
// computes them: in double precision, then rounded.
class ValueConverter {
public:
    ValueConverter(const nifti_image& image, bool swapped, float* values)
        : datatype_(image.datatype), swapped_(swapped), values_(values) {
        scaled_ = image.scl_slope != 0.0f && std::isfinite(image.scl_slope);
        slope_ = static_cast<double>(image.scl_slope);
        inter_ = std::isfinite(image.scl_inter) ? static_cast<double>(image.scl_inter) : 0.0;
    }

    // count values stored at bytes, the first of them value number first.
    void convert(const unsigned char* bytes, std::uint64_t first, std::size_t count) const {
        float* out = values_ + first;
        switch (datatype_) {
        case DT_INT8: return as<int8_t>(bytes, count, out);
        case DT_UINT8: return as<uint8_t>(bytes, count, out);
        case DT_INT16: return as<int16_t>(bytes, count, out);
        case DT_UINT16: return as<uint16_t>(bytes, count, out);
        case DT_INT32: return as<int32_t>(bytes, count, out);
        case DT_UINT32: return as<uint32_t>(bytes, count, out);
        case DT_INT64: return as<int64_t>(bytes, count, out);
        case DT_UINT64: return as<uint64_t>(bytes, count, out);
        case DT_FLOAT32: return as<float>(bytes, count, out);
        case DT_FLOAT64: return as<double>(bytes, count, out);
        default:
            throw DocumentError(std::string("the data type ") + nifti_datatype_string(datatype_) +
                                " holds no real numbers");
        }
    }

private:
    template <class T>
    void as(const unsigned char* bytes, std::size_t count, float* out) const {
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char raw[sizeof(T)];
            std::memcpy(raw, bytes + i * sizeof(T), sizeof(T));
            if (swapped_) std::reverse(raw, raw + sizeof(T));
            T stored;
            std::memcpy(&stored, raw, sizeof(T));
            const double value = static_cast<double>(stored);
            out[i] = static_cast<float>(scaled_ ? value * slope_ + inter_ : value);
        }
    }

    int datatype_;
    bool swapped_;
    bool scaled_ = false;
    double slope_ = 0.0;
    double inter_ = 0.0;
    float* values_;
};

// Pieces of the file's uncompressed bytes, in any order and from several
// threads, made into values: whole values at once, a value cut between two
// pieces once both halves are in.
class ValuePieces {
public:
    ValuePieces(const CheckedHeader& header, std::size_t valueSize, const ValueConverter& converter)
        : start_(header.voxOffset), bytes_(header.dataBytes), valueSize_(valueSize), converter_(converter) {}

    void take(std::uint64_t offset, const unsigned char* bytes, std::size_t size) {
        const std::uint64_t from = std::max(offset, start_), to = std::min(offset + size, start_ + bytes_);
        if (from >= to) return;
        const unsigned char* at = bytes + (from - offset);
        const std::uint64_t a = from - start_, b = to - start_; // within the values
        const std::uint64_t wholeBegin = (a + valueSize_ - 1) / valueSize_, wholeEnd = b / valueSize_;
        if (wholeBegin < wholeEnd) {
            converter_.convert(at + (wholeBegin * valueSize_ - a), wholeBegin,
                               static_cast<std::size_t>(wholeEnd - wholeBegin));
        }
        const std::uint64_t headEnd = std::min(b, wholeBegin * valueSize_);
        part(a, headEnd, at);
        const std::uint64_t tailBegin = std::max(headEnd, wholeEnd * valueSize_);
        part(tailBegin, b, at + (tailBegin - a));
    }

private:
    struct Cut {
        unsigned char bytes[8] = {};
        std::size_t have = 0;
    };

    void part(std::uint64_t from, std::uint64_t to, const unsigned char* bytes) {
        const std::lock_guard<std::mutex> lock(cutLock_);
        while (from < to) {
            const std::uint64_t value = from / valueSize_;
            const std::size_t within = static_cast<std::size_t>(from % valueSize_);
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, valueSize_ - within));
            Cut& cut = cuts_[value];
            std::memcpy(cut.bytes + within, bytes, count);
            cut.have += count;
            if (cut.have == valueSize_) {
                converter_.convert(cut.bytes, value, 1);
                cuts_.erase(value);
            }
            from += count;
            bytes += count;
        }
    }

    std::uint64_t start_, bytes_;
    std::size_t valueSize_;
    const ValueConverter& converter_;
    std::mutex cutLock_;
    std::map<std::uint64_t, Cut> cuts_;
};

// Whether the uncompressed bytes reach the end of the values the header declares.
void checkComplete(const std::string& path, const CheckedHeader& header, const GzipContent& content, bool compressed) {
    const std::string shown = inQuotes(path);
    if (content.size < header.voxOffset) {
        throw DocumentError(shown + ": its vox_offset " + std::to_string(header.voxOffset) +
                            " lies beyond the end of the " + (compressed ? "uncompressed data" : "file") + " at " +
                            std::to_string(content.size));
    }
    const std::uint64_t done = std::min(content.size - header.voxOffset, header.dataBytes);
    if (done < header.dataBytes) {
        throw DocumentError(shown + ": its values end after " + std::to_string(done) + " of the " +
                            std::to_string(header.dataBytes) + " bytes its header declares" +
                            (content.cutShort ? " (the compressed file is cut short)" : ""));
    }
}

// A stored file in pieces from its first byte, as far as the values go; the uncompressed size seen.
std::uint64_t readStored(const std::string& path, const CheckedHeader& header, ValuePieces& pieces) {
    InputFile file = InputFile::open(path);
    std::vector<unsigned char> piece(std::size_t(1) << 20);
    std::uint64_t at = 0;
    while (at < header.voxOffset + header.dataBytes) {
        const std::size_t got = file.read(reinterpret_cast<char*>(piece.data()), piece.size());
        if (got == 0) break;
        pieces.take(at, piece.data(), got);
        at += got;
    }
    return at;
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
    // niftilib turns a time step of 0 (unknown) into 1: a run whose header gives
    // no TR would then be timed at 1 s without a word.
    nifti_1_header stored = header.stored;
    if (header.swapped) swap_nifti_header(&stored, 1);
    if (stored.pixdim[4] == 0.0f || !std::isfinite(stored.pixdim[4])) image->dt = image->pixdim[4] = 0.0f;
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

namespace corvantis {

void readScaledValues(const std::string& path, const nifti_image& image, float* values, int threads) {
    CheckedHeader header;
    bool compressed = false;
    {
        ImageBytes bytes(InputFile::open(path));
        header = checkedHeader(bytes);
        compressed = bytes.compressed();
    }
    int valueSize = 0, swapSize = 0;
    nifti_datatype_sizes(image.datatype, &valueSize, &swapSize);
    if (valueSize < 1 || valueSize > 8 || header.values != image.nvox ||
        header.dataBytes != header.values * static_cast<std::uint64_t>(valueSize)) {
        throw DocumentError(inQuotes(path) + " changed while it was read");
    }
    const ValueConverter converter(image, header.swapped && swapSize > 1, values);
    ValuePieces pieces(header, static_cast<std::size_t>(valueSize), converter);
    GzipContent content;
    if (compressed) {
        InputFile file = InputFile::open(path);
        CompressedInput input(file, {});
        content =
            inflateGzip(input, threads, [&pieces](std::uint64_t offset, const unsigned char* bytes, std::size_t size) {
                pieces.take(offset, bytes, size);
            });
    } else {
        content.size = readStored(path, header, pieces);
    }
    checkComplete(path, header, content, compressed);
}

void checkClaimedValues(const std::string& path, int threads) {
    CheckedHeader header;
    bool compressed = false;
    std::uint64_t stored = 0;
    {
        ImageBytes bytes(InputFile::open(path));
        header = checkedHeader(bytes);
        compressed = bytes.compressed();
        stored = bytes.storedSize();
    }
    if (!compressed || header.voxOffset + header.dataBytes <= kPlausibleRatio * (stored + 1)) return;
    InputFile file = InputFile::open(path);
    CompressedInput input(file, {});
    const GzipContent content = inflateGzip(input, threads, [](std::uint64_t, const unsigned char*, std::size_t) {});
    checkComplete(path, header, content, compressed);
}

} // namespace corvantis
