// .nii.gz in and out: gzip members compressed on any number of threads give
// the same file, which zlib, gzip and nibabel read; every member is inflated,
// in parallel where it says its length, and a damaged one is refused with a
// message that names the file and the member.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Nibabel.h"
#include "host/core/RunDocument.h"
#include "host/formats/Gzip.h"
#include "host/formats/GzipReader.h"
#include "host/formats/HostErrors.h"
#include "host/formats/NiftiImage.h"
#include "host/formats/NiftiWriter.h"
#include "tests/support/FloatBits.h"

namespace {

using corvantis::ByteSpan;
using hosttest::TempDir;

// Bytes that compress a little, as time courses do: a hash's low bits over a slow ramp.
std::vector<unsigned char> sampleBytes(std::size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<unsigned char>((i / 4096) + ((x >> 24) & 0x0f));
    }
    return bytes;
}

// Every member, one after another, through zlib's own reader.
std::string zlibGunzip(const std::vector<unsigned char>& compressed) {
    std::string out;
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    char buffer[65536];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        const int status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
        if (status == Z_STREAM_END) {
            if (stream.avail_in == 0) break;
            inflateReset(&stream);
        } else if (status != Z_OK) {
            inflateEnd(&stream);
            throw std::runtime_error("zlib refused the stream");
        }
    }
    inflateEnd(&stream);
    return out;
}

std::vector<unsigned char> zlibGzip(const std::string& bytes) {
    std::vector<unsigned char> out(compressBound(static_cast<uLong>(bytes.size())) + 64);
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// What inflateGzip hands over, checked to cover each byte exactly once.
struct Inflated {
    std::string bytes;
    corvantis::GzipContent content;
};

Inflated inflateFile(const std::string& path, int threads) {
    corvantis::InputFile file = corvantis::InputFile::open(path);
    corvantis::CompressedInput input(file, {});
    Inflated result;
    result.bytes.assign(static_cast<std::size_t>(4) << 20, '\0');
    std::vector<unsigned char> handed(result.bytes.size(), 0);
    std::mutex lock;
    result.content =
        corvantis::inflateGzip(input, threads, [&](std::uint64_t offset, const unsigned char* bytes, std::size_t size) {
            ASSERT_LE(offset + size, result.bytes.size());
            std::memcpy(&result.bytes[offset], bytes, size);
            const std::lock_guard<std::mutex> guard(lock);
            for (std::size_t i = 0; i < size; ++i) ++handed[offset + i];
        });
    result.bytes.resize(static_cast<std::size_t>(result.content.size));
    for (std::size_t i = 0; i < result.bytes.size(); ++i) {
        if (handed[i] != 1) {
            ADD_FAILURE() << "byte " << i << " handed over " << int(handed[i]) << " times";
            break;
        }
    }
    return result;
}

std::string text(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    hosttest::writeFile(path, text(bytes));
}

// A header-sized first span and a data span, so one member holds parts of both.
const std::size_t kDataSize = 3 * corvantis::kGzipMemberBytes + 12345;

TEST(GzipMembers, TheSameFileAtEveryThreadCountAndTheDataBackWhole) {
    const std::vector<unsigned char> head = sampleBytes(352, 1), data = sampleBytes(kDataSize, 2);
    const std::string whole = text(head) + text(data);
    const std::vector<unsigned char> one =
        corvantis::gzipBytes({{head.data(), head.size()}, {data.data(), data.size()}}, 1);
    for (int threads = 2; threads <= 8; ++threads) {
        EXPECT_EQ(corvantis::gzipBytes({{head.data(), head.size()}, {data.data(), data.size()}}, threads), one)
            << threads << " threads";
    }
    EXPECT_EQ(zlibGunzip(one), whole);
    EXPECT_LT(one.size(), whole.size());
    // One member per 256 KiB, each header saying its length: walking them ends at the file's end.
    std::size_t at = 0, members = 0;
    while (at + corvantis::kGzipMemberHeaderBytes <= one.size()) {
        ASSERT_EQ(one[at + 12], 'Q');
        ASSERT_EQ(one[at + 13], 'V');
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i) length = length << 8 | one[at + 16 + i];
        at += length;
        ++members;
    }
    EXPECT_EQ(at, one.size());
    EXPECT_EQ(members, (whole.size() + corvantis::kGzipMemberBytes - 1) / corvantis::kGzipMemberBytes);
}

// Float32 values as maps and runs hold them: noise, runs of zeros (outside a
// mask), ramps and a few repeated levels, so members take every road of the
// compressor (long matches, near-equal matches, a member starting with zeros).
std::vector<unsigned char> mapLikeBytes(std::size_t size, unsigned seed) {
    std::vector<float> values(size / 4);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < values.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        const std::size_t block = i / 5000;
        switch (block % 5) {
        case 0: values[i] = 1000.0f + static_cast<float>(x >> 8) / 16777216.0f * 50.0f; break;
        case 1: values[i] = (x >> 29) == 0 ? 1.0f : 0.0f; break;
        case 2: values[i] = static_cast<float>(i % 977) * 0.25f; break;
        case 3: values[i] = static_cast<float>((x >> 28) % 4) - 1.5f; break;
        default: values[i] = (x >> 31) ? static_cast<float>(x >> 20) : -static_cast<float>(i % 64);
        }
    }
    // The fifth member starts inside a run of zeros.
    std::fill(values.begin() + 4 * (corvantis::kGzipMemberBytes / 4) - 100,
              values.begin() + 4 * (corvantis::kGzipMemberBytes / 4) + 3000, 0.0f);
    std::vector<unsigned char> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// Leaves 16-bit words of 10 on the stack below the caller's frame, where the
// writer's frames come next: a field of the compressor's state left unset
// would read one (a history of 2^10 bytes, say) instead of 0.
[[gnu::noinline]] void stainStack() {
    volatile unsigned char stain[256 << 10];
    for (std::size_t i = 0; i < sizeof stain; ++i) stain[i] = i % 2 == 0 ? 10 : 0;
}

// Freed blocks of 0xA5 where the writer's buffers will be allocated.
void stainHeap() {
    for (std::size_t size : {std::size_t(1) << 20, std::size_t(300) << 10, std::size_t(64) << 10}) {
        for (int i = 0; i < 4; ++i) {
            std::vector<unsigned char> junk(size);
            std::memset(junk.data(), 0xA5, junk.size());
            EXPECT_EQ(junk[size / 2], 0xA5);
        }
    }
}

// Each member's bytes are those of its 256 KiB compressed alone: not the
// thread count, nor what a thread compressed before, nor what memory held.
TEST(GzipMembers, EachMemberIsItsOwnDataCompressedAlone) {
    const std::size_t size = 3 << 20;
    const std::vector<unsigned char> data = mapLikeBytes(size, 11);
    std::vector<unsigned char> alone;
    for (std::size_t at = 0; at < size; at += corvantis::kGzipMemberBytes) {
        const std::vector<unsigned char> member =
            corvantis::gzipBytes({{data.data() + at, std::min(corvantis::kGzipMemberBytes, size - at)}}, 1);
        alone.insert(alone.end(), member.begin(), member.end());
    }
    ASSERT_EQ(zlibGunzip(alone), text(data));
    ASSERT_LT(alone.size(), size * 9 / 10);
    for (int threads = 1; threads <= 4; ++threads) {
        EXPECT_EQ(corvantis::gzipBytes({{data.data(), size}}, threads), alone) << threads << " threads";
    }
    // Other data first, a whole number of members, on the same threads.
    const std::vector<unsigned char> other = mapLikeBytes(5 * corvantis::kGzipMemberBytes, 12);
    const std::vector<unsigned char> otherAlone = corvantis::gzipBytes({{other.data(), other.size()}}, 1);
    for (int threads = 1; threads <= 4; ++threads) {
        std::vector<unsigned char> both = otherAlone;
        both.insert(both.end(), alone.begin(), alone.end());
        EXPECT_EQ(corvantis::gzipBytes({{other.data(), other.size()}, {data.data(), size}}, threads), both)
            << threads << " threads, other data first";
    }
    stainHeap();
    EXPECT_EQ(corvantis::gzipBytes({{data.data(), size}}, 2), alone) << "after 0xA5 on the heap";
    stainStack();
    EXPECT_EQ(corvantis::gzipBytes({{data.data(), size}}, 1), alone) << "after a stained stack";
}

TEST(GzipMembers, InflatedAtEveryThreadCountToTheSameBytes) {
    TempDir dir;
    const std::vector<unsigned char> data = sampleBytes(kDataSize, 3);
    writeBytes(dir.file("ours.gz"), corvantis::gzipBytes({{data.data(), data.size()}}, 3));
    for (int threads = 1; threads <= 5; ++threads) {
        const Inflated back = inflateFile(dir.file("ours.gz"), threads);
        EXPECT_FALSE(back.content.cutShort);
        EXPECT_EQ(back.bytes, text(data)) << threads << " threads";
    }
}

// Other writers' files: one member (as most tools write), members of other
// writers before and after ours, and nothing at all in a member.
TEST(GzipMembers, OtherWritersMembersAreReadInOrder) {
    TempDir dir;
    const std::vector<unsigned char> a = sampleBytes(700001, 4), b = sampleBytes(kDataSize, 5);
    std::vector<unsigned char> mixed = zlibGzip(text(a));
    const std::vector<unsigned char> ours = corvantis::gzipBytes({{b.data(), b.size()}}, 2);
    mixed.insert(mixed.end(), ours.begin(), ours.end());
    const std::vector<unsigned char> tail = zlibGzip(text(a));
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    const std::vector<unsigned char> empty = zlibGzip("");
    mixed.insert(mixed.end(), empty.begin(), empty.end());
    writeBytes(dir.file("mixed.gz"), mixed);
    std::vector<unsigned char> oursFirst = ours;
    oursFirst.insert(oursFirst.end(), tail.begin(), tail.end());
    writeBytes(dir.file("ours-first.gz"), oursFirst);
    for (int threads : {1, 2, 4}) {
        EXPECT_EQ(inflateFile(dir.file("mixed.gz"), threads).bytes, text(a) + text(b) + text(a)) << threads;
        EXPECT_EQ(inflateFile(dir.file("ours-first.gz"), threads).bytes, text(b) + text(a)) << threads;
    }
}

std::string damagedMessage(const std::string& path, int threads) {
    try {
        inflateFile(path, threads);
    } catch (const corvantis::DocumentError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(GzipMembers, ADamagedMemberIsRefusedNamingTheFileAndTheMember) {
    TempDir dir;
    const std::vector<unsigned char> data = sampleBytes(kDataSize, 6);
    std::vector<unsigned char> ours = corvantis::gzipBytes({{data.data(), data.size()}}, 1);
    std::uint32_t first = 0;
    for (int i = 3; i >= 0; --i) first = first << 8 | ours[16 + i];
    // The second member's CRC-32 (its trailer's first word), then its data.
    std::uint32_t second = 0;
    for (int i = 3; i >= 0; --i) second = second << 8 | ours[first + 16 + i];
    std::vector<unsigned char> badCrc = ours;
    badCrc[first + second - 8] ^= 0x01;
    writeBytes(dir.file("crc.nii.gz"), badCrc);
    const std::string crcMessage = "\"" + dir.file("crc.nii.gz") +
                                   "\": its compressed data is damaged (the gzip member at byte " +
                                   std::to_string(first) + " has a CRC-32 or length that does not match its data)";
    for (int threads : {1, 3}) EXPECT_EQ(damagedMessage(dir.file("crc.nii.gz"), threads), crcMessage) << threads;

    std::vector<unsigned char> badData = ours;
    for (std::size_t i = first + 100; i < first + 140; ++i) badData[i] ^= 0x5a;
    writeBytes(dir.file("data.nii.gz"), badData);
    for (int threads : {1, 3}) {
        const std::string message = damagedMessage(dir.file("data.nii.gz"), threads);
        EXPECT_EQ(message.rfind("\"" + dir.file("data.nii.gz") +
                                    "\": its compressed data is damaged (the gzip member at byte " +
                                    std::to_string(first) + " has ",
                                0),
                  0u)
            << message;
    }

    // One member of another writer, its length word changed.
    std::vector<unsigned char> single = zlibGzip(text(data));
    single[single.size() - 1] ^= 0x40;
    writeBytes(dir.file("single.gz"), single);
    EXPECT_EQ(damagedMessage(dir.file("single.gz"), 2),
              "\"" + dir.file("single.gz") +
                  "\": its compressed data is damaged (the gzip member at byte 0 has a CRC-32 or length that does "
                  "not match its data)");
    // Bytes after the last member that start no member.
    std::vector<unsigned char> trailing = ours;
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    writeBytes(dir.file("trailing.gz"), trailing);
    EXPECT_EQ(damagedMessage(dir.file("trailing.gz"), 2),
              "\"" + dir.file("trailing.gz") + "\": its compressed data is damaged (the gzip member at byte " +
                  std::to_string(ours.size()) + " has no valid gzip header)");
}

TEST(GzipMembers, AFileCutShortIsReportedAfterEveryByteBeforeTheCut) {
    TempDir dir;
    const std::vector<unsigned char> data = sampleBytes(kDataSize, 7);
    for (const auto& [name, whole] :
         {std::pair<std::string, std::vector<unsigned char>>{"ours.gz",
                                                             corvantis::gzipBytes({{data.data(), data.size()}}, 2)},
          std::pair<std::string, std::vector<unsigned char>>{"single.gz", zlibGzip(text(data))}}) {
        writeBytes(dir.file(name), std::vector<unsigned char>(whole.begin(), whole.begin() + whole.size() * 2 / 3));
        for (int threads : {1, 2}) {
            const Inflated back = inflateFile(dir.file(name), threads);
            EXPECT_TRUE(back.content.cutShort) << name;
            ASSERT_GT(back.bytes.size(), data.size() / 3) << name;
            ASSERT_LT(back.bytes.size(), data.size()) << name;
            EXPECT_EQ(back.bytes, text(data).substr(0, back.bytes.size())) << name;
        }
    }
}

// A float64 run whose values start at byte 355, so members cut values apart;
// read at every thread count it holds what the uncompressed file holds.
TEST(GzipMembers, ARunWhoseMembersCutValuesReadsTheSameAtEveryThreadCount) {
    TempDir dir;
    const corvantis::NiftiImagePtr image = corvantis::newImage(31, 29, 17, 9, DT_FLOAT64);
    double* values = static_cast<double*>(image->data);
    for (std::size_t i = 0; i < image->nvox; ++i)
        values[i] = static_cast<double>(i % 9973) * 0.37 - 1000.0 / (1 + i % 7);
    image->scl_slope = 1.5f;
    image->scl_inter = -2.0f;
    corvantis::writeNiftiImage(*image, dir.file("run.nii"));
    // The same file with three bytes more before the values.
    std::string bytes = hosttest::readFile(dir.file("run.nii"));
    float offset = 355.0f;
    std::memcpy(&bytes[108], &offset, 4);
    bytes.insert(352, 3, '\0');
    hosttest::writeFile(dir.file("shifted.nii"), bytes);
    const std::vector<unsigned char> raw(bytes.begin(), bytes.end());
    writeBytes(dir.file("shifted.nii.gz"), corvantis::gzipBytes({{raw.data(), raw.size()}}, 2));

    const corvantis::FmrDocument expected = corvantis::openRunDocument(dir.file("shifted.nii"));
    const float* want = expected.timeCourses().floatData();
    ASSERT_EQ(want[1], static_cast<float>((0.37 - 500.0) * 1.5 - 2.0));
    for (int threads = 1; threads <= 4; ++threads) {
        const corvantis::FmrDocument run = corvantis::openRunDocument(dir.file("shifted.nii.gz"), threads);
        const float* got = run.timeCourses().floatData();
        std::size_t differing = 0;
        for (std::size_t i = 0; i < image->nvox; ++i)
            differing += testsupport::bitsOf(got[i]) != testsupport::bitsOf(want[i]);
        EXPECT_EQ(differing, 0u) << threads << " threads";
    }
}

// Python's gzip, gzip -t and nibabel read the members; nibabel's values are ours.
const char kCompareWithNibabel[] = R"(
import sys, numpy as np, nibabel as nib
a = np.asanyarray(nib.load(sys.argv[1]).dataobj); b = np.asanyarray(nib.load(sys.argv[2]).dataobj)
assert a.shape == b.shape and a.dtype == b.dtype, (a.shape, b.shape)
assert (a.view(np.uint32) == b.view(np.uint32)).all()
import gzip; assert gzip.open(sys.argv[1]).read() == open(sys.argv[2], 'rb').read()
print(a.shape)
)";

TEST(GzipMembers, NibabelAndGzipReadTheMembers) {
    SKIP_WITHOUT_NIBABEL();
    TempDir dir;
    const corvantis::NiftiImagePtr image = corvantis::newImage(40, 33, 12, 7, DT_FLOAT32);
    float* values = static_cast<float*>(image->data);
    for (std::size_t i = 0; i < image->nvox; ++i)
        values[i] = 1000.0f + static_cast<float>((i * 2654435761u) % 977) / 7.0f;
    corvantis::writeNiftiImage(*image, dir.file("run.nii.gz"), 3);
    corvantis::writeNiftiImage(*image, dir.file("run.nii"));
    const hosttest::Outcome gzip = hosttest::runProgram("/bin/gzip", {"-t", dir.file("run.nii.gz")});
    EXPECT_EQ(gzip.status, 0) << gzip.err;
    const hosttest::Outcome check =
        hostio::runPython(kCompareWithNibabel, {dir.file("run.nii.gz"), dir.file("run.nii")});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "(40, 33, 12, 7)\n");
}

} // namespace
