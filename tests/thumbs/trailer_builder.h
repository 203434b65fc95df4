// Trailers after a JPEG file's end that index images: FotoStation records and Samsung's
// tagged blocks with their "SEFH" directory, written as the fixtures need them.
//
//   Bytes file = ImageWith({}, Concat({FotoStationRecord(4, preview), FotoStationRecord(3, thumb)}));
#pragma once

#include "support/jpeg_builder.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace trailer_fixture {

// A FotoStation record: its data, then its tag, its length (counting the 10 bytes that close
// it) and the signature A1 B2 C3 D4, big-endian.
inline Bytes FotoStationRecord(std::uint16_t tag, const Bytes& data) {
    Bytes out = data;
    out.push_back(static_cast<std::uint8_t>(tag >> 8));
    out.push_back(static_cast<std::uint8_t>(tag));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>((data.size() + 10) >> shift));
    out.insert(out.end(), {0xA1, 0xB2, 0xC3, 0xD4});
    return out;
}

inline void PutU32LE(Bytes& out, std::uint64_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A Samsung trailer: each block (4 bytes, a name length, the name, the data), then the
// "SEFH" directory with an entry per block (its type, its distance back from the
// directory, its size), the directory's length and "SEFT", little-endian. `back` adds to
// the first entry's distance.
inline Bytes SamsungTrailer(const std::vector<Bytes>& images, std::uint32_t back = 0) {
    Bytes blocks;
    std::vector<std::pair<std::size_t, std::size_t>> where;  // start, size
    for (const Bytes& image : images) {
        const std::string name = "DualShot_" + std::to_string(where.size() + 1);
        const std::size_t start = blocks.size();
        blocks.insert(blocks.end(), {0, 0, 0x01, 0x00});
        PutU32LE(blocks, name.size());
        blocks.insert(blocks.end(), name.begin(), name.end());
        blocks.insert(blocks.end(), image.begin(), image.end());
        where.push_back({start, blocks.size() - start});
    }
    Bytes dir = jpeg_fixture::Text("SEFH");
    PutU32LE(dir, 101);
    PutU32LE(dir, where.size());
    for (const auto& [start, size] : where) {
        dir.insert(dir.end(), {0, 0, 0x01, 0x00});
        PutU32LE(dir, blocks.size() - start + (start == 0 ? back : 0));
        PutU32LE(dir, size);
    }
    Bytes out = jpeg_fixture::Concat({blocks, dir});
    PutU32LE(out, dir.size());
    const Bytes seft = jpeg_fixture::Text("SEFT");
    out.insert(out.end(), seft.begin(), seft.end());
    return out;
}

}  // namespace trailer_fixture
