// Every input file the host reads goes through here: opened without blocking, so
// that a FIFO, a device or a folder is refused before a byte is read, and read
// only up to a size its reader states, so no input hangs the host or makes it
// allocate without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvantis {

// The most a text input (an .fmr, a table, a dialog script) may hold; real ones
// hold a few kilobytes to a few megabytes.
constexpr std::uint64_t kMaxTextBytes = std::uint64_t(16) << 20;

class InputFile {
public:
    // Opens path for reading. Throws DocumentError "cannot open <noun> "path":
    // reason" when it is absent or unreadable, or is not a regular file (a folder
    // says so); noun is "the table", "the map"..., or empty.
    static InputFile open(const std::string& path, const std::string& noun = "");
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&&) = delete;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return path_; }
    // The size when opened.
    std::uint64_t size() const { return size_; }
    // Up to count bytes; fewer only at the end of the file. Throws DocumentError
    // on a read error.
    std::size_t read(char* bytes, std::size_t count);
    // Exactly count bytes, or a DocumentError saying where the file ended.
    void readExactly(char* bytes, std::size_t count);
    // The whole file, refused when it holds more than limit bytes.
    std::string readAll(std::uint64_t limit);

private:
    InputFile(std::string path, std::string noun, int descriptor, std::uint64_t size);

    std::string path_;
    std::string noun_;
    int descriptor_;
    std::uint64_t size_;
};

// The one check of what a file holds against what its reader needs: from least
// to most bytes. Throws DocumentError ""path": <noun> holds N bytes; needs", where
// needs says in words what the header declares, such as "3 volumes of 2 x 2 x 1
// float32 values take 48".
void checkSize(const std::string& path, const std::string& noun, std::uint64_t actual, std::uint64_t least,
               std::uint64_t most, const std::string& needs);

// The whole of a text file of at most kMaxTextBytes. Throws DocumentError.
std::string readTextFile(const std::string& path, const std::string& noun = "");

// The length of a UTF-8 byte-order mark at the start of text (3), or 0. Editors
// on some systems put one before the first line of a text they save.
std::size_t byteOrderMarkLength(const std::string& text);

// a x b, or nothing when the product exceeds limit; a and b are counts from a
// header, so it never wraps.
bool productWithin(std::uint64_t a, std::uint64_t b, std::uint64_t limit, std::uint64_t& product);

} // namespace corvantis
