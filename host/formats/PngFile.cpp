#include "host/formats/PngFile.h"

#include <cstring>
#include <png.h>

#include "host/formats/AtomicFile.h"
#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

// The simplified API keeps its state in the image; this frees it on every exit.
struct PngImage {
    png_image image;
    PngImage() {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};

} // namespace

std::vector<unsigned char> encodePng(const RgbImage& rgb) {
    PngImage png;
    png.image.width = static_cast<png_uint_32>(rgb.width);
    png.image.height = static_cast<png_uint_32>(rgb.height);
    png.image.format = PNG_FORMAT_RGB;
    // Encoded once into a buffer of the largest size the picture can take: a
    // measuring call first would compress it twice (a study's report makes many).
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png.image);
    std::vector<unsigned char> bytes(size);
    if (!png_image_write_to_memory(&png.image, bytes.data(), &size, 0, rgb.pixels.data(), 0, nullptr)) {
        throw SaveError(std::string("cannot encode the picture as PNG: ") + png.image.message);
    }
    bytes.resize(size);
    return bytes;
}

void writePng(const std::string& path, const RgbImage& rgb) {
    std::vector<unsigned char> bytes;
    try {
        bytes = encodePng(rgb);
    } catch (const SaveError& error) {
        throw SaveError("cannot write " + inQuotes(path) + ": " + error.what());
    }
    writeFileAtomically(path, bytes.data(), bytes.size());
}

RgbImage readPng(const std::string& path) {
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, path.c_str())) {
        throw DocumentError("cannot read " + inQuotes(path) + " as PNG: " + png.image.message);
    }
    png.image.format = PNG_FORMAT_RGB;
    RgbImage rgb(static_cast<int>(png.image.width), static_cast<int>(png.image.height), 0);
    if (!png_image_finish_read(&png.image, nullptr, rgb.pixels.data(), 0, nullptr)) {
        throw DocumentError("cannot read " + inQuotes(path) + " as PNG: " + png.image.message);
    }
    return rgb;
}

} // namespace corvantis
