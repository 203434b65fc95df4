#include "icc/icc_digest.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kChunkSize = 65536;

using HeaderBlock = std::array<std::uint8_t, kHeaderSize>;

// The header block with the fields that the profile ID does not cover set to zero
// (ICC.1 7.2.18): profile flags, rendering intent, profile ID.
void ZeroUncoveredFields(HeaderBlock& block) {
    std::fill(block.begin() + 44, block.begin() + 48, std::uint8_t{0});
    std::fill(block.begin() + 64, block.begin() + 68, std::uint8_t{0});
    std::fill(block.begin() + 84, block.begin() + 100, std::uint8_t{0});
}

}  // namespace

bool IsEmptyDigest(const TkestMD5Digest& digest) {
    return std::all_of(digest.begin(), digest.end(), [](std::uint8_t b) { return b == 0; });
}

TkestMD5Digest IccMD5OfBuffer(std::span<const std::uint8_t> data, bool Force) {
    TkestMD5Digest result{};
    if (!Force && data.size() < kHeaderSize) return result;
    const auto md5 = platform::Md5::Create();
    if (!md5) return result;

    HeaderBlock block{};
    const std::size_t head = std::min(data.size(), kHeaderSize);
    std::copy_n(data.begin(), head, block.begin());
    ZeroUncoveredFields(block);
    md5->Update(block);
    md5->Update(data.subspan(head));
    return md5->Final();
}

TkestMD5Digest IccMD5OfStream(TStream& stream) {
    if (const auto memory = stream.Memory()) return IccMD5OfBuffer(*memory, false);

    TkestMD5Digest result{};
    const std::uint64_t size = stream.Size();
    if (size < kHeaderSize) return result;
    // Declared before the hash so that it is released after it, on every path.
    std::vector<std::uint8_t> work(static_cast<std::size_t>(std::min<std::uint64_t>(size, kChunkSize)));
    const auto md5 = platform::Md5::Create();
    if (!md5) return result;

    stream.Seek(0);
    HeaderBlock block{};
    stream.ReadExact(block);
    ZeroUncoveredFields(block);
    md5->Update(block);

    std::uint64_t remainder = size - kHeaderSize;
    while (remainder > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(remainder, work.size()));
        const std::span<std::uint8_t> part(work.data(), chunk);
        stream.ReadExact(part);
        md5->Update(part);
        remainder -= chunk;
    }
    return md5->Final();
}

std::string DigestToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}
