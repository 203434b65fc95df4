// A small TIFF writer for Exif, MPF and maker-note fixtures: a header, then IFDs and blobs
// put at the offsets the test chooses, so that hostile layouts (loops, offsets outside the
// block, entries cut short) are as easy to write as sane ones.
//
//   TiffBuilder t(false);                 // "II"
//   t.Ifd(8, {Long(513, 100), Long(514, n)}, 0);
//   t.Put(100, thumbnail);
//   Bytes exif = ExifPayload(t);
#pragma once

#include "support/jpeg_builder.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tiff_fixture {

// One IFD entry: tag, type, count and the 4-byte value field. The helpers below store the
// value the way the block's byte order needs it, so the entry is written as given.
struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;     // a LONG-sized value field, or an offset
    bool shortValue = false; // a SHORT in the first two bytes of the field
};

inline Entry Long(std::uint16_t tag, std::uint32_t value) { return {tag, 4, 1, value}; }
inline Entry Short(std::uint16_t tag, std::uint16_t value) { return {tag, 3, 1, value, true}; }
// `count` SHORTs stored at `offset` (more than two of them do not fit in the field).
inline Entry Shorts(std::uint16_t tag, std::uint32_t count, std::uint32_t offset) { return {tag, 3, count, offset}; }
// Two SHORTs inside the value field.
inline Entry ShortPair(std::uint16_t tag, std::uint16_t a, std::uint16_t b) {
    return {tag, 3, 2, (std::uint32_t{a} << 16) | b, true};
}
inline Entry Undefined(std::uint16_t tag, std::uint32_t count, std::uint32_t offset) { return {tag, 7, count, offset}; }

class TiffBuilder {
public:
    // Writes the header ("II" or "MM", 42) and IFD0's offset.
    explicit TiffBuilder(bool bigEndian, std::uint32_t ifd0 = 8) : bigEndian_(bigEndian) {
        Put(0, bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'});
        U16(2, 42);
        U32(4, ifd0);
    }

    void U16(std::uint32_t at, std::uint16_t v) {
        Put(at, bigEndian_ ? Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}
                           : Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    }
    void U32(std::uint32_t at, std::uint32_t v) {
        if (bigEndian_) {
            U16(at, static_cast<std::uint16_t>(v >> 16));
            U16(at + 2, static_cast<std::uint16_t>(v));
        } else {
            U16(at, static_cast<std::uint16_t>(v));
            U16(at + 2, static_cast<std::uint16_t>(v >> 16));
        }
    }
    // Bytes at `at`, growing the block with zero bytes as needed.
    void Put(std::uint32_t at, const Bytes& data) {
        if (bytes_.size() < at + data.size()) bytes_.resize(at + data.size());
        std::copy(data.begin(), data.end(), bytes_.begin() + at);
    }
    // An IFD: the entry count, the entries, the next-IFD offset. Returns the offset after it.
    std::uint32_t Ifd(std::uint32_t at, const std::vector<Entry>& entries, std::uint32_t next) {
        U16(at, static_cast<std::uint16_t>(entries.size()));
        std::uint32_t p = at + 2;
        for (const Entry& e : entries) {
            U16(p, e.tag);
            U16(p + 2, e.type);
            U32(p + 4, e.count);
            if (e.shortValue) {
                // The first SHORT in the field's first two bytes, a second one after it.
                U16(p + 8, static_cast<std::uint16_t>(e.count == 2 ? e.value >> 16 : e.value));
                U16(p + 10, static_cast<std::uint16_t>(e.count == 2 ? e.value : 0));
            } else {
                U32(p + 8, e.value);
            }
            p += 12;
        }
        U32(p, next);
        return p + 4;
    }
    // SHORT values at `at`.
    void ShortValues(std::uint32_t at, const std::vector<std::uint16_t>& values) {
        for (std::size_t i = 0; i < values.size(); ++i) U16(at + static_cast<std::uint32_t>(2 * i), values[i]);
    }

    bool BigEndian() const { return bigEndian_; }
    const Bytes& Data() const { return bytes_; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }

private:
    bool bigEndian_;
    Bytes bytes_;
};

// "Exif", two zero bytes, the TIFF block: an APP1 payload.
inline Bytes ExifPayload(const TiffBuilder& t) {
    return jpeg_fixture::Concat({jpeg_fixture::Text(std::string_view("Exif\0\0", 6)), t.Data()});
}
// "MPF" and a zero byte, the MP header: an APP2 payload.
inline Bytes MpfPayload(const TiffBuilder& t) {
    return jpeg_fixture::Concat({jpeg_fixture::Text(std::string_view("MPF\0", 4)), t.Data()});
}

// 16- and 32-bit numbers and a 12-byte IFD entry in either byte order, for structures
// written outside a TiffBuilder (maker notes, whose offsets count from their own start).
inline Bytes U16Of(bool bigEndian, std::uint16_t v) {
    return bigEndian ? Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}
                     : Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}
inline Bytes U32Of(bool bigEndian, std::uint32_t v) {
    const Bytes hi = U16Of(bigEndian, static_cast<std::uint16_t>(v >> 16));
    const Bytes lo = U16Of(bigEndian, static_cast<std::uint16_t>(v));
    return bigEndian ? jpeg_fixture::Concat({hi, lo}) : jpeg_fixture::Concat({lo, hi});
}
inline Bytes EntryOf(bool be, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    return jpeg_fixture::Concat({U16Of(be, tag), U16Of(be, type), U32Of(be, count), U32Of(be, value)});
}

// An Olympus maker note: "OLYMPUS", 0, the byte order, 3; one entry 0x2020 (type IFD)
// pointing to a sub-directory at 30 with PreviewImageValid, PreviewImageStart and
// PreviewImageLength. The start counts from the maker note's first byte.
inline Bytes OlympusMakerNote(bool be, std::uint32_t valid, std::uint32_t start, std::uint32_t length) {
    return jpeg_fixture::Concat({jpeg_fixture::Text(std::string_view("OLYMPUS\0", 8)),
                                 jpeg_fixture::Text(be ? "MM" : "II"), U16Of(be, 3), U16Of(be, 1),
                                 EntryOf(be, 0x2020, 13, 1, 30), U32Of(be, 0), U16Of(be, 3),
                                 EntryOf(be, 0x0100, 4, 1, valid), EntryOf(be, 0x0101, 4, 1, start),
                                 EntryOf(be, 0x0102, 4, 1, length), U32Of(be, 0)});
}

}  // namespace tiff_fixture
