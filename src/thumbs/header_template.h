// JPEG headers that some cameras leave out: previews stored as bare entropy-coded data are
// checked by putting such a header in front of them. The header is a baseline stream up to
// and including its scan header, without EOI: SOI; one DQT with tables 0 and 1; one DHT
// with T.81 Annex K tables K.3 (DC 0), K.5 (AC 0), K.4 (DC 1), K.6 (AC 1); SOF0 with three
// components, 1 sampled 2x1 with table 0 and 2, 3 sampled 1x1 with table 1; SOS naming all
// three (tables 0/0, 1/1, 1/1), Ss 0, Se 63, Ah Al 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kHeaderTemplateSize = 589;
using TkestHeaderTemplate = std::array<std::uint8_t, kHeaderTemplateSize>;
using TkestQuantValues = std::array<std::uint8_t, 64>;

// Where the frame size and the table values stand in a template.
inline constexpr std::size_t kTemplateQuant0 = 7;    // 64 values in zigzag order
inline constexpr std::size_t kTemplateQuant1 = 72;   // 64 values in zigzag order
inline constexpr std::size_t kTemplateHeight = 561;  // 16-bit, most significant byte first
inline constexpr std::size_t kTemplateWidth = 563;

// A template with the two quantization tables (natural order) and the frame size.
TkestHeaderTemplate MakeHeaderTemplate(const TkestQuantValues& ALuminance, const TkestQuantValues& AChrominance,
                                       std::uint16_t AHeight, std::uint16_t AWidth);
// Overwrites the frame size of a template.
void SetTemplateSize(TkestHeaderTemplate& ATemplate, std::uint16_t AHeight, std::uint16_t AWidth);

// The maker-note templates: B with table K.1 (two entries changed) and K.2, 480 x 640 lines;
// A with every value of B scaled by 113/100, stored as 120 x 160.
const TkestHeaderTemplate& MakerNoteTemplateA();
const TkestHeaderTemplate& MakerNoteTemplateB();
// Tables K.1 and K.2 scaled to quality 85 as the IJG scales them ((K x 30 + 50) / 100,
// 1-255), stored as 120 x 160: the header of the bare APP4/APP5 previews.
const TkestHeaderTemplate& Quality85Template();
