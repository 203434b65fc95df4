// Files that attack the plugin's bounds, written byte by byte: each describes far more than
// it holds (a frame of 65,535 x 65,535 blocks' worth of work in a few kilobytes, counts and
// sizes of 2^32 - 1, offsets past the end of the file, tens of thousands of segments or
// IFDs, Huffman tables that cannot be coded). The count parameters let a test compare two
// sizes of the same attack; the fuzzers take them as seeds.
#pragma once

#include "support/jpeg_builder.h"

#include <cstdint>

namespace hostile {



// A progressive frame (SOF2) of `width` x `height` with one component (grey) or three (ids
// 1, 2, 3 sampled 2x2, 1x1, 1x1), then `scans` AC first passes over the first component
// (Ss 1, Se 63) made only of end-of-band runs of 32,767 blocks: EOB14 has a 1-bit code, so
// every 15 bits pass 32,767 blocks.
Bytes EndOfBandFrame(std::uint16_t width, std::uint16_t height, int components, int scans);

// A small baseline image whose headers follow one run of `count` APP/COM segments of one to
// six payload bytes. `uniform`: every segment APP1 "x"; otherwise the markers cycle through
// APP0-APP15 and COM with the first bytes of identifiers that handlers look for.
Bytes TinyAppRun(int count, bool uniform);

// A small baseline image with an Exif APP1 segment holding `count` IFDs: chained by their
// next-IFD offsets (no entries; up to 10,900 fit in a segment), or nested, each IFD's only
// entry an Exif IFD pointer to the next (up to 3,600).
Bytes ChainedIfds(int count);
Bytes NestedIfds(int count);

// An ICC profile whose counts and lengths are 2^32 - 1: the header's size, the tag count, the
// ASCII and Unicode counts of its "desc" tag, the record count, record size, string length
// and offset of an "mluc" tag ("dmnd"), a "dmdd" entry's offset and size. Its "cprt" tag is
// sound and says "Orvane hostile".
Bytes HugeCountIcc();
// A small baseline image carrying `profile` in APP2 ICC_PROFILE chunks of at most 60,000 bytes.
Bytes JpegWithIcc(const Bytes& profile);

// A small baseline image with an MPF segment whose MP entries give sizes of 2^31 - 1 and
// 2^32 - 1 and offsets past the end of the file, and one entry of size 2^31 - 1 at a
// `preview` put after EOI (so the size points far past the end of the file).
Bytes MpfPastTheEnd(const Bytes& preview);
// A small baseline image with a Photoshop APP13 segment whose resources declare sizes of
// 2^31 - 1 and 2^32 - 1 bytes; the thumbnail resource (0x040C, JPEG) holds `preview`.
Bytes PhotoshopPastTheEnd(const Bytes& preview);

// Many previews of one heavy stream: `count` MPF segments whose entries all point at
// `preview`, put once after EOI; or `count` COM segments each holding `preview` itself.
Bytes ManyMpfEntriesToOne(int count, const Bytes& preview);
Bytes ManyEmbeddedPreviews(int count, const Bytes& preview);
// Trailers after a small baseline image: `count` FotoStation records of 10 bytes each (no
// data); or a Samsung directory of `count` entries that all point to the one block holding
// `preview`.
Bytes ManyFotoStationRecords(int count);
Bytes ManySamsungEntriesToOne(int count, const Bytes& preview);
// A small baseline image whose extended XMP declares a full length of 2^32 - 1 and has a
// chunk at offset 2^32 - 256 besides the one at 0 that holds `preview` as GImage:Data; or
// whose main packet holds `count` GImage:Data attributes of four Base64 digits each.
Bytes XmpPastItsLength(const Bytes& preview);
Bytes ManyXmpImageProperties(int count);

// A small baseline image whose DHT redefines table `tableClass`/0 with code counts that do
// not fit the code space; `variant` 0-2 picks the counts (three 1-bit codes; sixteen codes
// of every length; four 2-bit codes and one of 3 bits).
Bytes OverflowingHuffman(int variant, std::uint8_t tableClass);

}  // namespace hostile
