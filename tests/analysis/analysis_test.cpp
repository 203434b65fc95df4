// The file analysis end to end: files made by the fixture builders, asked for through the
// plugin's root the way a host asks.
#include "analysis/root.h"
#include "frame/wdx.h"
#include "icc/icc_builder.h"
#include "record_text.h"
#include "support/jpeg_builder.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace jpeg_fixture;

enum Field {
    fExifName = 0, fSegments = 1, fComponentIds = 3, fColorspace = 4, fEncoding = 5, fRestart = 6,
    fQTables = 7, fQuality = 9, fIntegrity = 10, fIccCmm = 13, fIccVersion = 14, fIccClass = 15,
    fIccColorSpace = 16, fIccConnection = 17, fIccPlatform = 18, fIccManufacturer = 19, fIccModel = 21,
    fIccCreator = 23, fIccDescription = 24, fIccCopyright = 25, fIccSize = 26, fIccId = 27, fDebug = 28,
};

class AnalysisTest : public ::testing::Test {
protected:
    AnalysisTest() {
        root.CreateDefaultFields();
        TkestWDXDefaultParams params{};
        params.VersionHigh = 2;
        root.SetDefaultParams(params);
    }

    // A value as text: "-3" for an empty field, else the value (numbers in decimal).
    std::string Value(const std::u16string& file, int field, int flags = 0) {
        std::array<char, 1024> buffer{};
        const int result = root.GetFieldValue(file, field, 0, buffer.data(), 1024, flags, true);
        switch (result) {
            case ft_string: return buffer.data();
            case ft_stringw: return platform::WideToAnsi(reinterpret_cast<const char16_t*>(buffer.data()));
            case ft_numeric_32: {
                std::int32_t value;
                std::memcpy(&value, buffer.data(), 4);
                return std::to_string(value);
            }
            case ft_boolean: return buffer[0] != 0 ? "true" : "false";
            default: return std::to_string(result);
        }
    }

    TempDir dir;
    TOrvaneRoot root;
};

Bytes Profile() {
    return icctest::IccBuilder()
        .Tag("desc", icctest::DescTag({"Test profile", u"Test profile"}))
        .Tag("cprt", icctest::TextTag("Public domain"))
        .Build();
}

TEST_F(AnalysisTest, ProfileFileFillsTheIccFields) {
    const auto file = dir.Write("test.icc", Profile());
    EXPECT_EQ(Value(file, fIccCmm), "lcms");
    EXPECT_EQ(Value(file, fIccVersion), "4.2");
    EXPECT_EQ(Value(file, fIccClass), "Display device");
    EXPECT_EQ(Value(file, fIccColorSpace), "RGB");
    EXPECT_EQ(Value(file, fIccConnection), "nCIEXYZ or PCSXYZ");
    EXPECT_EQ(Value(file, fIccPlatform), "Apple Computer, Inc.");
    EXPECT_EQ(Value(file, fIccManufacturer), "ABCD");
    EXPECT_EQ(Value(file, fIccModel), "M001");
    EXPECT_EQ(Value(file, fIccCreator), "orvn");
    EXPECT_EQ(Value(file, fIccDescription), "Test profile");
    EXPECT_EQ(Value(file, fIccCopyright), "Public domain");
    EXPECT_EQ(Value(file, fIccId).size(), 32u);
    EXPECT_EQ(Value(file, fIccSize), "-3");  // only embedded profiles have a size
    for (int field : {fExifName, fSegments, fColorspace, fQuality, fQTables, fDebug})
        EXPECT_EQ(Value(file, field), "-3") << field;
}

// Reads a field as a host of interface `version` does; the text as UTF-16 either way.
std::u16string TextAs(TOrvaneRoot& root, std::uint32_t version, const std::u16string& file, int field) {
    TkestWDXDefaultParams params{};
    params.VersionHigh = version;
    root.SetDefaultParams(params);
    std::array<char, 1024> buffer{};
    const int result = root.GetFieldValue(file, field, 0, buffer.data(), 1024, 0, true);
    if (result == ft_stringw) return reinterpret_cast<const char16_t*>(buffer.data());
    if (result == ft_string) return platform::AnsiToWide(buffer.data());
    return u"result " + platform::AnsiToWide(std::to_string(result));
}

// The whole full text, in chunks of `chunk` bytes as Double Commander asks for it.
std::string FullText(TOrvaneRoot& root, const std::u16string& file, int chunk) {
    std::string text;
    std::vector<char> buffer(static_cast<std::size_t>(chunk));
    while (root.GetFieldValue(file, 29, static_cast<int>(text.size()), buffer.data(), chunk, 0, false) == ft_fulltext)
        text += buffer.data();
    return text;
}

TEST_F(AnalysisTest, EightBitProfileTextsReachTheHostAsCharacters) {
    // Bytes above 127 of texts written on Windows (0xA9 is the copyright sign there), in the
    // 8-bit tag texts and in a header signature.
    const std::u16string copyright = u"\u00a9 2003 M\u00fcller";
    if (platform::AnsiToWide(platform::WideToAnsi(copyright)) != copyright)
        GTEST_SKIP() << "the system's 8-bit text cannot hold the characters of the fixture";
    const Bytes profile = icctest::IccBuilder()
                              .Sig(48, "\xA9" "ABC")
                              .Tag("desc", icctest::DescTag({"Caf\xE9 profile", u""}))
                              .Tag("cprt", icctest::TextTag("\xA9 2003 M\xFCller"))
                              .Build();
    const auto file = dir.Write("windows.icc", profile);
    for (std::uint32_t version : {1u, 2u}) {
        EXPECT_EQ(TextAs(root, version, file, fIccCopyright), copyright) << version;
        EXPECT_EQ(TextAs(root, version, file, fIccDescription), u"Caf\u00e9 profile") << version;
        EXPECT_EQ(TextAs(root, version, file, fIccManufacturer), u"\u00a9" "ABC") << version;
    }
    EXPECT_NE(FullText(root, file, 2049).find(platform::WideToAnsi(copyright)), std::string::npos);
}

TEST_F(AnalysisTest, TextTagWithoutNulEndsWithItsOwnBytes) {
    // "text", 4 reserved bytes and "abcd": 12 bytes, the next tag right after them.
    const Bytes profile = icctest::IccBuilder()
                              .Tag("cprt", icctest::TextTag("abcd", false))
                              .Tag("desc", icctest::TextTag("next"))
                              .Build();
    const auto file = dir.Write("text.icc", profile);
    EXPECT_EQ(Value(file, fIccCopyright), "abcd");
    EXPECT_EQ(Value(file, fIccDescription), "next");
}

TEST_F(AnalysisTest, FullTextHoldsALongDescriptionWhole) {
    std::u16string description(1500 - 7, u'x');
    description += u" needle";
    const auto file =
        dir.Write("long.icc", icctest::IccBuilder().Tag("desc", icctest::DescTag({"short", description})).Build());
    for (std::uint32_t version : {1u, 2u}) {
        TkestWDXDefaultParams params{};
        params.VersionHigh = version;
        root.SetDefaultParams(params);
        const std::string text = FullText(root, file, 2049);
        EXPECT_NE(text.find(platform::WideToAnsi(description)), std::string::npos) << version;
        EXPECT_NE(text.find("lcms"), std::string::npos) << version;
    }
}

// An APP2 "ICC_PROFILE" chunk (ICC.1 Annex B.4).
Bytes IccChunk(std::uint8_t sequence, std::uint8_t count, const Bytes& data) {
    return Concat({Text(std::string_view("ICC_PROFILE\0", 12)), Bytes{sequence, count}, data});
}

TEST_F(AnalysisTest, JpegWithAnEmbeddedProfileInTwoChunks) {
    const Bytes profile = Profile();
    const Bytes first(profile.begin(), profile.begin() + 100);
    const Bytes second(profile.begin() + 100, profile.end());
    JpegBuilder jpeg;
    jpeg.Soi().App(0, JfifPayload()).App(2, IccChunk(1, 2, first)).App(2, IccChunk(2, 2, second));
    jpeg.DqtAnnexK(50).DhtAnnexK().Sof(0xC0, 16, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    jpeg.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}}).SequentialScanData().Eoi();
    const auto file = dir.Write("embedded.jpg", jpeg.Data());

    EXPECT_EQ(Value(file, fSegments), "JFIF, ICC (2)");
    EXPECT_EQ(Value(file, fComponentIds), "01 02 03");
    EXPECT_EQ(Value(file, fColorspace), "YCbCr");
    EXPECT_EQ(Value(file, fEncoding), "Baseline DCT, Huffman coding");
    EXPECT_EQ(Value(file, fQuality), "50");
    EXPECT_EQ(Value(file, fQTables).size(), 32u);
    EXPECT_EQ(Value(file, fRestart), "-3");
    EXPECT_EQ(Value(file, fExifName), "");  // a JPEG delivers the empty text
    EXPECT_EQ(Value(file, fDebug), "-3");   // never false
    EXPECT_EQ(Value(file, fIccDescription), "Test profile");
    EXPECT_EQ(Value(file, fIccSize), std::to_string(profile.size()));
    // The embedded profile's digest is the stand-alone file's.
    EXPECT_EQ(Value(file, fIccId), Value(dir.Write("same.icc", profile), fIccId));
}

TEST_F(AnalysisTest, EmbeddedProfileShorterThanAHeaderIsAbsent) {
    JpegBuilder jpeg;
    jpeg.Soi().App(2, IccChunk(1, 1, Bytes(100, 0))).DqtAnnexK(75).DhtAnnexK();
    jpeg.Sof(0xC0, 8, 8, {{1}}).Sos({{1}}).SequentialScanData().Eoi();
    const auto file = dir.Write("short-profile.jpg", jpeg.Data());
    EXPECT_EQ(Value(file, fSegments), "ICC");
    EXPECT_EQ(Value(file, fIccCmm), "-3");
    EXPECT_EQ(Value(file, fIccSize), "-3");
    EXPECT_EQ(Value(file, fIccId), "-3");
}

TEST_F(AnalysisTest, ComponentIdentifiersAsText) {
    struct Case {
        std::vector<FrameComponent> components;
        const char* text;
        const char* colorspace;
    } cases[] = {
        {{{1}, {2}, {3}}, "01 02 03", "YCbCr"},
        {{{'R'}, {'G'}, {'B'}}, "RGB", "RGB"},
        {{{1}, {'G'}, {3}}, "01G 03", "RGB"},
        {{{'R'}, {1}}, "R 01", "GrayA"},
        {{{0x80}, {' '}, {'~'}}, "80 20~", "RGB"},  // no subsampling and no JFIF: RGB
    };
    for (const auto& c : cases) {
        JpegBuilder jpeg;
        jpeg.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 8, 8, c.components);
        std::vector<ScanComponent> scan;
        for (const auto& component : c.components) scan.push_back({component.id, 0, 0});
        jpeg.Sos(scan).SequentialScanData().Eoi();
        const auto file = dir.Write("ids.jpg", jpeg.Data());
        TOrvaneRoot fresh;  // the same name is rewritten for each case
        fresh.CreateDefaultFields();
        std::array<char, 64> buffer{};
        EXPECT_EQ(fresh.GetFieldValue(file, fComponentIds, 0, buffer.data(), 64, 0, false), ft_string);
        EXPECT_EQ(std::string(buffer.data()), c.text);
        EXPECT_EQ(fresh.GetFieldValue(file, fColorspace, 0, buffer.data(), 64, 0, false), ft_string);
        EXPECT_EQ(std::string(buffer.data()), c.colorspace) << c.text;
    }
}

// An Adobe APP14 transform names a colour model only of the frame's component count: one
// component is grey, three RGB or YCbCr, four CMYK or YCCK.
TEST_F(AnalysisTest, AdobeTransformAgainstTheComponentCount) {
    struct Case {
        const char* name;
        std::uint8_t transform;
        std::vector<FrameComponent> components;
        const char* record;
    };
    // The rest of each record: the same for all three.
    const std::string rest = "; Encoding=Baseline DCT, Huffman coding; QTabels MD5=A6062EF2029D5BA7C78E2087679D57D9; "
                             "Quality=75; Integrity=OK; Scans=1";
    const Case cases[] = {
        {"gray-transform1.jpg", 1, {{1, 1, 1, 0}},
         "Exif name=; APP segments=Adobe; APP segments (full)=Adobe; Component IDs=01; Colorspace=Gray"},
        {"ycc-transform2.jpg", 2, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}},
         "Exif name=; APP segments=Adobe; APP segments (full)=Adobe; Component IDs=01 02 03; Colorspace=YCbCr"},
        {"four-transform1.jpg", 1, {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}, {4, 1, 1, 0}},
         "Exif name=; APP segments=Adobe; APP segments (full)=Adobe; Component IDs=01 02 03 04; Colorspace=YCCK"},
    };
    for (const Case& c : cases) {
        JpegBuilder jpeg;
        jpeg.Soi().App(14, AdobePayload(c.transform)).DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 16, 16, c.components);
        std::vector<ScanComponent> scan;
        for (const auto& component : c.components) scan.push_back({component.id, component.tq, component.tq});
        jpeg.Sos(scan).SequentialScanData().Eoi();
        EXPECT_EQ(RecordText(root, dir.Write(c.name, jpeg.Data())), c.record + rest) << c.name;
    }
}

TEST_F(AnalysisTest, RecognitionByTheFirstBytes) {
    Bytes acsp128(128, 0);
    std::memcpy(acsp128.data() + 36, "acsp", 4);
    Bytes acsp127(acsp128.begin(), acsp128.end() - 1);
    Bytes both = acsp128;
    both[0] = 0xFF, both[1] = 0xD8, both[2] = 0xFF;
    const auto profile = dir.Write("128.icc", acsp128);
    const auto tooShort = dir.Write("127.icc", acsp127);
    const auto jpegAndProfile = dir.Write("both", both);
    const auto fourBytes = dir.Write("4.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    const auto fiveBytes = dir.Write("5.jpg", {0xFF, 0xD8, 0xFF, 0xD9, 0x00});

    EXPECT_EQ(Value(profile, fIccVersion), "0");  // 128 bytes: a profile whose tag count is missing
    EXPECT_EQ(Value(tooShort, fIccVersion), "-3");
    EXPECT_EQ(Value(jpegAndProfile, fIccVersion), "0");
    EXPECT_EQ(Value(jpegAndProfile, fSegments), "-3");  // analysed as a profile only
    EXPECT_EQ(Value(fourBytes, fSegments), "-3");
    EXPECT_EQ(Value(fiveBytes, fSegments), "");  // a JPEG, though one without segments
}

TEST_F(AnalysisTest, RestartIntervalAndMissingFile) {
    JpegBuilder jpeg;
    jpeg.Soi().DqtAnnexK(90).DhtAnnexK().Dri(4).Sof(0xC0, 64, 8, {{1}}).Sos({{1}}).SequentialScanData().Eoi();
    const auto file = dir.Write("restart.jpg", jpeg.Data());
    EXPECT_EQ(Value(file, fRestart), "4");
    EXPECT_EQ(Value(file, fQuality), "90");
    const auto missing = WideName(dir / "missing.jpg");
    for (int field = 0; field < 29; ++field) EXPECT_EQ(Value(missing, field), "-3") << field;
}

}  // namespace
