// gzip output in members of kGzipMemberBytes of uncompressed data each,
// compressed independently so that several threads share the work. The cut
// does not depend on the thread count, so neither do the bytes written. Each
// member's header carries an extra field "QV" (4 bytes: the member's
// compressed length, header and trailer included), by which GzipReader finds
// the members without decompressing them; other readers skip the field, as
// gzip allows, and read the members one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace corvantis {

constexpr std::size_t kGzipMemberBytes = std::size_t(256) << 10;

// The extra field: gzip's fixed header (10 bytes), XLEN, then the subfield.
constexpr std::size_t kGzipMemberHeaderBytes = 20;
constexpr unsigned char kGzipMemberFieldId[2] = {'Q', 'V'};

// Bytes laid end to end make the uncompressed data.
struct ByteSpan {
    const void* bytes;
    std::size_t size;
};

// Receives the compressed bytes in order; throws SaveError when it cannot.
using GzipSink = std::function<void(const unsigned char* bytes, std::size_t size)>;

// Compresses the spans with up to threads threads and hands the members to
// sink in order. Throws SaveError (no memory, a failing sink).
void writeGzip(const std::vector<ByteSpan>& spans, int threads, const GzipSink& sink);

// The same, into memory.
std::vector<unsigned char> gzipBytes(const std::vector<ByteSpan>& spans, int threads);

} // namespace corvantis
