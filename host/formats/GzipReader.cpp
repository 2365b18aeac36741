#include "host/formats/GzipReader.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include "host/formats/Gzip.h"
#include "host/formats/HostErrors.h"
#include "host/formats/WorkerThreads.h"

namespace corvantis {

namespace {

// Reads and inflations go in pieces of this size.
constexpr std::size_t kPiece = std::size_t(256) << 10;
// A member found by its length field is inflated whole; larger claims are read in order instead.
constexpr std::uint32_t kMaxIndexedMember = std::uint32_t(64) << 20;
// One call of ISA-L takes at most this much.
constexpr std::size_t kMaxCall = std::size_t(1) << 30;

std::uint32_t littleEndian32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::string reasonOf(int status) {
    switch (status) {
    case ISAL_INVALID_BLOCK: return "an invalid deflate block";
    case ISAL_INVALID_SYMBOL: return "an invalid deflate symbol";
    case ISAL_INVALID_LOOKBACK: return "a distance back beyond the start of the data";
    case ISAL_INVALID_WRAPPER: return "no valid gzip header";
    case ISAL_UNSUPPORTED_METHOD: return "a compression method other than deflate";
    case ISAL_INCORRECT_CHECKSUM: return "a CRC-32 or length that does not match its data";
    default: return "ISA-L inflate status " + std::to_string(status);
    }
}

[[noreturn]] void damaged(const std::string& path, std::uint64_t memberAt, const std::string& reason) {
    throw DocumentError(inQuotes(path) + ": its compressed data is damaged (the gzip member at byte " +
                        std::to_string(memberAt) + " has " + reason + ")");
}

// The member's whole length when its header is the one Gzip.h writes.
std::optional<std::uint32_t> indexedLength(const unsigned char* at, std::size_t available) {
    if (available < kGzipMemberHeaderBytes || at[0] != 0x1f || at[1] != 0x8b || at[2] != 8 || at[3] != 4 ||
        at[10] != 8 || at[11] != 0 || at[12] != kGzipMemberFieldId[0] || at[13] != kGzipMemberFieldId[1] ||
        at[14] != 4 || at[15] != 0) {
        return std::nullopt;
    }
    const std::uint32_t length = littleEndian32(at + 16);
    if (length < kGzipMemberHeaderBytes + 8 || length > kMaxIndexedMember) return std::nullopt;
    return length;
}

struct InflateState {
    inflate_state state;
    InflateState() { restart(); }
    void restart() {
        isal_inflate_init(&state);
        state.crc_flag = ISAL_GZIP;
    }
};

// One whole member of known uncompressed size into out.
void inflateMember(const std::vector<unsigned char>& member, std::uint32_t size, std::vector<unsigned char>& out,
                   InflateState& inflater, const std::string& path, std::uint64_t memberAt) {
    out.resize(std::max<std::size_t>(size, 1));
    inflater.restart();
    inflate_state& s = inflater.state;
    s.next_in = const_cast<std::uint8_t*>(member.data());
    s.avail_in = static_cast<std::uint32_t>(member.size());
    s.next_out = out.data();
    s.avail_out = size;
    const int status = isal_inflate(&s);
    if (status < 0) damaged(path, memberAt, reasonOf(status));
    if (s.block_state != ISAL_BLOCK_FINISH || s.avail_in != 0 || s.avail_out != 0) {
        damaged(path, memberAt, "a length that does not match its data");
    }
}

} // namespace

bool startsWithGzipMagic(const unsigned char* bytes, std::size_t size) {
    return size >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

CompressedInput::CompressedInput(InputFile& file, std::vector<unsigned char> firstBytes)
    : file_(file), buffer_(std::move(firstBytes)), end_(buffer_.size()) {}

bool CompressedInput::fill(std::size_t count) {
    if (available() >= count) return true;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, available());
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() < std::max(count, kPiece)) buffer_.resize(std::max(count, kPiece));
    while (end_ < count || end_ == 0) {
        const std::size_t got = file_.read(reinterpret_cast<char*>(buffer_.data()) + end_, buffer_.size() - end_);
        if (got == 0) break;
        end_ += got;
    }
    return available() >= count;
}

void CompressedInput::consume(std::size_t count) {
    begin_ += count;
    position_ += count;
}

struct GzipStream::State : InflateState {
    std::uint64_t memberAt = 0;
};

namespace {

// A member must start with the magic; the rest of its header is ISA-L's to check.
void checkMemberStart(CompressedInput& input) {
    input.fill(2);
    if (!startsWithGzipMagic(input.data(), input.available())) {
        damaged(input.path(), input.position(), "no valid gzip header");
    }
}

} // namespace

GzipStream::GzipStream(CompressedInput& input) : input_(input), state_(std::make_unique<State>()) {
    state_->memberAt = input.position();
    if (input.fill(1)) checkMemberStart(input);
}

GzipStream::~GzipStream() = default;

std::size_t GzipStream::read(unsigned char* bytes, std::size_t count) {
    inflate_state& s = state_->state;
    std::size_t done = 0;
    while (done < count && !ended_) {
        if (s.block_state == ISAL_BLOCK_FINISH) {
            // gzip allows members one after another; the data ends with the last.
            if (!input_.fill(1)) {
                ended_ = true;
                break;
            }
            state_->restart();
            state_->memberAt = input_.position();
            checkMemberStart(input_);
        }
        if (!input_.fill(1)) {
            ended_ = cutShort_ = true;
            break;
        }
        s.next_in = const_cast<std::uint8_t*>(input_.data());
        s.avail_in = static_cast<std::uint32_t>(std::min(input_.available(), kMaxCall));
        s.next_out = bytes + done;
        s.avail_out = static_cast<std::uint32_t>(std::min(count - done, kMaxCall));
        const std::uint32_t inBefore = s.avail_in, outBefore = s.avail_out;
        const int status = isal_inflate(&s);
        input_.consume(inBefore - s.avail_in);
        done += outBefore - s.avail_out;
        if (status < 0) damaged(input_.path(), state_->memberAt, reasonOf(status));
        // All that is buffered is taken in and more is needed: the next call reads on.
        if (inBefore == s.avail_in && outBefore == s.avail_out && s.block_state != ISAL_BLOCK_FINISH &&
            !input_.fill(input_.available() + 1)) {
            ended_ = cutShort_ = true;
        }
    }
    return done;
}

GzipContent inflateGzip(CompressedInput& input, int threads, const GzipPieces& take) {
    std::mutex inputLock;
    GzipContent content;
    bool finished = false;
    runOnThreads(std::max(threads, 1), [&](const std::atomic<bool>& stop) {
        InflateState inflater;
        std::vector<unsigned char> member, out;
        for (;;) {
            std::uint64_t offset = 0, memberAt = 0;
            std::uint32_t size = 0;
            {
                const std::lock_guard<std::mutex> lock(inputLock);
                if (stop || finished) return;
                if (!input.fill(1)) {
                    finished = true;
                    return;
                }
                input.fill(kGzipMemberHeaderBytes);
                const std::optional<std::uint32_t> length = indexedLength(input.data(), input.available());
                // The uncompressed size (the trailer's last word) bounds what is allocated for it.
                const bool whole =
                    length && input.fill(*length) && littleEndian32(input.data() + *length - 4) <= kMaxIndexedMember;
                if (!whole) {
                    // A member without the length field, or cut short: the rest in order, here.
                    GzipStream stream(input);
                    out.resize(kPiece);
                    for (std::size_t got; (got = stream.read(out.data(), out.size())) > 0; content.size += got) {
                        take(content.size, out.data(), got);
                    }
                    content.cutShort = stream.cutShort();
                    finished = true;
                    return;
                }
                memberAt = input.position();
                member.assign(input.data(), input.data() + *length);
                input.consume(*length);
                size = littleEndian32(member.data() + member.size() - 4);
                offset = content.size;
                content.size += size;
            }
            inflateMember(member, size, out, inflater, input.path(), memberAt);
            take(offset, out.data(), size);
        }
    });
    return content;
}

} // namespace corvantis
