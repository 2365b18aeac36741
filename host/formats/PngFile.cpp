#include "host/formats/PngFile.h"

#include <cstring>
#include <png.h>

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

void writePng(const std::string& path, const RgbImage& rgb) {
    PngImage png;
    png.image.width = static_cast<png_uint_32>(rgb.width);
    png.image.height = static_cast<png_uint_32>(rgb.height);
    png.image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png.image, path.c_str(), 0, rgb.pixels.data(), 0, nullptr)) {
        throw SaveError("cannot write " + inQuotes(path) + ": " + png.image.message);
    }
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
