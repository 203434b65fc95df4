// The bodies of the four fuzz targets, shared by the libFuzzer programs (fuzz_main.cpp, the
// fuzz preset) and by the regression test that runs the saved inputs in every build. Each
// takes arbitrary bytes and does what the plugin does with a file of those bytes; bad data
// must end quietly, allocation failures (and decoding work beyond its budget) as the
// plugin's own catch blocks end them.
#pragma once

#include <cstdint>
#include <span>

namespace fuzz {

// The file analysis of a file held in memory: recognition, then the header pass with its
// previews and the post thumbs read from the same stream, or the ICC parser.
void Analysis(std::span<const std::uint8_t> AData);
// The full decoding pass over memory, and the preview checks' parse of the same bytes (no
// read buffer, the data read in place).
void Decode(std::span<const std::uint8_t> AData);
// The ICC profile parser on a memory stream.
void Icc(std::span<const std::uint8_t> AData);
// A run of APP/COM segments handed to the preview collection, shaped as the marker walk
// hands them (0xFF, an APPn or COM code, a length field of at least 2, the payload bytes
// present), then the post thumbs read from the same bytes.
void Segments(std::span<const std::uint8_t> AData);

struct Target {
    const char* Name;  // also the folder of its regression inputs
    void (*Run)(std::span<const std::uint8_t>);
};
inline constexpr Target kTargets[] = {
    {"analysis", Analysis},
    {"decode", Decode},
    {"icc", Icc},
    {"segments", Segments},
};

}  // namespace fuzz
