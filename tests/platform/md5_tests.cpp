#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Hex(const platform::Md5Value& value) {
    std::string hex;
    char digits[3];
    for (const auto byte : value) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

std::string Md5Hex(std::span<const std::uint8_t> data) {
    auto md5 = platform::Md5::Create();
    if (!md5) return "no MD5 service";
    md5->Update(data);
    return Hex(md5->Final());
}

struct Vector {
    std::string_view input;
    std::string_view digest;
};

// RFC 1321, appendix A.5.
const Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, KnownVectors) {
    for (const auto& [input, digest] : kRfc1321) {
        EXPECT_EQ(Md5Hex(AsBytes(input)), digest) << '"' << input << '"';
    }
}

TEST(Md5, PiecesEqualOneShot) {
    // One million 'a' is the classic long vector; pieces of awkward sizes cross every
    // 64-byte block boundary in a different place.
    const std::string million(1'000'000, 'a');
    const std::span<const std::uint8_t> all = AsBytes(million);
    ASSERT_EQ(Md5Hex(all), "7707d6ae4e027c70eea2a935c2296f21");

    auto md5 = platform::Md5::Create();
    ASSERT_NE(md5, nullptr);
    const std::size_t sizes[] = {0, 1, 63, 64, 65, 127, 4096, 65536, 3};
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < all.size(); ++i) {
        const std::size_t size = std::min(sizes[i % std::size(sizes)], all.size() - offset);
        md5->Update(all.subspan(offset, size));
        offset += size;
    }
    EXPECT_EQ(Hex(md5->Final()), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, ComputationsAreIndependent) {
    auto first = platform::Md5::Create();
    auto second = platform::Md5::Create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    first->Update(AsBytes("ab"));
    second->Update(AsBytes("message "));
    first->Update(AsBytes("c"));
    second->Update(AsBytes("digest"));
    EXPECT_EQ(Hex(first->Final()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(second->Final()), "f96b697d7cb7938d525a2f31aaf161d0");
}

}  // namespace
