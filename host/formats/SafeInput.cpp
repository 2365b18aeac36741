#include "host/formats/SafeInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace {

// A single read asks for at most this much, which every platform's read takes.
constexpr std::size_t kReadPiece = std::size_t(1) << 30;

std::string opening(const std::string& noun, const std::string& path) {
    return "cannot open " + (noun.empty() ? std::string() : noun + " ") + inQuotes(path) + ": ";
}

std::string kindOf(unsigned mode) {
    if (S_ISDIR(mode)) return "it is a folder, not a file";
#ifdef S_ISFIFO
    if (S_ISFIFO(mode)) return "it is a pipe, not a regular file";
#endif
    if (S_ISCHR(mode)) return "it is a device, not a regular file";
#ifdef S_ISBLK
    if (S_ISBLK(mode)) return "it is a device, not a regular file";
#endif
    return "not a regular file";
}

#ifdef _WIN32
using FileStatus = struct _stati64;
int statusOf(int descriptor, FileStatus& status) { return _fstati64(descriptor, &status); }
int closeDescriptor(int descriptor) { return _close(descriptor); }
long long readDescriptor(int descriptor, char* bytes, std::size_t count) {
    return _read(descriptor, bytes, static_cast<unsigned>(count));
}

// Windows opens no folder as a file, and has no FIFOs that block an open.
int openDescriptor(const std::string& path, const std::string& noun) {
    FileStatus status;
    if (_stati64(path.c_str(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR) {
        throw DocumentError(opening(noun, path) + "it is a folder, not a file");
    }
    return _open(path.c_str(), _O_RDONLY | _O_BINARY);
}
#else
using FileStatus = struct stat;
int statusOf(int descriptor, FileStatus& status) { return fstat(descriptor, &status); }
int closeDescriptor(int descriptor) { return close(descriptor); }
long long readDescriptor(int descriptor, char* bytes, std::size_t count) { return ::read(descriptor, bytes, count); }

// O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting
// for one; the check after the open refuses it. Regular files ignore the flag.
int openDescriptor(const std::string& path, const std::string&) {
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}
#endif

} // namespace

InputFile::InputFile(std::string path, std::string noun, int descriptor, std::uint64_t size)
    : path_(std::move(path)), noun_(std::move(noun)), descriptor_(descriptor), size_(size) {}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), noun_(std::move(other.noun_)), descriptor_(other.descriptor_), size_(other.size_) {
    other.descriptor_ = -1;
}

InputFile::~InputFile() {
    if (descriptor_ >= 0) closeDescriptor(descriptor_);
}

InputFile InputFile::open(const std::string& path, const std::string& noun) {
    errno = 0;
    const int descriptor = openDescriptor(path, noun);
    if (descriptor < 0) {
        throw DocumentError(opening(noun, path) + std::strerror(errno));
    }
    InputFile file(path, noun, descriptor, 0);
    FileStatus status;
    if (statusOf(descriptor, status) != 0) {
        throw DocumentError(opening(noun, path) + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw DocumentError(opening(noun, path) + kindOf(static_cast<unsigned>(status.st_mode)));
    }
    file.size_ = static_cast<std::uint64_t>(status.st_size);
    return file;
}

std::size_t InputFile::read(char* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const long long got = readDescriptor(descriptor_, bytes + done, std::min(kReadPiece, count - done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            throw DocumentError("cannot read " + (noun_.empty() ? std::string() : noun_ + " ") + inQuotes(path_) +
                                ": " + std::strerror(errno));
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void InputFile::readExactly(char* bytes, std::size_t count) {
    const std::size_t got = read(bytes, count);
    if (got != count) {
        // The file shrank after it was opened.
        throw DocumentError(inQuotes(path_) + " ended after " + std::to_string(got) + " of the " +
                            std::to_string(count) + " bytes being read");
    }
}

std::string InputFile::readAll(std::uint64_t limit) {
    checkSize(path_, noun_.empty() ? "the file" : noun_, size_, 0, limit,
              "at most " + std::to_string(limit) + " are read");
    // Bounded by the size at the open: a file that grows meanwhile is read as it was.
    std::string text(static_cast<std::size_t>(size_), '\0');
    text.resize(read(&text[0], text.size()));
    return text;
}

void checkSize(const std::string& path, const std::string& noun, std::uint64_t actual, std::uint64_t least,
               std::uint64_t most, const std::string& needs) {
    if (actual < least || actual > most) {
        throw DocumentError(inQuotes(path) + ": " + noun + " holds " + std::to_string(actual) + " bytes; " + needs);
    }
}

std::string readTextFile(const std::string& path, const std::string& noun) {
    return InputFile::open(path, noun).readAll(kMaxTextBytes);
}

std::size_t byteOrderMarkLength(const std::string& text) { return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; }

bool productWithin(std::uint64_t a, std::uint64_t b, std::uint64_t limit, std::uint64_t& product) {
    if (a != 0 && b > limit / a) return false;
    product = a * b;
    return product <= limit;
}

} // namespace corvantis
