// The ICC profile parser: header texts, tag texts, and what it does with broken profiles.
#include "icc/icc_profile.h"

#include "icc/icc_builder.h"
#include "icc/test_streams.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

namespace {

using namespace icctest;
using namespace std::string_literals;

TkestIccInfo Parse(const Bytes& profile) {
    TMemoryStream stream(profile);
    TkestIccInfo info;
    ParseIccProfile(stream, info);
    return info;
}

std::uint32_t Sig(std::string_view four) {
    Bytes bytes;
    PutSig(bytes, 0, four);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// --- header conversions ------------------------------------------------------------------

struct TextCase {
    std::uint32_t value;
    const char* text;
};

TEST(IccHeaderText, Signature) {
    const TextCase cases[] = {
        {Sig("ABCD"), "ABCD"},
        {Sig(std::string_view(" AB\0", 4)), "AB"},
        {0, ""},
        {Sig("    "), ""},
        {Sig("A  B"), "A  B"},
        {0x41017F42, "A\x01\x7F" "B"},  // inner control characters stay
        {0x20094120, "A"},              // tab and space are both cut
    };
    for (const auto& c : cases) EXPECT_EQ(IccSignatureToText(c.value), c.text) << std::hex << c.value;
    // Bytes above 127 stay, as the system's 8-bit text of the file's bytes.
    EXPECT_EQ(IccSignatureToText(0xE9414243), platform::FileTextToAnsi("\xE9" "ABC"));
}

TEST(IccHeaderText, Version) {
    const TextCase cases[] = {
        {0x04200000, "4.2"}, {0x02100000, "2.1"}, {0x04300000, "4.3"}, {0x04000000, "4"},
        {0x02010000, "2.0.1"}, {0x00000000, "0"}, {0xFFFF0000, "255.15.15"}, {0x03400000, "3.4"},
        {0x0220FFFF, "2.2"},  // bytes 10-11 are reserved
    };
    for (const auto& c : cases) EXPECT_EQ(IccVersionToText(c.value), c.text) << std::hex << c.value;
}

TEST(IccHeaderText, Class) {
    const TextCase cases[] = {
        {Sig("scnr"), "Input device"}, {Sig("mntr"), "Display device"}, {Sig("prtr"), "Output device"},
        {Sig("link"), "Device link"}, {Sig("spac"), "Color space"}, {Sig("abst"), "Abstract"},
        {Sig("nmcl"), "Named color"}, {Sig("cenc"), "Color encoding space"},
        {Sig("mid "), "Multiplex identification"}, {Sig("mlnk"), "Multiplex link"},
        {Sig("mvis"), "Multiplex visualization"}, {Sig("MNTR"), "MNTR"}, {Sig(" xy "), "xy"}, {0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(IccClassToText(c.value), c.text) << std::hex << c.value;
}

TEST(IccHeaderText, ColorSpace) {
    const TextCase cases[] = {
        {Sig("XYZ "), "nCIEXYZ or PCSXYZ"}, {Sig("Lab "), "CIELAB or PCSLAB"}, {Sig("Luv "), "CIELUV"},
        {Sig("YCbr"), "YCbCr"}, {Sig("Yxy "), "CIEYxy"}, {Sig("RGB "), "RGB"}, {Sig("GRAY"), "Gray"},
        {Sig("HSV "), "HSV"}, {Sig("HLS "), "HLS"}, {Sig("CMYK"), "CMYK"}, {Sig("CMY "), "CMY"},
        {Sig("LMS "), "LMS"}, {Sig("2CLR"), "2 colors"}, {Sig("9CLR"), "9 colors"}, {Sig("ACLR"), "10 colors"},
        {Sig("BCLR"), "11 colors"}, {Sig("CCLR"), "12 colors"}, {Sig("DCLR"), "13 colors"},
        {Sig("ECLR"), "14 colors"}, {Sig("FCLR"), "15 colors"}, {Sig("1CLR"), "1CLR"}, {Sig("GCLR"), "GCLR"},
        {Sig("aCLR"), "aCLR"}, {0x6E630010, "nc0010"}, {0x6E630003, "nc0003"}, {0x6E63ABCD, "ncABCD"},
        {0x6E63FFFF, "ncFFFF"}, {0x6E630000, "nc"}, {Sig("RGB"), "RGB"}, {0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(IccColorSpaceToText(c.value), c.text) << std::hex << c.value;
}

TEST(IccHeaderText, Platform) {
    const TextCase cases[] = {
        {Sig("APPL"), "Apple Computer, Inc."}, {Sig("MSFT"), "Microsoft Corporation"},
        {Sig("SGI "), "Silicon Graphics, Inc."}, {Sig("SUNW"), "Sun Microsystems, Inc."},
        {0, ""}, {Sig("*nix"), "*nix"}, {Sig("SGI"), "SGI"},
    };
    for (const auto& c : cases) EXPECT_EQ(IccPlatformToText(c.value), c.text) << std::hex << c.value;
}

TEST(IccText, SwapIsUnconditional) {
    std::u16string text = u"\x4100\x4200\x0001\xFEFF";
    SwapUTF16Text(text);
    EXPECT_EQ(text, u"AB\x0100\xFFFE");
}

// --- recognition -------------------------------------------------------------------------

TEST(IccRecognition, HeaderNeeds128BytesAndAcsp) {
    const Bytes profile = IccBuilder().Build();
    const std::span<const std::uint8_t> bytes(profile);
    EXPECT_TRUE(IsIccProfileHeader(bytes.first(128)));
    EXPECT_FALSE(IsIccProfileHeader(bytes.first(127)));
    Bytes other = profile;
    other[36] = 'A';
    EXPECT_FALSE(IsIccProfileHeader(other));
}

TEST(IccRecognition, Stream) {
    const Bytes profile = IccBuilder().Build();
    TMemoryStream whole(profile);
    EXPECT_TRUE(IsIccProfileStream(whole));
    EXPECT_EQ(whole.Position(), 40u) << "just after the signature";

    TMemoryStream exact(Bytes(profile.begin(), profile.begin() + 128));
    EXPECT_TRUE(IsIccProfileStream(exact));
    TMemoryStream short127(Bytes(profile.begin(), profile.begin() + 127));
    EXPECT_FALSE(IsIccProfileStream(short127));

    TracingStream cut(profile, 38);  // the size says more than can be read
    EXPECT_FALSE(IsIccProfileStream(cut));
    FailingStream failing(1000);
    EXPECT_FALSE(IsIccProfileStream(failing));
}

// --- parsing -----------------------------------------------------------------------------

TEST(IccParse, HeaderMembers) {
    const Bytes profile = IccBuilder()
                              .Sig(4, std::string_view(" AB\0", 4))
                              .U32(8, 0x02010000)
                              .Sig(12, "prtr")
                              .Sig(16, "CMYK")
                              .Sig(20, "Lab ")
                              .Sig(40, "MSFT")
                              .Sig(48, "ABCD")
                              .Sig(52, std::string_view("\0\0\0\0", 4))
                              .Sig(80, "appl")
                              .Build();
    const auto info = Parse(profile);
    EXPECT_EQ(info.IccCmm, "AB");
    EXPECT_EQ(info.IccVersion, "2.0.1");
    EXPECT_EQ(info.IccClass, "Output device");
    EXPECT_EQ(info.IccColorSpace, "CMYK");
    EXPECT_EQ(info.IccConnectionSpace, "CIELAB or PCSLAB");
    EXPECT_EQ(info.IccPlatform, "Microsoft Corporation");
    EXPECT_EQ(info.IccManufacturer, "ABCD");
    EXPECT_EQ(info.IccModel, "");
    EXPECT_EQ(info.IccCreator, "appl");
    EXPECT_EQ(info.IccDigest, IccMD5OfBuffer(profile, false));
}

TEST(IccParse, Exactly128BytesGivesHeaderAndDigestOnly) {
    const Bytes full = IccBuilder().Tag("desc", TextTag("never read")).Build();
    const Bytes header(full.begin(), full.begin() + 128);
    const auto info = Parse(header);
    EXPECT_EQ(info.IccClass, "Display device");
    EXPECT_EQ(info.IccCreator, "orvn");
    EXPECT_FALSE(IsEmptyDigest(info.IccDigest));
    EXPECT_EQ(info.IccDescription, u"");
}

TEST(IccParse, TagCountZeroGivesHeaderAndDigestOnly) {
    const Bytes profile = IccBuilder().Tag("desc", TextTag("listed but not counted")).TagCount(0).Build();
    const auto info = Parse(profile);
    EXPECT_EQ(info.IccVersion, "4.2");
    EXPECT_FALSE(IsEmptyDigest(info.IccDigest));
    EXPECT_EQ(info.IccDescription, u"");
}

TEST(IccParse, FourTextTagsLandInTheirMembers) {
    const Bytes profile = IccBuilder()
                              .Tag("dmnd", TextTag("Maker"))
                              .Tag("rXYZ", TextTag("not a text member"))
                              .Tag("dmdd", DescTag({.ansi = "Model", .unicode = u""}))
                              .Tag("desc", MlucTag({{"en", "US", u"Description"}}))
                              .Tag("cprt", TextTag("  CC0  "))
                              .Build();
    const auto info = Parse(profile);
    EXPECT_EQ(info.IccManufacturerDescription, u"Maker");
    EXPECT_EQ(info.IccModelDescription, u"Model");
    EXPECT_EQ(info.IccDescription, u"Description");
    EXPECT_EQ(info.IccCopyright, u"CC0");
}

TEST(IccParse, LaterEntryWithTheSameSignatureWins) {
    EXPECT_EQ(Parse(IccBuilder().Tag("desc", TextTag("first")).Tag("desc", TextTag("second")).Build()).IccDescription,
              u"second");
    Bytes unknownType = TextTag("xxxx");
    PutSig(unknownType, 0, "curv");
    EXPECT_EQ(Parse(IccBuilder().Tag("desc", TextTag("first")).Tag("desc", unknownType).Build()).IccDescription, u"");
    EXPECT_EQ(Parse(IccBuilder().Tag("desc", TextTag("first")).RawEntry("desc", 0x7FFFFFF0, 40).Build()).IccDescription,
              u"");
}

// One tag's text through the parser; the tag is the profile's only entry.
std::u16string TagText(const Bytes& tag, std::uint32_t sizeInTable = 0) {
    IccBuilder builder;
    if (sizeInTable == 0) {
        builder.Tag("desc", tag);
    } else {
        // Entry size other than the data's: place the data right after the one entry.
        builder.RawEntry("desc", 144, sizeInTable);
    }
    Bytes profile = builder.Build();
    if (sizeInTable != 0) {
        profile.resize(144);
        profile.insert(profile.end(), tag.begin(), tag.end());
    }
    return Parse(profile).IccDescription;
}

struct TagCase {
    const char* what;
    Bytes tag;
    std::uint32_t sizeInTable;  // 0: the tag's own size
    std::u16string text;
};

TEST(IccTagText, Table) {
    const std::string long300(300, 'x');
    const TagCase cases[] = {
        {"text with NUL", TextTag("Copyright"), 0, u"Copyright"},
        {"text stops at the first NUL", TextTag(std::string_view("ab\0cd", 5)), 0, u"ab"},
        {"text without NUL within its size", TextTag("abcdefghijkl", false), 20, u"abcdefghijkl"},
        {"text without NUL ends with its size, not in the next tag",
         [] { Bytes t = TextTag("abcd", false); Append(t, "text"); return t; }(), 12, u"abcd"},
        {"text whose size is only its type header", TextTag("abc"), 8, u""},
        {"text of 300 characters yields 100", TextTag(long300), 0, std::u16string(100, u'x')},
        {"text with its NUL inside the size", TextTag("abc"), 12, u"abc"},
        {"text with a huge size stops at its NUL", TextTag("abc"), 0xFFFFFFFF, u"abc"},
        {"desc: Unicode count 0 gives the 8-bit text", DescTag({.ansi = "sRGB", .unicode = u""}), 0, u"sRGB"},
        {"desc: blank Unicode gives the 8-bit text", DescTag({.ansi = "sRGB ", .unicode = u"  \0 "s}), 0, u"sRGB"},
        {"desc: both texts give the Unicode one", DescTag({.ansi = "ascii", .unicode = u"\u00FCnicode"}), 0,
         u"\u00FCnicode"},
        {"desc: Unicode text is trimmed", DescTag({.ansi = "", .unicode = u" \0Uni\0"s}), 0, u"Uni"},
        {"desc: nothing at all", DescTag({.ansi = "", .unicode = u""}), 0, u""},
        {"mluc: the first record, whatever its language",
         MlucTag({{"de", "DE", u"Farbprofil"}, {"en", "US", u"Colour profile"}}), 0, u"Farbprofil"},
        {"mluc: no records", MlucTag({}), 0, u""},
        {"mluc: a surrogate pair stays", MlucTag({{"en", "US", u"a\U0001F600b"}}), 0, u"a\U0001F600b"},
        {"mluc: lone surrogates become U+FFFD", MlucTag({{"en", "US", u"a\xD800" u"b\xDCA9" u"c\xDBFF"}}), 0,
         u"a\uFFFDb\uFFFDc\uFFFD"},
        {"desc: a lone surrogate becomes U+FFFD", DescTag({.ansi = "", .unicode = u"\xDE00x"}), 0, u"\uFFFDx"},
        {"unknown type", [] { Bytes t = TextTag("abc"); PutSig(t, 0, "XYZ "); return t; }(), 0, u""},
    };
    for (const auto& c : cases) EXPECT_EQ(TagText(c.tag, c.sizeInTable), c.text) << c.what;
}

TEST(IccTagText, TextSizeCountsFromTheTypeSignature) {
    // The table size covers the 8 bytes before the characters: a size of 14 holds 6 of
    // them, and the bytes after it are not the tag's.
    Bytes tag = TextTag("abc", false);
    Append(tag, "defghij");
    EXPECT_EQ(TagText(tag, 14), u"abcdef");
    EXPECT_EQ(TagText(tag, 6), u"");
}

TEST(IccTagText, MlucRecordLengthIsHalvedDownAndRecordSizeChecked) {
    Bytes odd = MlucTag({{"en", "US", u"abcd"}});
    PutU32BE(odd, 20, 7);  // 7 bytes: 3 code units
    EXPECT_EQ(TagText(odd), u"abc");
    Bytes one = odd;
    PutU32BE(one, 20, 1);
    EXPECT_EQ(TagText(one), u"");
    Bytes smallRecords = MlucTag({{"en", "US", u"abcd"}});
    PutU32BE(smallRecords, 12, 11);
    EXPECT_EQ(TagText(smallRecords), u"");
    Bytes emptyFirst = MlucTag({{"en", "US", u""}, {"de", "DE", u"zweite"}});
    EXPECT_EQ(TagText(emptyFirst), u"");
}

TEST(IccTagText, EightBitBytesKeepTheirValuesBelow128) {
    std::string all;
    for (int c = 33; c < 127; ++c) all.push_back(static_cast<char>(c));
    std::u16string expected(all.begin(), all.end());
    EXPECT_EQ(TagText(DescTag({.ansi = all, .unicode = u""})), expected);
    EXPECT_EQ(TagText(TextTag(all.substr(0, 90))), expected.substr(0, 90));
}

TEST(IccTagText, PositionIsRestored) {
    const Bytes profile = IccBuilder().Tag("desc", TextTag("Description")).Build();
    const struct {
        TkestIccTag tag;
        std::u16string text;
    } cases[] = {
        {{IccSig("desc"), 144, 20}, u"Description"},
        {{IccSig("desc"), 0xFFFFFFF0u, 20}, u""},  // past the end
        {{IccSig("desc"), static_cast<std::uint32_t>(profile.size() - 2), 20}, u""},
    };
    for (const auto& c : cases) {
        TMemoryStream memory(profile);
        memory.Seek(77);
        EXPECT_EQ(ReadIccTagText(memory, c.tag), c.text);
        EXPECT_EQ(memory.Position(), 77u);
        TracingStream traced(profile);
        traced.Seek(1234567);
        EXPECT_EQ(ReadIccTagText(traced, c.tag), c.text);
        EXPECT_EQ(traced.Position(), 1234567u);
        FailingStream failing(profile.size());
        failing.Seek(9);
        EXPECT_EQ(ReadIccTagText(failing, c.tag), u"");
        EXPECT_EQ(failing.Position(), 9u);
    }
}

// --- hostile profiles --------------------------------------------------------------------

// Parses through a stream that records its reads; no read may ask for more than exists.
TkestIccInfo ParseTraced(const Bytes& profile, std::size_t* reads = nullptr) {
    TracingStream stream(profile);
    TkestIccInfo info;
    ParseIccProfile(stream, info);
    EXPECT_LE(stream.LargestRequest(), profile.size()) << "a read sized by a count from the profile";
    if (reads) *reads = stream.requests.size();
    return info;
}

TEST(IccHostile, HugeTagCountEndsWithTheData) {
    const Bytes profile =
        IccBuilder().Tag("desc", TextTag("one")).Tag("cprt", TextTag("two")).TagCount(0xFFFFFFFF).Build();
    std::size_t reads = 0;
    const auto info = ParseTraced(profile, &reads);
    EXPECT_EQ(info.IccDescription, u"one");
    EXPECT_EQ(info.IccCopyright, u"two");
    EXPECT_LT(reads, 40u) << "the walk ends where the table runs past the data";
}

TEST(IccHostile, TagTableRunningPastTheEndUsesEveryWholeEntry) {
    Bytes profile = IccBuilder().Tag("desc", TextTag("one")).Tag("cprt", TextTag("two")).TagCount(5).Build();
    // Entries 3 to 5 lie over the tag data and past the end; cut the data mid-entry.
    const auto info = Parse(profile);
    EXPECT_EQ(info.IccDescription, u"one");
    EXPECT_EQ(info.IccCopyright, u"two");

    // A "text" tag in the header's reserved bytes 100-127, and a table cut in its second entry.
    Bytes cut = IccBuilder().Sig(100, "text").Sig(108, "hdr").RawEntry("desc", 100, 12).RawEntry("cprt", 100, 12).Build();
    cut.resize(132 + 12 + 6);
    const auto partial = Parse(cut);
    EXPECT_EQ(partial.IccDescription, u"hdr");
    EXPECT_EQ(partial.IccCopyright, u"");
    EXPECT_EQ(partial.IccClass, "Display device");
    EXPECT_FALSE(IsEmptyDigest(partial.IccDigest));
}

struct HostileTag {
    const char* what;
    Bytes tag;
};

TEST(IccHostile, CountsAndOffsetsPastTheDataEndOnlyThatTag) {
    Bytes mlucOffset = MlucTag({{"en", "US", u"text"}});
    PutU32BE(mlucOffset, 24, 0xFFFFFF00);
    Bytes mlucLength = MlucTag({{"en", "US", u"text"}});
    PutU32BE(mlucLength, 20, 0xFFFFFFFF);
    Bytes mlucCount = MlucTag({{"en", "US", u"text"}});
    PutU32BE(mlucCount, 8, 0xFFFFFFFF);  // the count itself is never used for reading
    Bytes mlucCut = MlucTag({{"en", "US", u"text"}});
    mlucCut.resize(24);
    const HostileTag cases[] = {
        {"desc 8-bit count 0xFFFFFFFF", DescTag({.ansi = "ascii", .unicode = u"", .ansiCount = 0xFFFFFFFF})},
        {"desc Unicode count 0xFFFFFFFF", DescTag({.ansi = "ascii", .unicode = u"uni", .unicodeCount = 0xFFFFFFFF})},
        {"desc Unicode count 0x80000000", DescTag({.ansi = "ascii", .unicode = u"uni", .unicodeCount = 0x80000000})},
        {"mluc offset past the end", mlucOffset},
        {"mluc length past the end", mlucLength},
        {"mluc record cut off", mlucCut},
    };
    // The broken tag is the first entry and the last bytes of the profile, so that its
    // counts reach past the end of the data and not into another tag.
    const auto profileWith = [](const Bytes& tag) {
        Bytes profile = IccBuilder().RawEntry("desc", 172, 40).Tag("cprt", TextTag("after")).Build();
        EXPECT_EQ(profile.size(), 172u);
        profile.insert(profile.end(), tag.begin(), tag.end());
        return profile;
    };
    for (const auto& c : cases) {
        const auto info = ParseTraced(profileWith(c.tag));
        EXPECT_EQ(info.IccDescription, u"") << c.what;
        EXPECT_EQ(info.IccCopyright, u"after") << c.what << ": the next entry is still read";
    }
    EXPECT_EQ(ParseTraced(profileWith(mlucCount)).IccDescription, u"text");
}

TEST(IccHostile, TagOffsetsPointingAnywhere) {
    const std::uint32_t offsets[] = {0, 36, 127, 128, 131, 0xFFFFFFFF, 0xFFFFFFFC, 0x80000000};
    for (const std::uint32_t offset : offsets) {
        const Bytes profile = IccBuilder().RawEntry("desc", offset, 0xFFFFFFFF).Tag("cprt", TextTag("ok")).Build();
        const auto info = ParseTraced(profile);
        EXPECT_EQ(info.IccCopyright, u"ok") << offset;
    }
}

TEST(IccHostile, TruncatedHeaderFillsNothing) {
    const Bytes profile = IccBuilder().Build();
    for (const std::size_t size : {0u, 4u, 40u, 127u}) {
        const auto info = Parse(Bytes(profile.begin(), profile.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(info.IccCmm, "") << size;
        EXPECT_EQ(info.IccClass, "") << size;
        EXPECT_TRUE(IsEmptyDigest(info.IccDigest)) << size;
    }
}

TEST(IccHostile, ReadErrorInTheDigestKeepsTheHeader) {
    // The stream's size promises more than it delivers: the header is read, the digest
    // raises, and the parse ends there without raising itself.
    const Bytes profile = IccBuilder().Tag("desc", TextTag("never")).Build();
    TracingStream stream(profile, 130);
    TkestIccInfo info;
    EXPECT_NO_THROW(ParseIccProfile(stream, info));
    EXPECT_EQ(info.IccClass, "Display device");
    EXPECT_EQ(info.IccCreator, "orvn");
    EXPECT_TRUE(IsEmptyDigest(info.IccDigest));
    EXPECT_EQ(info.IccDescription, u"");

    FailingStream failing(4096);
    TkestIccInfo none;
    EXPECT_NO_THROW(ParseIccProfile(failing, none));
    EXPECT_EQ(none.IccCmm, "");
}

TEST(IccParse, FileStreamEqualsMemoryStream) {
    const Bytes profile = IccBuilder()
                              .Tag("desc", DescTag({.ansi = "8-bit", .unicode = u"Unicode"}))
                              .Tag("cprt", TextTag("Copyright"))
                              .Tag("dmdd", MlucTag({{"en", "GB", u"Model"}}))
                              .Build();
    TempDir dir;
    auto file = TFileStream::Open(dir.Write("profile.icc", profile));
    ASSERT_TRUE(file);
    TkestIccInfo fromFile;
    ParseIccProfile(*file, fromFile);
    const auto fromMemory = Parse(profile);
    EXPECT_EQ(fromFile.IccDescription, u"Unicode");
    EXPECT_EQ(fromFile.IccDescription, fromMemory.IccDescription);
    EXPECT_EQ(fromFile.IccCopyright, fromMemory.IccCopyright);
    EXPECT_EQ(fromFile.IccModelDescription, u"Model");
    EXPECT_EQ(fromFile.IccDigest, fromMemory.IccDigest);
    EXPECT_EQ(fromFile.IccVersion, fromMemory.IccVersion);
}

}  // namespace
