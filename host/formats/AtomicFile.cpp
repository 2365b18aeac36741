#include "host/formats/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "host/formats/HostErrors.h"

namespace corvantis {

namespace fs = std::filesystem;

namespace {

// Long enough that a guess never meets another writer's name, short enough
// that the temporary's name stays within the usual 255-byte limit.
constexpr std::size_t kSuffixLength = 12;
constexpr std::size_t kMaxNameKept = 200;
constexpr int kCreateAttempts = 64;
// One write call moves at most this much (Windows' _write takes an unsigned int).
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

std::string reasonOf(int error) {
    return error != 0 ? std::generic_category().message(error) : std::string("unknown reason");
}

// Exclusive: fails on any existing name, a link included (the mode is
// narrowed by the umask as for any new file).
int createExclusive(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
}

long long writeSome(int descriptor, const char* bytes, std::size_t size) {
    const std::size_t chunk = std::min(size, kMaxChunk);
#ifdef _WIN32
    return _write(descriptor, bytes, static_cast<unsigned int>(chunk));
#else
    return ::write(descriptor, bytes, chunk);
#endif
}

int flushToDisk(int descriptor) {
#ifdef _WIN32
    return _commit(descriptor);
#else
    return ::fsync(descriptor);
#endif
}

int closeFile(int descriptor) {
#ifdef _WIN32
    return _close(descriptor);
#else
    return ::close(descriptor);
#endif
}

std::mt19937_64 seededGenerator() {
    const auto now = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        return std::mt19937_64((static_cast<std::uint64_t>(device()) << 32) ^ device() ^ now);
    } catch (const std::exception&) {
        return std::mt19937_64(now); // no entropy source: the clock still differs between writers
    }
}

// ".NAME.RANDOM" beside the target: hidden, and telling whose temporary it is.
fs::path temporaryName(const fs::path& target, std::mt19937_64& generator) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(kSuffixLength, 'x');
    for (char& c : suffix) c = kLetters[pick(generator)];
    fs::path::string_type name = target.filename().native();
    if (name.size() > kMaxNameKept) name.resize(kMaxNameKept);
    fs::path temporary(".");
    temporary += name;
    temporary += "." + suffix;
    return target.parent_path() / temporary;
}

// The stream side of writeFileAtomically: buffers, and keeps the first failure
// of the file so that it can be reported as it was.
class AtomicFileBuffer : public std::streambuf {
public:
    explicit AtomicFileBuffer(AtomicFile& file) : file_(file), buffer_(std::size_t{1} << 16) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    const std::string& failure() const { return failure_; }

protected:
    int_type overflow(int_type c) override {
        if (!drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        if (count < static_cast<std::streamsize>(buffer_.size())) return std::streambuf::xsputn(bytes, count);
        // Large blocks skip the buffer.
        return drain() && pass(bytes, static_cast<std::size_t>(count)) ? count : 0;
    }

    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain() {
        const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return pass(buffer_.data(), pending);
    }

    bool pass(const char* bytes, std::size_t size) {
        if (!failure_.empty()) return false;
        try {
            file_.write(bytes, size);
            return true;
        } catch (const SaveError& error) {
            failure_ = error.what();
            return false;
        }
    }

    AtomicFile& file_;
    std::vector<char> buffer_;
    std::string failure_;
};

} // namespace

AtomicFile::AtomicFile(fs::path target, Durability durability) : target_(std::move(target)), durability_(durability) {
    if (target_.filename().empty()) {
        throw SaveError("cannot create " + inQuotes(target_.string()) + ": it names no file");
    }
    // Renaming over a device or a pipe would replace it rather than write to it.
    std::error_code unknown;
    const fs::file_status existing = fs::symlink_status(target_, unknown);
    if (!unknown && (fs::is_block_file(existing) || fs::is_character_file(existing) || fs::is_fifo(existing) ||
                     fs::is_socket(existing))) {
        throw SaveError("cannot write " + inQuotes(target_.string()) + ": it is not a regular file");
    }
    std::mt19937_64 generator = seededGenerator();
    int error = 0;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const fs::path candidate = temporaryName(target_, generator);
        errno = 0;
        descriptor_ = createExclusive(candidate);
        error = errno;
        if (descriptor_ >= 0) {
            temporary_ = candidate;
            return;
        }
        if (error != EEXIST) break;
    }
    throw SaveError("cannot create " + inQuotes(target_.string()) + ": " + reasonOf(error));
}

AtomicFile::~AtomicFile() { abandon(); }

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      descriptor_(other.descriptor_),
      durability_(other.durability_) {
    other.temporary_.clear();
    other.descriptor_ = -1;
}

void AtomicFile::abandon() noexcept {
    if (descriptor_ >= 0) {
        closeFile(descriptor_);
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        temporary_.clear();
    }
}

void AtomicFile::fail(const std::string& what, int error) {
    abandon();
    throw SaveError(what + ": " + reasonOf(error));
}

void AtomicFile::write(const void* bytes, std::size_t size) {
    if (descriptor_ < 0) {
        throw SaveError("cannot write " + inQuotes(target_.string()) + ": the file is already closed");
    }
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        errno = 0;
        const long long written = writeSome(descriptor_, next, size);
        const int error = written == 0 ? ENOSPC : errno; // a write that moves nothing has run out of room
        if (written < 0 && error == EINTR) continue;
        if (written <= 0) fail("cannot write " + inQuotes(target_.string()), error);
        next += written;
        size -= static_cast<std::size_t>(written);
    }
}

void AtomicFile::commit() {
    if (descriptor_ < 0) {
        throw SaveError("cannot write " + inQuotes(target_.string()) + ": the file is already closed");
    }
    errno = 0;
    if (durability_ == Durability::Flushed && flushToDisk(descriptor_) != 0) {
        const int error = errno;
        fail("cannot write " + inQuotes(target_.string()), error);
    }
    const int descriptor = descriptor_;
    descriptor_ = -1;
    // A close that is interrupted has still released the file, and its bytes were all handed over.
    errno = 0;
    if (closeFile(descriptor) != 0 && errno != EINTR) {
        const int error = errno;
        fail("cannot write " + inQuotes(target_.string()), error);
    }
    std::error_code renamed;
    fs::rename(temporary_, target_, renamed);
    if (renamed) {
        abandon();
        throw SaveError("cannot rename the temporary file onto " + inQuotes(target_.string()) + ": " +
                        renamed.message());
    }
    temporary_.clear();
}

void writeFileAtomically(const fs::path& path, const std::function<void(std::ostream&)>& write, Durability durability) {
    AtomicFile file(path, durability);
    AtomicFileBuffer buffer(file);
    std::ostream out(&buffer);
    write(out);
    out.flush();
    if (!buffer.failure().empty()) throw SaveError(buffer.failure());
    if (!out) throw SaveError("cannot write " + inQuotes(path.string()) + ": the content could not be formatted");
    file.commit();
}

void writeFileAtomically(const fs::path& path, const void* bytes, std::size_t size, Durability durability) {
    AtomicFile file(path, durability);
    file.write(bytes, size);
    file.commit();
}

} // namespace corvantis
