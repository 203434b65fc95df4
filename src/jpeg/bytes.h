// Byte-order helpers and the bounds-checked view through which untrusted bytes are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

constexpr std::uint16_t Swap16(std::uint16_t v) { return static_cast<std::uint16_t>((v << 8) | (v >> 8)); }
constexpr std::uint32_t Swap32(std::uint32_t v) {
    return (v << 24) | ((v << 8) & 0x00FF0000u) | ((v >> 8) & 0x0000FF00u) | (v >> 24);
}

// A view of bytes that knows its length. Every read names its offset and is checked with
// HasBytes first; the readers return 0 for a range outside the view, so a missed check
// reads nothing rather than something out of bounds.
class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    constexpr ByteView(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    constexpr std::size_t Size() const { return bytes_.size(); }
    constexpr bool Empty() const { return bytes_.empty(); }
    constexpr const std::uint8_t* Data() const { return bytes_.data(); }
    constexpr std::span<const std::uint8_t> Span() const { return bytes_; }

    // True when [offset, offset + count) lies inside the view. 64-bit so that offsets and
    // counts read from a file can be passed unchanged.
    constexpr bool HasBytes(std::uint64_t offset, std::uint64_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }

    // The sub-view [offset, offset + count), clipped to the view.
    constexpr ByteView Sub(std::uint64_t offset, std::uint64_t count = UINT64_MAX) const {
        if (offset >= bytes_.size()) return {};
        const std::size_t start = static_cast<std::size_t>(offset);
        const std::size_t left = bytes_.size() - start;
        return ByteView(bytes_.subspan(start, count < left ? static_cast<std::size_t>(count) : left));
    }

    constexpr std::uint8_t U8(std::uint64_t offset) const {
        return HasBytes(offset, 1) ? bytes_[static_cast<std::size_t>(offset)] : 0;
    }
    constexpr std::uint16_t U16BE(std::uint64_t offset) const {
        if (!HasBytes(offset, 2)) return 0;
        return static_cast<std::uint16_t>((At(offset) << 8) | At(offset + 1));
    }
    constexpr std::uint16_t U16LE(std::uint64_t offset) const {
        if (!HasBytes(offset, 2)) return 0;
        return static_cast<std::uint16_t>(At(offset) | (At(offset + 1) << 8));
    }
    constexpr std::uint32_t U32BE(std::uint64_t offset) const {
        if (!HasBytes(offset, 4)) return 0;
        return (std::uint32_t{At(offset)} << 24) | (std::uint32_t{At(offset + 1)} << 16) |
               (std::uint32_t{At(offset + 2)} << 8) | At(offset + 3);
    }
    constexpr std::uint32_t U32LE(std::uint64_t offset) const {
        if (!HasBytes(offset, 4)) return 0;
        return At(offset) | (std::uint32_t{At(offset + 1)} << 8) | (std::uint32_t{At(offset + 2)} << 16) |
               (std::uint32_t{At(offset + 3)} << 24);
    }

    // The offset of the first byte equal to `value` in [from, end) clipped to the view, or
    // the clipped end when there is none.
    std::uint64_t Find(std::uint8_t value, std::uint64_t from, std::uint64_t end) const {
        const std::uint64_t stop = end < bytes_.size() ? end : bytes_.size();
        if (from >= stop) return stop;
        const void* found = std::memchr(bytes_.data() + from, value, static_cast<std::size_t>(stop - from));
        return found ? static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(found) - bytes_.data()) : stop;
    }

    // Whether the bytes at `offset` equal `text` (without its terminator).
    template <std::size_t N>
    constexpr bool Matches(std::uint64_t offset, const char (&text)[N]) const {
        if (!HasBytes(offset, N - 1)) return false;
        for (std::size_t i = 0; i + 1 < N; ++i)
            if (At(offset + i) != static_cast<std::uint8_t>(text[i])) return false;
        return true;
    }

private:
    constexpr std::uint8_t At(std::uint64_t offset) const { return bytes_[static_cast<std::size_t>(offset)]; }
    std::span<const std::uint8_t> bytes_;
};
