// The profile-identifier digest rule (ICC.1 7.2.18) over buffers and streams.
#include "icc/icc_digest.h"

#include "icc/test_streams.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

namespace {

using icctest::TracingStream;

Bytes Pattern(std::size_t size, unsigned multiplier = 7, unsigned add = 3) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * multiplier + add) & 0xFF);
    return bytes;
}

std::string Hex(const TkestMD5Digest& digest) { return DigestToHex(digest); }

// The expected values are hashlib.md5 over the rule applied by hand (the header block with
// bytes 44-47, 64-67 and 84-99 zeroed, then the rest).
struct KnownAnswer {
    const char* what;
    Bytes data;
    bool force;
    const char* md5;
};

TEST(IccDigest, KnownAnswers) {
    Bytes counting(128);
    for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
    Bytes short65(65);
    for (std::size_t i = 0; i < short65.size(); ++i) short65[i] = static_cast<std::uint8_t>(i + 1);
    const KnownAnswer cases[] = {
        {"128 zero bytes: the header block alone", Bytes(128, 0), false, "F09F35A5637839458E462E6350ECBCE4"},
        {"128 bytes 0..127, three fields zeroed", counting, false, "DA5B9B612EC00FEE278B36C5B5C8E2F7"},
        {"200 bytes: header block, then bytes 128..199", Pattern(200), false, "D8A8FB1C999ED2328F99882FAB472DFA"},
        {"forced 65 bytes: padded with zeros to one block", short65, true, "0DAE120509F5814B49D237CE401D473D"},
        {"forced empty data: a block of zeros", Bytes{}, true, "F09F35A5637839458E462E6350ECBCE4"},
        {"127 bytes unforced: no digest", Pattern(127), false, "00000000000000000000000000000000"},
        {"empty unforced: no digest", Bytes{}, false, "00000000000000000000000000000000"},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(IccMD5OfBuffer(c.data, c.force)), c.md5) << c.what;
}

TEST(IccDigest, ForcedShortDataReadsNothingBeyondIt) {
    // The data is the front of a larger block: bytes after it must not reach the hash.
    Bytes block = Pattern(128, 1, 1);
    const auto inside = IccMD5OfBuffer(std::span<const std::uint8_t>(block).first(65), true);
    for (std::size_t i = 65; i < block.size(); ++i) block[i] = 0xEE;
    EXPECT_EQ(IccMD5OfBuffer(std::span<const std::uint8_t>(block).first(65), true), inside);
    EXPECT_EQ(Hex(inside), "0DAE120509F5814B49D237CE401D473D");
}

TEST(IccDigest, IgnoresFlagsIntentAndProfileId) {
    const Bytes base = Pattern(300);
    const auto reference = IccMD5OfBuffer(base, false);
    for (std::size_t at = 0; at < 140; ++at) {
        Bytes changed = base;
        changed[at] ^= 0x5A;
        const bool ignored = (at >= 44 && at <= 47) || (at >= 64 && at <= 67) || (at >= 84 && at <= 99);
        EXPECT_EQ(IccMD5OfBuffer(changed, false) == reference, ignored) << "byte " << at;
    }
    // The quantization-table caller forces short data: the same positions are ignored.
    Bytes tables = Pattern(65);
    const auto forced = IccMD5OfBuffer(tables, true);
    tables[44] ^= 0xFF;
    tables[64] ^= 0xFF;
    EXPECT_EQ(IccMD5OfBuffer(tables, true), forced);
    tables[43] ^= 0xFF;
    EXPECT_NE(IccMD5OfBuffer(tables, true), forced);
}

TEST(IccDigest, HexIsUpperCaseHighNibbleFirst) {
    const std::uint8_t three[] = {0x00, 0xAB, 0x0F};
    EXPECT_EQ(DigestToHex(three), "00AB0F");
    TkestMD5Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 17);
    EXPECT_EQ(DigestToHex(digest), "00112233445566778899AABBCCDDEEFF");
    EXPECT_EQ(DigestToHex({}), "");
}

// A non-memory stream is read as the 128-byte header block and chunks of 65,536 bytes.
struct ChunkCase {
    std::size_t size;
    std::vector<std::size_t> reads;
};

TEST(IccDigest, StreamIsReadInChunks) {
    const ChunkCase cases[] = {
        {128, {128}},
        {129, {128, 1}},
        {65664, {128, 65536}},
        {65665, {128, 65536, 1}},
        {200000, {128, 65536, 65536, 65536, 3264}},
    };
    for (const auto& c : cases) {
        const Bytes data = Pattern(c.size);
        TracingStream stream(data);
        const auto digest = IccMD5OfStream(stream);
        EXPECT_EQ(stream.requests, c.reads) << c.size << " bytes";
        EXPECT_EQ(digest, IccMD5OfBuffer(data, false)) << c.size << " bytes";
        EXPECT_EQ(stream.Position(), c.size) << "left at its end";
    }
}

TEST(IccDigest, MemoryStreamIsHashedInPlace) {
    for (const std::size_t size : {127u, 128u, 65665u}) {
        TMemoryStream stream(Pattern(size));
        stream.Seek(17);
        EXPECT_EQ(IccMD5OfStream(stream), IccMD5OfBuffer(Pattern(size), false)) << size;
        EXPECT_EQ(stream.Position(), 17u) << "position unchanged";
    }
    TTempMemoryStream borrowed;
    const Bytes data = Pattern(500);
    borrowed.SetPointer(data);
    EXPECT_EQ(IccMD5OfStream(borrowed), IccMD5OfBuffer(data, false));
}

TEST(IccDigest, FileStreamEqualsMemoryStream) {
    TempDir dir;
    for (const std::size_t size : {127u, 128u, 129u, 65664u, 65665u, 200000u}) {
        const Bytes data = Pattern(size, 13, 5);
        auto file = TFileStream::Open(dir.Write("p" + std::to_string(size) + ".icc", data));
        ASSERT_TRUE(file);
        TMemoryStream memory(data);
        const auto fromFile = IccMD5OfStream(*file);
        EXPECT_EQ(fromFile, IccMD5OfStream(memory)) << size;
        EXPECT_EQ(IsEmptyDigest(fromFile), size < 128) << size;
    }
}

TEST(IccDigest, ShortStreamRaisesReadError) {
    // Sizes say more than the stream delivers: in the header block and in a later chunk.
    for (const std::uint64_t readable : {std::uint64_t{100}, std::uint64_t{70000}}) {
        TracingStream stream(Pattern(80000), readable);
        EXPECT_THROW(IccMD5OfStream(stream), platform::IoError) << readable;
    }
    TracingStream tiny(Pattern(127));
    EXPECT_TRUE(IsEmptyDigest(IccMD5OfStream(tiny)));
    EXPECT_TRUE(tiny.requests.empty()) << "a stream below 128 bytes is not read";
}

}  // namespace
