#include "icc/icc_profile.h"

#include "jpeg/bytes.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t kHeaderSize = 128;
constexpr std::uint64_t kTagTableStart = 132;  // after the header and the tag count
constexpr std::uint64_t kTagEntrySize = 12;
// Tag-table entries read at a time: few reads for the usual tables, a bounded buffer for
// a count that claims far more entries than the data holds.
constexpr std::uint64_t kEntriesPerRead = 1024;
// A "text" tag yields at most this many characters.
constexpr std::uint64_t kTextLimit = 100;
// The type signature and reserved bytes before a tag's own data.
constexpr std::uint64_t kTypeHeaderSize = 8;

struct SignatureName {
    std::uint32_t signature;
    const char* text;
};

// ICC.1 Table 18: profile/device classes.
constexpr SignatureName kClasses[] = {
    {IccSig("scnr"), "Input device"},
    {IccSig("mntr"), "Display device"},
    {IccSig("prtr"), "Output device"},
    {IccSig("link"), "Device link"},
    {IccSig("spac"), "Color space"},
    {IccSig("abst"), "Abstract"},
    {IccSig("nmcl"), "Named color"},
    {IccSig("cenc"), "Color encoding space"},
    {IccSig("mid "), "Multiplex identification"},
    {IccSig("mlnk"), "Multiplex link"},
    {IccSig("mvis"), "Multiplex visualization"},
};

// ICC.1 Table 19: data colour spaces; the n-colour ones are computed below.
constexpr SignatureName kColorSpaces[] = {
    {IccSig("XYZ "), "nCIEXYZ or PCSXYZ"},
    {IccSig("Lab "), "CIELAB or PCSLAB"},
    {IccSig("Luv "), "CIELUV"},
    {IccSig("YCbr"), "YCbCr"},
    {IccSig("Yxy "), "CIEYxy"},
    {IccSig("RGB "), "RGB"},
    {IccSig("GRAY"), "Gray"},
    {IccSig("HSV "), "HSV"},
    {IccSig("HLS "), "HLS"},
    {IccSig("CMYK"), "CMYK"},
    {IccSig("CMY "), "CMY"},
    {IccSig("LMS "), "LMS"},
};

// ICC.1 Table 20: primary platforms.
constexpr SignatureName kPlatforms[] = {
    {IccSig("APPL"), "Apple Computer, Inc."},
    {IccSig("MSFT"), "Microsoft Corporation"},
    {IccSig("SGI "), "Silicon Graphics, Inc."},
    {IccSig("SUNW"), "Sun Microsystems, Inc."},
};

template <std::size_t N>
std::string NameOr(const SignatureName (&table)[N], std::uint32_t signature) {
    for (const auto& entry : table)
        if (entry.signature == signature) return entry.text;
    return IccSignatureToText(signature);
}

void TrimWide(std::u16string& text) {
    const auto blank = [](char16_t c) { return c <= u' '; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    text = first < last ? std::u16string(first, last) : std::u16string();
}

// The `count` bytes at `position`, or nothing when the data ends before them. Counts come
// from the profile: they are checked against the bytes that exist before anything is
// allocated.
std::optional<std::vector<std::uint8_t>> ReadRange(TStream& stream, std::uint64_t position, std::uint64_t count) {
    const std::uint64_t size = stream.Size();
    if (position > size || count > size - position) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    stream.Seek(position);
    if (stream.Read(bytes) != bytes.size()) return std::nullopt;
    return bytes;
}

// ICC.1 gives 7-bit ASCII; profiles written on Windows hold their code page's bytes too.
std::u16string AnsiText(std::span<const std::uint8_t> bytes) {
    return platform::FileTextToWide(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// UTF-16 big-endian code units: taken in stored order, then swapped. A surrogate without its
// partner is no character; it becomes U+FFFD, the replacement character, so that what a host
// receives is valid UTF-16 (and, made 8-bit, valid UTF-8 or the code page's default).
std::u16string BigEndianText(const std::vector<std::uint8_t>& bytes) {
    const ByteView view(bytes);
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(view.U16LE(2 * std::uint64_t{i}));
    SwapUTF16Text(text);
    const auto high = [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto low = [](char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (high(text[i]) && i + 1 < text.size() && low(text[i + 1])) {
            ++i;
        } else if (high(text[i]) || low(text[i])) {
            text[i] = u'\uFFFD';
        }
    }
    return text;
}

// textType (ICC.1 10.24): 4 reserved bytes, then characters ended by a NUL. At most the
// characters within the tag's size (which counts the 8 bytes before them) and 100; the data
// ending first yields nothing.
std::u16string ReadTextType(TStream& stream, const TkestIccTag& tag) {
    const std::uint64_t own = tag.Size > kTypeHeaderSize ? tag.Size - kTypeHeaderSize : 0;
    const std::uint64_t limit = std::min(own, kTextLimit);
    const std::uint64_t start = std::uint64_t{tag.Offset} + kTypeHeaderSize;
    const std::uint64_t size = stream.Size();
    const std::uint64_t available = start < size ? size - start : 0;
    const auto bytes = ReadRange(stream, start, std::min(limit, available));
    if (!bytes) return {};
    const auto end = std::find(bytes->begin(), bytes->end(), std::uint8_t{0});
    if (end == bytes->end() && bytes->size() < limit) return {};
    return AnsiText(std::span(bytes->begin(), end));
}

// textDescriptionType (ICC.1:2001 6.5.17): 8-bit count and text (NUL included), Unicode
// language and count, UTF-16BE text; the ScriptCode part is not read. The Unicode text
// wins unless it is blank.
std::u16string ReadDescType(TStream& stream, const TkestIccTag& tag) {
    const std::uint64_t start = tag.Offset;
    const auto head = ReadRange(stream, start, 12);
    if (!head) return {};
    const std::uint64_t ansiCount = ByteView(*head).U32BE(8);
    std::u16string ansi;
    if (ansiCount > 0) {
        const auto bytes = ReadRange(stream, start + 12, ansiCount);
        if (!bytes) return {};
        ansi = AnsiText(*bytes);
    }
    const std::uint64_t unicodeAt = start + 12 + ansiCount + 4;
    const auto unicodeHead = ReadRange(stream, unicodeAt, 4);
    if (!unicodeHead) return {};
    const std::uint64_t unicodeCount = ByteView(*unicodeHead).U32BE(0);
    std::u16string text;
    if (unicodeCount > 0) {
        const auto bytes = ReadRange(stream, unicodeAt + 4, 2 * unicodeCount);
        if (!bytes) return {};
        text = BigEndianText(*bytes);
    }
    TrimWide(text);
    return text.empty() ? ansi : text;
}

// multiLocalizedUnicodeType (ICC.1 10.15): record count, record size, then records of
// language, country, length and offset from the tag's start. Only the first record is
// read, whatever its language.
std::u16string ReadMlucType(TStream& stream, const TkestIccTag& tag) {
    const std::uint64_t start = tag.Offset;
    const auto head = ReadRange(stream, start, 28);
    if (!head) return {};
    const ByteView view(*head);
    const std::uint32_t records = view.U32BE(8);
    const std::uint32_t recordSize = view.U32BE(12);
    const std::uint32_t length = view.U32BE(20);
    const std::uint32_t offset = view.U32BE(24);
    if (records == 0 || recordSize < 12 || length == 0) return {};
    const auto bytes = ReadRange(stream, start + offset, std::uint64_t{length / 2} * 2);
    if (!bytes) return {};
    return BigEndianText(*bytes);
}

std::u16string ReadTagBody(TStream& stream, const TkestIccTag& tag) {
    const auto type = ReadRange(stream, tag.Offset, 4);
    if (!type) return {};
    switch (ByteView(*type).U32BE(0)) {
        case IccSig("text"): return ReadTextType(stream, tag);
        case IccSig("desc"): return ReadDescType(stream, tag);
        case IccSig("mluc"): return ReadMlucType(stream, tag);
        default: return {};
    }
}

std::u16string* TextMember(TkestIccInfo& info, std::uint32_t signature) {
    switch (signature) {
        case IccSig("desc"): return &info.IccDescription;
        case IccSig("cprt"): return &info.IccCopyright;
        case IccSig("dmnd"): return &info.IccManufacturerDescription;
        case IccSig("dmdd"): return &info.IccModelDescription;
        default: return nullptr;
    }
}

void Parse(TStream& stream, TkestIccInfo& info) {
    // ICC.1 7.2: the header.
    std::array<std::uint8_t, kHeaderSize> headerBytes{};
    stream.Seek(0);
    stream.ReadExact(headerBytes);
    const ByteView header(headerBytes);
    info.IccCmm = IccSignatureToText(header.U32BE(4));
    info.IccVersion = IccVersionToText(header.U32BE(8));
    info.IccClass = IccClassToText(header.U32BE(12));
    info.IccColorSpace = IccColorSpaceToText(header.U32BE(16));
    info.IccConnectionSpace = IccColorSpaceToText(header.U32BE(20));
    info.IccPlatform = IccPlatformToText(header.U32BE(40));
    info.IccManufacturer = IccSignatureToText(header.U32BE(48));
    info.IccModel = IccSignatureToText(header.U32BE(52));
    info.IccCreator = IccSignatureToText(header.U32BE(80));

    info.IccDigest = IccMD5OfStream(stream);

    // ICC.1 7.3: the tag count and table. A count larger than the table reads entries
    // until the data ends; every whole entry before that point is used.
    std::array<std::uint8_t, 4> countBytes{};
    stream.Seek(kHeaderSize);
    stream.ReadExact(countBytes);
    std::uint64_t left = ByteView(countBytes).U32BE(0);
    const std::uint64_t size = stream.Size();
    std::uint64_t position = kTagTableStart;
    std::vector<std::uint8_t> entries;
    while (left > 0) {
        const std::uint64_t inData = position < size ? (size - position) / kTagEntrySize : 0;
        const std::uint64_t count = std::min({left, inData, kEntriesPerRead});
        if (count == 0) return;
        entries.resize(static_cast<std::size_t>(count * kTagEntrySize));
        stream.Seek(position);
        stream.ReadExact(entries);
        const ByteView table(entries);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t at = i * kTagEntrySize;
            const TkestIccTag tag{table.U32BE(at), table.U32BE(at + 4), table.U32BE(at + 8)};
            if (auto* member = TextMember(info, tag.Signature)) *member = ReadIccTagText(stream, tag);
        }
        position += count * kTagEntrySize;
        left -= count;
    }
}

}  // namespace

bool IsIccProfileHeader(std::span<const std::uint8_t> probe) {
    const ByteView view(probe);
    return view.Size() >= kHeaderSize && view.Matches(36, "acsp");
}

bool IsIccProfileStream(TStream& stream) {
    try {
        if (stream.Size() < kHeaderSize) return false;
        std::array<std::uint8_t, 4> signature{};
        stream.Seek(36);
        if (stream.Read(signature) != signature.size()) return false;
        return ByteView(signature).Matches(0, "acsp");
    } catch (const std::exception&) {
        return false;
    }
}

void ParseIccProfile(TStream& stream, TkestIccInfo& info) {
    try {
        Parse(stream, info);
    } catch (const std::exception&) {
        // A read error or an allocation failure ends the parse; what was filled stays.
    }
}

std::string IccSignatureToText(std::uint32_t signature) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(static_cast<char>(static_cast<std::uint8_t>(signature >> shift)));
    const auto blank = [](char c) { return static_cast<std::uint8_t>(c) <= 32; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? platform::FileTextToAnsi(std::string_view(first, last)) : std::string();
}

std::string IccVersionToText(std::uint32_t version) {
    // ICC.1 7.2.4: major in byte 0, minor and bug-fix in the two nibbles of byte 1.
    const unsigned parts[] = {(version >> 24) & 0xFFu, (version >> 20) & 0x0Fu, (version >> 16) & 0x0Fu};
    std::size_t used = 3;
    while (used > 1 && parts[used - 1] == 0) --used;
    std::string text = std::to_string(parts[0]);
    for (std::size_t i = 1; i < used; ++i) text += "." + std::to_string(parts[i]);
    return text;
}

std::string IccClassToText(std::uint32_t signature) { return NameOr(kClasses, signature); }

std::string IccColorSpaceToText(std::uint32_t signature) {
    // "2CLR" ... "FCLR": 2 to 15 colours, the count as one hexadecimal digit.
    if ((signature & 0x00FFFFFFu) == (IccSig("xCLR") & 0x00FFFFFFu)) {
        const unsigned digit = signature >> 24;
        if (digit >= '2' && digit <= '9') return std::to_string(digit - '0') + " colors";
        if (digit >= 'A' && digit <= 'F') return std::to_string(digit - 'A' + 10) + " colors";
    }
    // "nc" and a 16-bit number from 1 to 0xFFFF (ICC.1 Table 19, named n-channel spaces).
    if ((signature >> 16) == (IccSig("nc  ") >> 16) && (signature & 0xFFFFu) != 0) {
        const std::uint8_t number[] = {static_cast<std::uint8_t>(signature >> 8), static_cast<std::uint8_t>(signature)};
        return "nc" + DigestToHex(number);
    }
    return NameOr(kColorSpaces, signature);
}

std::string IccPlatformToText(std::uint32_t signature) { return NameOr(kPlatforms, signature); }

std::u16string ReadIccTagText(TStream& stream, const TkestIccTag& tag) {
    const std::uint64_t saved = stream.Position();
    std::u16string text;
    try {
        text = ReadTagBody(stream, tag);
    } catch (const std::exception&) {
        // A read error or an allocation failure ends this tag only.
        text.clear();
    }
    stream.Seek(saved);
    TrimWide(text);
    return text;
}

void SwapUTF16Text(std::u16string& text) {
    for (char16_t& unit : text) unit = static_cast<char16_t>((unit << 8) | (unit >> 8));
}
