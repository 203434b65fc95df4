// The four fields of the full decoding pass: integrity, scans, trailer and the full APP
// catalogue, their delayed answers, and the pass run once per record whatever the threads.
#include "analysis/root.h"
#include "frame/wdx.h"
#include "jpeg/tool_files.h"
#include "record_text.h"
#include "support/jpeg_builder.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace jpeg_fixture;

enum Field { fSegments = 1, fSegmentsFull = 2, fColorspace = 4, fIntegrity = 10, fScans = 11, fTrailer = 12 };

class DecodeTest : public ::testing::Test {
protected:
    DecodeTest() {
        root.CreateDefaultFields();
        TkestWDXDefaultParams params{};
        params.VersionHigh = 2;
        root.SetDefaultParams(params);
    }

    // "type:value" ("11:OK", "2:100"), or the result code alone ("-3").
    static std::string Answer(int result, const char* buffer) {
        switch (result) {
            case ft_string: return "8:" + std::string(buffer);
            case ft_stringw: return "11:" + platform::WideToAnsi(reinterpret_cast<const char16_t*>(buffer));
            case ft_numeric_32: {
                std::int32_t value;
                std::memcpy(&value, buffer, 4);
                return "1:" + std::to_string(value);
            }
            case ft_numeric_64: {
                std::int64_t value;
                std::memcpy(&value, buffer, 8);
                return "2:" + std::to_string(value);
            }
            case ft_delayed: return "0:" + std::string(buffer);
            default: return std::to_string(result);
        }
    }
    std::string Value(const std::u16string& file, int field, int flags = 0, bool wide = true) {
        alignas(8) std::array<char, 1024> buffer{};
        const int result = root.GetFieldValue(file, field, 0, buffer.data(), 1024, flags, wide);
        if (result == ft_delayed && wide) return "0:" + platform::WideToAnsi(reinterpret_cast<const char16_t*>(buffer.data()));
        return Answer(result, buffer.data());
    }

    TempDir dir;
    TOrvaneRoot root;
};

Bytes WithTrailer(Bytes image, std::size_t count) {
    image.insert(image.end(), count, 0x5A);
    return image;
}

TEST_F(DecodeTest, CompleteFiles) {
    const auto baseline = dir.Write("baseline.jpg", BaselineImage(64, 48));
    EXPECT_EQ(Value(baseline, fIntegrity), "11:OK");
    EXPECT_EQ(Value(baseline, fScans), "1:1");
    EXPECT_EQ(Value(baseline, fTrailer), "-3");  // nothing after EOI
    EXPECT_EQ(Value(baseline, fSegmentsFull), "8:JFIF");

    const auto progressive = dir.Write("progressive.jpg", ProgressiveImage(100, 60, 3, 4));
    EXPECT_EQ(Value(progressive, fIntegrity), "11:OK");
    EXPECT_EQ(Value(progressive, fScans), "1:10");
}

TEST_F(DecodeTest, TrailerIsWhatFollowsEoi) {
    const auto file = dir.Write("trailer.jpg", WithTrailer(BaselineImage(64, 48), 100));
    EXPECT_EQ(Value(file, fIntegrity), "11:OK");
    EXPECT_EQ(Value(file, fTrailer), "2:100");
    // A pass that does not end at EOI has no trailer, whatever follows the data.
    const Bytes image = BaselineImage(64, 48);
    const auto cut = dir.Write("cut-trailer.jpg", WithTrailer(Bytes(image.begin(), image.begin() + 700), 100));
    EXPECT_EQ(Value(cut, fTrailer), "-3");
    EXPECT_EQ(Value(cut, fIntegrity).rfind("11:Corrupted (", 0), 0u);
}

// A trailer of more than 4 GiB: a sparse file, the stream at its start.
TEST_F(DecodeTest, TrailerBeyondFourGiB) {
    const Bytes image = BaselineImage(64, 48);
    const auto file = dir.Write("huge-trailer.jpg", image);
    constexpr std::uintmax_t kSize = std::uintmax_t{5} << 30;
    std::error_code error;
    std::filesystem::resize_file(dir / "huge-trailer.jpg", kSize, error);
    if (error) GTEST_SKIP() << "a sparse file of 5 GiB cannot be made here: " << error.message();
    EXPECT_EQ(Value(file, fTrailer), "2:" + std::to_string(kSize - image.size()));
    EXPECT_EQ(Value(file, fIntegrity), "11:OK");
}

TEST_F(DecodeTest, IntegrityWording) {
    const Bytes progressive = ProgressiveImage(100, 60, 3);
    JpegBuilder damaged;
    damaged.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 128, 8, {{1, 1, 1, 0}}).Dri(4).Sos({{1, 0, 0}});
    damaged.SequentialScanData(PatternBlock, 0, [](std::size_t, std::size_t block) { return block == 6; }).Eoi();
    JpegBuilder lossless, arithmetic, hierarchical;
    lossless.Soi().Dht(0, 0, annex_k::kDcLuminance).Sof(0xC3, 8, 8, {{1, 1, 1, 0}}).Sos({{1, 0, 0}}, 1, 0, 0, 0);
    lossless.Raw({0x12, 0x34}).Eoi();
    arithmetic.Soi().DqtAnnexK(75).Sof(0xC9, 8, 8, {{1, 1, 1, 0}}).Segment(0xCC, {0x00, 0x10}).Sos({{1, 0, 0}});
    arithmetic.Raw({0x12, 0x34}).Eoi();
    hierarchical.Soi().DqtAnnexK(75).Sof(0xCD, 8, 8, {{1, 1, 1, 0}}).Segment(0xCC, {0x00, 0x10}).Sos({{1, 0, 0}});
    hierarchical.Raw({0x12, 0x34}).Eoi();
    struct Case {
        const char* name;
        Bytes bytes;
        const char* integrity;
    };
    const Case cases[] = {
        {"cut.jpg", Bytes(progressive.begin(), progressive.begin() + 900), "11:Corrupted (90% read)"},
        {"restart-damage.jpg", damaged.Data(), "11:Corrupted (88% read)"},
        {"lossless.jpg", lossless.Data(), "11:Unsupported yet"},
        {"arithmetic.jpg", arithmetic.Data(), "11:OK"},
        {"hierarchical.jpg", hierarchical.Data(), "11:Unsupported yet"},
        {"eoi-first.jpg", {0xFF, 0xD8, 0xFF, 0xD9, 0x00}, "11:Corrupted (0% read)"},
    };
    for (const Case& c : cases) EXPECT_EQ(Value(dir.Write(c.name, c.bytes), fIntegrity), c.integrity) << c.name;
}

// The entropy-coded data between the restart markers `n` and `n` + 1 of the file taken out,
// the markers kept.
Bytes WithoutInterval(const Bytes& bytes, std::size_t n) {
    std::vector<std::size_t> restarts;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7) restarts.push_back(i);
    if (n + 1 >= restarts.size()) return bytes;
    Bytes out = bytes;
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(restarts[n] + 2),
              out.begin() + static_cast<std::ptrdiff_t>(restarts[n + 1]));
    return out;
}

// cjpeg's restart intervals of one block in files of several scans, one interval's data lost
// in the first scan: every later interval and scan is decoded (djpeg likewise decodes all of
// them, with one warning).
TEST_F(DecodeTest, LostRestartIntervalKeepsTheLaterScans) {
    SKIP_WITHOUT_TOOL("cjpeg");
    struct Case {
        const char* file;
        const char* record;
    };
    const Case cases[] = {
        {"component-scans-restart.jpg",
         "Exif name=; APP segments=JFIF; APP segments (full)=JFIF; Component IDs=01 02 03; Colorspace=YCbCr; "
         "Encoding=Baseline DCT, Huffman coding; Restart interval=1; QTabels MD5=A6062EF2029D5BA7C78E2087679D57D9; "
         "Quality=75; Integrity=Corrupted (99% read); Scans=3"},
        {"progressive-restart.jpg",
         "Exif name=; APP segments=JFIF; APP segments (full)=JFIF; Component IDs=01 02 03; Colorspace=YCbCr; "
         "Encoding=Progressive DCT, Huffman coding; Restart interval=1; QTabels MD5=A6062EF2029D5BA7C78E2087679D57D9; "
         "Quality=75; Integrity=Corrupted (99% read); Scans=10"},
    };
    for (const Case& c : cases) {
        const Bytes intact = ReadFile(ToolDir() / "scans" / c.file);
        const auto file = dir.Write(c.file, WithoutInterval(intact, 10));
        EXPECT_EQ(RecordText(root, file), c.record) << c.file;
    }
}

// The share read is at most all of the image, also where the units decoded outnumber those
// expected.
TEST_F(DecodeTest, ShareReadIsAtMostAllOfTheImage) {
    JpegBuilder twoScans;
    twoScans.Soi().App(0, JfifPayload()).DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 64, 64, {{1, 1, 1, 0}});
    twoScans.Sos({{1, 0, 0}}).SequentialScanData().Sos({{1, 0, 0}});
    const std::size_t second = twoScans.Size();
    twoScans.SequentialScanData().Eoi();
    JpegBuilder dnl;
    dnl.Soi().App(0, JfifPayload()).DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 32, 0, {{1, 1, 1, 0}});
    dnl.Sos({{1, 0, 0}}).SequentialScanData(PatternBlock, 24).Dnl(8);
    struct Case {
        const char* name;
        Bytes bytes;
        const char* record;
    };
    const Case cases[] = {
        {"second-scan-cut.jpg", twoScans.Cut((second + twoScans.Size()) / 2),
         "Exif name=; APP segments=JFIF; APP segments (full)=JFIF; Component IDs=01; Colorspace=Gray; "
         "Encoding=Baseline DCT, Huffman coding; QTabels MD5=A6062EF2029D5BA7C78E2087679D57D9; Quality=75; "
         "Integrity=Corrupted (100% read); Scans=2"},
        {"dnl-below-the-data.jpg", dnl.Data(),
         "Exif name=; APP segments=JFIF; APP segments (full)=JFIF; Component IDs=01; Colorspace=Gray; "
         "Encoding=Baseline DCT, Huffman coding; QTabels MD5=A6062EF2029D5BA7C78E2087679D57D9; Quality=75; "
         "Integrity=Corrupted (100% read); Scans=1"},
    };
    for (const Case& c : cases) EXPECT_EQ(RecordText(root, dir.Write(c.name, c.bytes)), c.record) << c.name;
}

TEST_F(DecodeTest, ScansOfAPassThatFailsBeforeTheFirstScan) {
    JpegBuilder b;
    b.Soi().Segment(0xDB, {0x20}).DhtAnnexK();  // DQT precision 2: corrupt
    const auto file = dir.Write("bad-dqt.jpg", b.Data());
    EXPECT_EQ(Value(file, fScans), "1:0");
    EXPECT_EQ(Value(file, fIntegrity), "11:Corrupted (0% read)");
}

// The full catalogue holds the APP and COM segments after the first scan too.
TEST_F(DecodeTest, FullCatalogueSeesTheWholeFile) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).DqtAnnexK(75).DhtAnnexK().Sof(0xC0, 16, 16, {{1, 1, 1, 0}});
    b.Sos({{1, 0, 0}}).SequentialScanData().Com("between").App(1, Text("XYZ")).Sos({{1, 0, 0}}).SequentialScanData();
    b.Eoi();
    const auto file = dir.Write("two-scans.jpg", b.Data());
    EXPECT_EQ(Value(file, fSegments), "8:JFIF");
    EXPECT_EQ(Value(file, fSegmentsFull), "8:JFIF, COM, XYZ [APP1]");
    EXPECT_EQ(Value(file, fScans), "1:2");
}

TEST_F(DecodeTest, DelayedAnswers) {
    const auto jpeg = dir.Write("delay.jpg", BaselineImage(64, 48));
    for (int field : {fSegmentsFull, fIntegrity, fScans, fTrailer}) {
        EXPECT_EQ(Value(jpeg, field, CONTENT_DELAYIFSLOW, true), "0:Decoding...") << field;
        EXPECT_EQ(Value(jpeg, field, CONTENT_DELAYIFSLOW, false), "0:Decoding...") << field;
    }
    // A fast field of the same file is answered in the same kind of call.
    EXPECT_EQ(Value(jpeg, fColorspace, CONTENT_DELAYIFSLOW), "8:YCbCr");
    EXPECT_EQ(Value(jpeg, fIntegrity), "11:OK");
    // A file that does not start as a JPEG stream is served at once: nothing to decode.
    const auto text = dir.Write("notes.txt", Text("not a picture"));
    EXPECT_EQ(Value(text, fIntegrity, CONTENT_DELAYIFSLOW), "-3");
    EXPECT_EQ(Value(WideName(dir / "missing.jpg"), fIntegrity, CONTENT_DELAYIFSLOW), "-3");
}

// A record made by the header pass of a file that is gone when the pass runs: the values
// are those of a pass that could not open the file.
TEST_F(DecodeTest, FileDeletedAfterTheHeaderPass) {
    const auto file = dir.Write("deleted.jpg", BaselineImage(64, 48));
    const auto record = root.AnalyseFile(file);
    std::filesystem::remove(dir / "deleted.jpg");
    alignas(8) std::array<char, 256> buffer{};
    const TkestWDXRequest request{file, 0, buffer.data(), 256, 0, true};
    std::string answers;
    for (int field : {fIntegrity, fScans, fTrailer, fSegmentsFull}) {
        buffer.fill(1);
        answers += Answer(root.GetField(field).FetchValue(request, *record), buffer.data()) + " ";
    }
    EXPECT_EQ(answers, "11: 1:0 -3 8: ");
}

// Coefficient maps beyond their limit end the pass as a failed allocation: nothing is
// claimed about the file.
TEST_F(DecodeTest, FrameTooLargeForItsCoefficientsClaimsNothing) {
    JpegBuilder b;
    b.Soi().App(0, JfifPayload()).DqtAnnexK(75).Dht(0, 0, annex_k::kDcLuminance);
    b.Sof(0xC2, 65535, 65535, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
    b.Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 0, 0, 0).Raw({0x00}).Eoi();
    const auto file = dir.Write("huge.jpg", b.Data());
    EXPECT_EQ(Value(file, fColorspace), "8:YCbCr");
    EXPECT_EQ(Value(file, fIntegrity), "11:");
    EXPECT_EQ(Value(file, fScans), "1:0");
    EXPECT_EQ(Value(file, fTrailer), "-3");
    EXPECT_EQ(Value(file, fSegmentsFull), "8:");
}

// Several threads asking for the pass's fields of one file: it runs once, and every answer
// is the complete one.
TEST_F(DecodeTest, ConcurrentRequestsShareOnePass) {
    const auto file = dir.Write("shared.jpg", WithTrailer(ProgressiveImage(400, 300, 3, 7), 5));
    std::vector<std::string> answers(8);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < answers.size(); ++t)
        threads.emplace_back([&, t] {
            const int field = std::array{fIntegrity, fScans, fTrailer, fSegmentsFull}[t % 4];
            answers[t] = Value(file, field);
        });
    for (auto& thread : threads) thread.join();
    const std::array<std::string, 4> expected = {"11:OK", "1:10", "2:5", "8:JFIF"};
    for (std::size_t t = 0; t < answers.size(); ++t) EXPECT_EQ(answers[t], expected[t % 4]);
}

}  // namespace
