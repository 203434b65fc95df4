// Writes ICC profiles byte by byte for the tests: a 128-byte header (ICC.1 7.2), a tag
// table (7.3) and tag data of the types "text", "desc" (ICC.1:2001) and "mluc" (10.15).
#pragma once

#include "support/temp_files.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace icctest {

inline void PutU16BE(Bytes& bytes, std::size_t at, std::uint16_t value) {
    if (bytes.size() < at + 2) bytes.resize(at + 2);
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

inline void PutU32BE(Bytes& bytes, std::size_t at, std::uint32_t value) {
    PutU16BE(bytes, at, static_cast<std::uint16_t>(value >> 16));
    PutU16BE(bytes, at + 2, static_cast<std::uint16_t>(value));
}

// Four characters (or bytes) in stored order.
inline void PutSig(Bytes& bytes, std::size_t at, std::string_view sig) {
    if (bytes.size() < at + 4) bytes.resize(at + 4);
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = i < sig.size() ? static_cast<std::uint8_t>(sig[i]) : 0;
}

inline void Append(Bytes& bytes, std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }

inline void AppendU32BE(Bytes& bytes, std::uint32_t value) { PutU32BE(bytes, bytes.size(), value); }

inline void AppendUtf16BE(Bytes& bytes, std::u16string_view text) {
    for (const char16_t unit : text) PutU16BE(bytes, bytes.size(), static_cast<std::uint16_t>(unit));
}

// textType: signature, 4 reserved bytes, the characters and (when asked) a NUL.
inline Bytes TextTag(std::string_view text, bool nul = true) {
    Bytes tag;
    Append(tag, "text");
    AppendU32BE(tag, 0);
    Append(tag, text);
    if (nul) tag.push_back(0);
    return tag;
}

// textDescriptionType. `ansi` is written with a NUL and counted with it (count 0 when it
// is empty); the counts can be replaced to make broken tags.
struct Desc {
    std::string ansi;
    std::u16string unicode;
    std::int64_t ansiCount = -1;     // -1: the real count
    std::int64_t unicodeCount = -1;  // -1: the real count
};

inline Bytes DescTag(const Desc& desc) {
    Bytes tag;
    Append(tag, "desc");
    AppendU32BE(tag, 0);
    const auto ansiLength = static_cast<std::uint32_t>(desc.ansi.empty() ? 0 : desc.ansi.size() + 1);
    AppendU32BE(tag, desc.ansiCount < 0 ? ansiLength : static_cast<std::uint32_t>(desc.ansiCount));
    if (ansiLength > 0) {
        Append(tag, desc.ansi);
        tag.push_back(0);
    }
    AppendU32BE(tag, 0x656E5553);  // Unicode language code "enUS"
    const auto unicodeLength = static_cast<std::uint32_t>(desc.unicode.size());
    AppendU32BE(tag, desc.unicodeCount < 0 ? unicodeLength : static_cast<std::uint32_t>(desc.unicodeCount));
    AppendUtf16BE(tag, desc.unicode);
    // ScriptCode code, count and its 67 bytes.
    tag.resize(tag.size() + 2 + 1 + 67, 0);
    return tag;
}

struct MlucRecord {
    std::string language;  // two letters, e.g. "de"
    std::string country;   // two letters, e.g. "DE"
    std::u16string text;
};

// multiLocalizedUnicodeType with 12-byte records and the strings after them.
inline Bytes MlucTag(const std::vector<MlucRecord>& records) {
    Bytes tag;
    Append(tag, "mluc");
    AppendU32BE(tag, 0);
    AppendU32BE(tag, static_cast<std::uint32_t>(records.size()));
    AppendU32BE(tag, 12);
    std::size_t stringAt = 16 + 12 * records.size();
    for (const auto& record : records) {
        Append(tag, record.language.substr(0, 2));
        Append(tag, record.country.substr(0, 2));
        AppendU32BE(tag, static_cast<std::uint32_t>(record.text.size() * 2));
        AppendU32BE(tag, static_cast<std::uint32_t>(stringAt));
        stringAt += record.text.size() * 2;
    }
    for (const auto& record : records) AppendUtf16BE(tag, record.text);
    return tag;
}

// A profile: header fields by offset, then tag entries whose data is appended after the
// table (4-byte aligned) in the order added.
class IccBuilder {
public:
    IccBuilder() {
        header_.resize(128, 0);
        PutSig(header_, 4, "lcms");
        PutU32BE(header_, 8, 0x04200000);
        PutSig(header_, 12, "mntr");
        PutSig(header_, 16, "RGB ");
        PutSig(header_, 20, "XYZ ");
        PutSig(header_, 36, "acsp");
        PutSig(header_, 40, "APPL");
        PutSig(header_, 48, "ABCD");
        PutSig(header_, 52, "M001");
        PutSig(header_, 80, "orvn");
    }

    IccBuilder& Sig(std::size_t offset, std::string_view sig) {
        PutSig(header_, offset, sig);
        return *this;
    }
    IccBuilder& U32(std::size_t offset, std::uint32_t value) {
        PutU32BE(header_, offset, value);
        return *this;
    }
    // A tag whose entry points at `data`, appended after the table.
    IccBuilder& Tag(std::string_view sig, Bytes data) {
        tags_.push_back({std::string(sig), std::move(data), false, 0, 0});
        return *this;
    }
    // An entry with the offset and size given, and no data of its own.
    IccBuilder& RawEntry(std::string_view sig, std::uint32_t offset, std::uint32_t size) {
        tags_.push_back({std::string(sig), {}, true, offset, size});
        return *this;
    }
    // Replaces the tag count that Build writes (the number of entries).
    IccBuilder& TagCount(std::uint32_t count) {
        count_ = count;
        countSet_ = true;
        return *this;
    }

    Bytes Build() const {
        Bytes bytes = header_;
        PutU32BE(bytes, 128, countSet_ ? count_ : static_cast<std::uint32_t>(tags_.size()));
        std::size_t dataAt = 132 + 12 * tags_.size();
        std::vector<std::array<std::uint32_t, 2>> placement;
        for (const auto& tag : tags_) {
            if (tag.raw) {
                placement.push_back({tag.offset, tag.size});
                continue;
            }
            placement.push_back({static_cast<std::uint32_t>(dataAt), static_cast<std::uint32_t>(tag.data.size())});
            dataAt = (dataAt + tag.data.size() + 3) / 4 * 4;
        }
        for (std::size_t i = 0; i < tags_.size(); ++i) {
            PutSig(bytes, 132 + 12 * i, tags_[i].sig);
            PutU32BE(bytes, 136 + 12 * i, placement[i][0]);
            PutU32BE(bytes, 140 + 12 * i, placement[i][1]);
        }
        for (std::size_t i = 0; i < tags_.size(); ++i) {
            if (tags_[i].raw) continue;
            const std::size_t at = placement[i][0];
            if (bytes.size() < at) bytes.resize(at, 0);
            bytes.insert(bytes.end(), tags_[i].data.begin(), tags_[i].data.end());
        }
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        PutU32BE(bytes, 0, static_cast<std::uint32_t>(bytes.size()));
        return bytes;
    }

private:
    struct Entry {
        std::string sig;
        Bytes data;
        bool raw;
        std::uint32_t offset;
        std::uint32_t size;
    };
    Bytes header_;
    std::vector<Entry> tags_;
    std::uint32_t count_ = 0;
    bool countSet_ = false;
};

}  // namespace icctest
