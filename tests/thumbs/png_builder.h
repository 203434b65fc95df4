// A small PNG writer for preview fixtures: IHDR, the filtered rows of an 8-bit RGB image
// (filter byte 0, then grey pixels) in zlib stored blocks (RFC 1950, RFC 1951 section
// 3.2.4), IEND; the chunks carry their CRCs (ISO/IEC 15948 annex D).
//
//   Bytes png = png_fixture::RgbImage(64, 48);
#pragma once

#include "support/jpeg_builder.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace png_fixture {

inline std::uint32_t Crc(const Bytes& bytes, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

inline void PutU32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline void Chunk(Bytes& out, std::string_view type, const Bytes& data) {
    PutU32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    PutU32(out, Crc(out, start));
}

// The zlib stream of `raw` in stored blocks of at most 65,535 bytes, with its Adler-32.
inline Bytes StoredZlib(const Bytes& raw) {
    Bytes z = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at), raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutU32(z, (b << 16) | a);
    return z;
}

// The bytes of the rows' data before the first pixel: signature, IHDR chunk, IDAT's length
// and type, the zlib header and the first stored block's header.
inline constexpr std::size_t kRowsAt = 8 + 25 + 8 + 2 + 5;

inline Bytes RgbImage(std::uint32_t width, std::uint32_t height) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutU32(ihdr, width);
    PutU32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace
    Chunk(png, "IHDR", ihdr);
    Bytes raw;
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), std::size_t{width} * 3, 0x80);
    }
    Chunk(png, "IDAT", StoredZlib(raw));
    Chunk(png, "IEND", {});
    return png;
}

}  // namespace png_fixture
