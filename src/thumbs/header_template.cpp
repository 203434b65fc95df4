#include "thumbs/header_template.h"

#include "jpeg/annex_k.h"

#include <algorithm>
#include <vector>

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutHuffman(std::vector<std::uint8_t>& out, std::uint8_t classAndId, const annex_k::HuffmanSpec& spec) {
    out.push_back(classAndId);
    out.insert(out.end(), spec.Counts.begin(), spec.Counts.end());
    const auto symbols = spec.Symbols();
    out.insert(out.end(), symbols.begin(), symbols.end());
}

TkestQuantValues Scaled(const std::array<std::uint8_t, 64>& table, int numerator, bool clamp) {
    TkestQuantValues out{};
    for (std::size_t i = 0; i < 64; ++i) {
        int v = (table[i] * numerator + 50) / 100;
        if (clamp) v = std::clamp(v, 1, 255);
        out[i] = static_cast<std::uint8_t>(v);
    }
    return out;
}

// Table K.1 with the entries of row 4, columns 5 and 8 (counting from 1) changed.
TkestQuantValues MakerNoteLuminance() {
    TkestQuantValues table = annex_k::kLuminanceQuant;
    table[3 * 8 + 4] = 61;
    table[3 * 8 + 7] = 94;
    return table;
}

}  // namespace

TkestHeaderTemplate MakeHeaderTemplate(const TkestQuantValues& ALuminance, const TkestQuantValues& AChrominance,
                                       std::uint16_t AHeight, std::uint16_t AWidth) {
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    // DQT (T.81 B.2.4.1): Pq/Tq, then 64 values in zigzag order, for each table.
    out.insert(out.end(), {0xFF, 0xDB});
    Put16(out, 2 + 2 * 65);
    for (std::uint8_t id = 0; id < 2; ++id) {
        out.push_back(id);
        const TkestQuantValues& table = id == 0 ? ALuminance : AChrominance;
        for (std::size_t k = 0; k < 64; ++k) out.push_back(table[annex_k::kNaturalOrder[k]]);
    }
    // DHT (T.81 B.2.4.2).
    const std::size_t dht = out.size();
    out.insert(out.end(), {0xFF, 0xC4, 0, 0});
    PutHuffman(out, 0x00, annex_k::kDcLuminance);
    PutHuffman(out, 0x10, annex_k::kAcLuminance);
    PutHuffman(out, 0x01, annex_k::kDcChrominance);
    PutHuffman(out, 0x11, annex_k::kAcChrominance);
    const std::size_t dhtLength = out.size() - dht - 2;
    out[dht + 2] = static_cast<std::uint8_t>(dhtLength >> 8);
    out[dht + 3] = static_cast<std::uint8_t>(dhtLength);
    // SOF0 (T.81 B.2.2).
    out.insert(out.end(), {0xFF, 0xC0, 0, 17, 8});
    Put16(out, AHeight);
    Put16(out, AWidth);
    out.insert(out.end(), {3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1});
    // SOS (T.81 B.2.3).
    out.insert(out.end(), {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});

    TkestHeaderTemplate header{};
    std::copy_n(out.begin(), std::min(out.size(), header.size()), header.begin());
    return header;
}

void SetTemplateSize(TkestHeaderTemplate& ATemplate, std::uint16_t AHeight, std::uint16_t AWidth) {
    ATemplate[kTemplateHeight] = static_cast<std::uint8_t>(AHeight >> 8);
    ATemplate[kTemplateHeight + 1] = static_cast<std::uint8_t>(AHeight);
    ATemplate[kTemplateWidth] = static_cast<std::uint8_t>(AWidth >> 8);
    ATemplate[kTemplateWidth + 1] = static_cast<std::uint8_t>(AWidth);
}

const TkestHeaderTemplate& MakerNoteTemplateB() {
    static const TkestHeaderTemplate header =
        MakeHeaderTemplate(MakerNoteLuminance(), annex_k::kChrominanceQuant, 480, 640);
    return header;
}

const TkestHeaderTemplate& MakerNoteTemplateA() {
    static const TkestHeaderTemplate header = MakeHeaderTemplate(
        Scaled(MakerNoteLuminance(), 113, false), Scaled(annex_k::kChrominanceQuant, 113, false), 120, 160);
    return header;
}

const TkestHeaderTemplate& Quality85Template() {
    static const TkestHeaderTemplate header = MakeHeaderTemplate(
        Scaled(annex_k::kLuminanceQuant, 30, true), Scaled(annex_k::kChrominanceQuant, 30, true), 120, 160);
    return header;
}
