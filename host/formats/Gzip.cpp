#include "host/formats/Gzip.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "host/formats/HostErrors.h"
#include "host/formats/WorkerThreads.h"

namespace corvantis {

namespace {

// Level 1: on float32 time courses it compresses as well as the slower levels.
constexpr int kLevel = 1;

void putLittleEndian32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The uncompressed data as one sequence of bytes, read chunk by chunk.
class Chunks {
public:
    explicit Chunks(const std::vector<ByteSpan>& spans) : spans_(spans) {
        for (const ByteSpan& span : spans) total_ += span.size;
    }
    // No data still makes one (empty) member: a gzip file holds at least one.
    std::size_t count() const { return total_ == 0 ? 1 : (total_ + kGzipMemberBytes - 1) / kGzipMemberBytes; }

    // Chunk i: a pointer into a span when it lies in one, else gathered into scratch.
    std::pair<const unsigned char*, std::size_t> chunk(std::size_t i, std::vector<unsigned char>& scratch) const {
        const std::size_t begin = i * kGzipMemberBytes, size = std::min(kGzipMemberBytes, total_ - begin);
        std::size_t spanStart = 0;
        for (const ByteSpan& span : spans_) {
            if (begin >= spanStart && begin + size <= spanStart + span.size) {
                return {static_cast<const unsigned char*>(span.bytes) + (begin - spanStart), size};
            }
            spanStart += span.size;
        }
        scratch.resize(size);
        spanStart = 0;
        for (const ByteSpan& span : spans_) {
            const std::size_t from = std::max(begin, spanStart), to = std::min(begin + size, spanStart + span.size);
            if (from < to) {
                std::memcpy(scratch.data() + (from - begin),
                            static_cast<const unsigned char*>(span.bytes) + (from - spanStart), to - from);
            }
            spanStart += span.size;
        }
        return {scratch.data(), size};
    }

private:
    const std::vector<ByteSpan>& spans_;
    std::size_t total_ = 0;
};

// One thread's compressor: its level buffer and scratch space.
class MemberCompressor {
public:
    MemberCompressor() : levelBuffer_(ISAL_DEF_LVL1_DEFAULT) {}

    std::vector<unsigned char> member(const unsigned char* bytes, std::size_t size) {
        std::vector<unsigned char> out(kGzipMemberHeaderBytes + size + size / 8 + 1024);
        std::size_t used = deflated(bytes, size, kLevel, out);
        if (used == 0) {
            // Data the level cannot shrink goes in stored blocks: 5 bytes per 64 KiB more.
            out.resize(kGzipMemberHeaderBytes + size + 5 * (size / 65535 + 1) + 1024);
            used = deflated(bytes, size, 0, out);
        }
        if (used == 0) throw SaveError("gzip compression of " + std::to_string(size) + " bytes failed");
        out.resize(used);
        writeHeader(out.data(), static_cast<std::uint32_t>(used));
        return out;
    }

private:
    // The whole member's length, or 0 when out is too small.
    std::size_t deflated(const unsigned char* bytes, std::size_t size, int level, std::vector<unsigned char>& out) {
        // Zeroed first: the init leaves part of the state unset. One such
        // field, hist_bits, sets how far back matches are sought (0: the whole
        // 32 KiB); left as the stack had it, the same data gave other bytes
        // from one write to the next. Said again below, as the one that counts.
        isal_zstream stream{};
        isal_deflate_stateless_init(&stream);
        stream.hist_bits = 0;
        stream.level = static_cast<std::uint32_t>(level);
        stream.level_buf = level == 0 ? nullptr : levelBuffer_.data();
        stream.level_buf_size = level == 0 ? 0 : static_cast<std::uint32_t>(levelBuffer_.size());
        stream.gzip_flag = IGZIP_GZIP_NO_HDR; // the header is ours; ISA-L adds the trailer (CRC-32, size)
        stream.end_of_stream = 1;
        stream.flush = NO_FLUSH;
        stream.next_in = const_cast<std::uint8_t*>(bytes);
        stream.avail_in = static_cast<std::uint32_t>(size);
        stream.next_out = out.data() + kGzipMemberHeaderBytes;
        stream.avail_out = static_cast<std::uint32_t>(out.size() - kGzipMemberHeaderBytes);
        const int status = isal_deflate_stateless(&stream);
        if (status == STATELESS_OVERFLOW) return 0;
        if (status != COMP_OK) throw SaveError("gzip compression failed (ISA-L status " + std::to_string(status) + ")");
        return kGzipMemberHeaderBytes + stream.total_out;
    }

    static void writeHeader(unsigned char* at, std::uint32_t memberLength) {
        // Magic, deflate, FEXTRA only, no time, no extra flags, "unknown" system: the same bytes everywhere.
        const unsigned char fixed[10] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 255};
        std::memcpy(at, fixed, sizeof fixed);
        at[10] = 8; // XLEN: one subfield of 4 + 4 bytes
        at[11] = 0;
        at[12] = kGzipMemberFieldId[0];
        at[13] = kGzipMemberFieldId[1];
        at[14] = 4;
        at[15] = 0;
        putLittleEndian32(at + 16, memberLength);
    }

    std::vector<unsigned char> levelBuffer_;
};

// Threads compress chunks in any order, at most a window ahead of the last one
// written; whichever thread finds the next member ready hands it to the sink,
// one thread at a time, so any number of threads from 1 up finishes the work.
class OrderedMembers {
public:
    OrderedMembers(const Chunks& chunks, const GzipSink& sink, std::size_t window)
        : chunks_(chunks), sink_(sink), window_(window) {}

    void work() {
        try {
            workUntilDone();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(lock_);
            abandoned_ = true;
            changed_.notify_all();
            throw;
        }
    }

private:
    void workUntilDone() {
        MemberCompressor compressor;
        std::vector<unsigned char> scratch;
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            if (abandoned_ || written_ == chunks_.count()) return;
            const auto ready = ready_.find(written_);
            if (!writing_ && ready != ready_.end()) {
                const std::vector<unsigned char> member = std::move(ready->second);
                ready_.erase(ready);
                writing_ = true;
                lock.unlock();
                sink_(member.data(), member.size());
                lock.lock();
                writing_ = false;
                ++written_;
                changed_.notify_all();
            } else if (next_ < chunks_.count() && next_ < written_ + window_) {
                const std::size_t i = next_++;
                lock.unlock();
                const auto chunk = chunks_.chunk(i, scratch);
                std::vector<unsigned char> member = compressor.member(chunk.first, chunk.second);
                lock.lock();
                ready_.emplace(i, std::move(member));
                changed_.notify_all();
            } else {
                changed_.wait(lock);
            }
        }
    }

    const Chunks& chunks_;
    const GzipSink& sink_;
    const std::size_t window_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t next_ = 0;    // the first chunk no thread has taken
    std::size_t written_ = 0; // members handed to the sink
    bool writing_ = false;
    bool abandoned_ = false;
    std::map<std::size_t, std::vector<unsigned char>> ready_;
};

} // namespace

void writeGzip(const std::vector<ByteSpan>& spans, int threads, const GzipSink& sink) {
    try {
        const Chunks chunks(spans);
        const std::size_t used = std::max<std::size_t>(1, std::min<std::size_t>(threads, chunks.count()));
        OrderedMembers members(chunks, sink, 2 * used);
        runOnThreads(static_cast<int>(used), [&members](const std::atomic<bool>&) { members.work(); });
    } catch (const std::bad_alloc&) {
        throw SaveError("not enough memory to compress");
    }
}

std::vector<unsigned char> gzipBytes(const std::vector<ByteSpan>& spans, int threads) {
    std::vector<unsigned char> out;
    writeGzip(spans, threads,
              [&out](const unsigned char* bytes, std::size_t size) { out.insert(out.end(), bytes, bytes + size); });
    return out;
}

} // namespace corvantis
