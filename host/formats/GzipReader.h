// Reading gzip files through ISA-L's inflate: every member, one after another
// as gzip allows, each checked against its CRC-32 and length. Members that
// carry Gzip.h's length field are found without decompressing and inflated by
// several threads at once; other files (one member, as most tools write) are
// inflated in order, in pieces, never whole in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/formats/SafeInput.h"

namespace corvantis {

// Buffered reading of a file whose first bytes may already have been read.
class CompressedInput {
public:
    CompressedInput(InputFile& file, std::vector<unsigned char> firstBytes);

    const std::string& path() const { return file_.path(); }
    const unsigned char* data() const { return buffer_.data() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    // The file offset of data().
    std::uint64_t position() const { return position_; }
    // Buffers at least count bytes unless the file ends first; false when fewer are there.
    bool fill(std::size_t count);
    void consume(std::size_t count);

private:
    InputFile& file_;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t position_ = 0;
};

// The uncompressed bytes in order, for readers that stop early (a header).
class GzipStream {
public:
    explicit GzipStream(CompressedInput& input);
    ~GzipStream();
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // Up to count bytes; fewer only where the data ends. Throws DocumentError
    // naming the file when a member is damaged.
    std::size_t read(unsigned char* bytes, std::size_t count);
    // True when the file ended inside a member.
    bool cutShort() const { return cutShort_; }

private:
    struct State;
    CompressedInput& input_;
    std::unique_ptr<State> state_;
    bool ended_ = false;
    bool cutShort_ = false;
};

struct GzipContent {
    std::uint64_t size = 0; // uncompressed bytes handed over
    bool cutShort = false;  // the file ended inside a member
};

// Receives a piece of the uncompressed data that starts offset bytes in.
// Called from several threads at once, for pieces that never overlap.
using GzipPieces = std::function<void(std::uint64_t offset, const unsigned char* bytes, std::size_t size)>;

// Inflates the rest of input, every byte handed to take exactly once, with up
// to threads threads. Throws DocumentError naming the file when a member is
// damaged; a file cut short is reported in the result after every byte before
// the cut was handed over.
GzipContent inflateGzip(CompressedInput& input, int threads, const GzipPieces& take);

// Whether bytes start with the gzip magic.
bool startsWithGzipMagic(const unsigned char* bytes, std::size_t size);

} // namespace corvantis
