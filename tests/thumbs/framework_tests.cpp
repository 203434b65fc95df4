// The collection: registry order, dispatch of a run's segments, multi-segment runs and
// their file ranges, sorting, the post thumbs read from the file, and the field text.
#include "analysis/jpeg_with_thumbs.h"
#include "thumb_helpers.h"
#include "thumbs/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

using jpeg_fixture::Text;

namespace {

TEST(Registry, ClassesStandInTheirRegistrationOrder) {
    // Every class the registry may hold, by index.
    const Names order = {
        "TkestJpegThumbBaseHandler",      "TkestJpegThumbAPP2v1Handler",  "TkestJpegThumbAPP2v2Handler",
        "TkestJpegThumbAPP3Handler",      "TkestJpegThumbAPP4Handler",    "TkestJpegThumbAPP5Handler",
        "TkestJpegThumbJFIFHandler",      "TkestJpegThumbJFXXHandler",    "TkestJpegThumbExifHandler",
        "TkestJpegThumbMPFHandler",       "TkestJpegThumbFPXR2Handler",   "TkestJpegThumbFPXR4Handler",
        "TkestJpegThumbFLIRHandler",      "TkestJpegThumbPhotoshopHandler", "TkestJpegThumbH3X0Handler",
        "TkestJpegThumbHPSCHandler2",     "TkestJpegThumbHPSCHandler1",   "TkestJpegThumbSCRNAILHandler",
        "TkestJpegThumbPDBigTNHandler",   "TkestJpegThumbQVGAHandler",    "TkestJpegThumbBGTHHandler",
        "TkestJpegThumbPrvHandler",       "TkestJpegThumbSamsungHandler", "TkestJpegThumbXMTHHandler",
        "TkestJpegThumbRICOHHandler",     "TkestJpegThumbPENTAXHandler",  "TkestJpegThumbSCALADOHandler",
        "TkestJpegThumbQTIDebugMetadataHandler", "TkestJpegThumbQualcommHandler",
    };
    Names registered;
    for (const TkestJpegThumbHandlerClass& c : ThumbHandlers()) registered.push_back(c.ClassName);
    // The classes registered so far keep the order above (vendor classes slot in between).
    Names expected;
    for (const std::string& name : order)
        if (std::find(registered.begin(), registered.end(), name) != registered.end()) expected.push_back(name);
    EXPECT_EQ(registered, expected);
    for (const char* name : {"TkestJpegThumbBaseHandler", "TkestJpegThumbJFIFHandler", "TkestJpegThumbJFXXHandler",
                             "TkestJpegThumbExifHandler", "TkestJpegThumbMPFHandler"})
        EXPECT_NE(std::find(registered.begin(), registered.end(), name), registered.end()) << name;
    ASSERT_FALSE(registered.empty());
    EXPECT_EQ(registered.front(), "TkestJpegThumbBaseHandler");
    EXPECT_FALSE(ThumbHandlers()[0].IsMultiSegment);
}

// ---------------------------------------------------------------------------------------
// Dispatch, with handler classes of the test's own that write down what they are given.

std::vector<std::string> g_log;

std::string Describe(const char* who, std::uint8_t marker, ByteView data, std::uint32_t length) {
    return std::string(who) + " " + std::to_string(marker - 0xE0) + " " +
           std::string(reinterpret_cast<const char*>(data.Data()), data.Size()) + " " + std::to_string(length);
}

// Takes every segment; writes down which.
class CatchAll final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "CatchAll";
    static bool CanHandle(std::uint8_t, ByteView, std::uint32_t) { return true; }
    void ProcessSegment(std::uint64_t, std::uint8_t m, ByteView d, std::uint32_t l) override {
        g_log.push_back(Describe("any", m, d, l));
    }
};

// APP9 segments: "S..." starts a preview, "C..." continues it; the bytes after the first
// are collected, and Finish reports them as one raw preview.
class Sequence final : public TkestJpegThumbMultiHandler {
public:
    using TkestJpegThumbMultiHandler::TkestJpegThumbMultiHandler;
    static constexpr const char* ClassName = "Sequence";
    static bool CanHandle(std::uint8_t m, ByteView d, std::uint32_t) { return m == 0xE9 && d.Matches(0, "S"); }
    bool CanContinue(std::uint8_t m, ByteView d, std::uint32_t) override { return m == 0xE9 && d.Matches(0, "C"); }
    std::string GetName() const override { return "SEQ"; }
    void ProcessSegment(std::uint64_t, std::uint8_t m, ByteView d, std::uint32_t l) override {
        g_log.push_back(Describe("seq", m, d, l));
        Owner.AppendSegmentData(1, d.Sub(1));
    }
    void Finish() override {
        const std::string data(Owner.Data.begin(), Owner.Data.end());
        g_log.push_back("finish " + data);
        ReportThumb(tkRgb, 0, static_cast<std::int64_t>(Owner.DataLength()), 1, 1, 100, false, "");
    }
};

// APP10 segments that make the handler throw, as an allocation failure would.
int g_alive = 0;
class Thrower final : public TkestJpegThumbMultiHandler {
public:
    explicit Thrower(TkestJpegThumbs& owner) : TkestJpegThumbMultiHandler(owner) { ++g_alive; }
    ~Thrower() override { --g_alive; }
    static constexpr const char* ClassName = "Thrower";
    static bool CanHandle(std::uint8_t m, ByteView, std::uint32_t) { return m == 0xEA; }
    void ProcessSegment(std::uint64_t, std::uint8_t, ByteView d, std::uint32_t) override {
        if (d.Matches(0, "!")) throw std::runtime_error("out of memory");
    }
    void Finish() override { g_log.push_back("thrower finish"); }
};

constexpr TkestJpegThumbHandlerClass kTestClasses[] = {
    HandlerClassOf<CatchAll>(), HandlerClassOf<Sequence>(), HandlerClassOf<Thrower>()};

std::vector<std::string> Dispatch(const Bytes& run, TkestJpegThumbs* out = nullptr) {
    g_log.clear();
    TkestJpegThumbs local(kTestClasses);
    TkestJpegThumbs& thumbs = out ? *out : local;
    thumbs.ProcessSegments(kRunOffset, run);
    return g_log;
}

TEST(Dispatch, SpecificClassesFirstCatchAllLast) {
    EXPECT_EQ(Dispatch(AppRun({{0xE9, Text("Sab")}, {0xE9, Text("Ccd")}, {0xE1, Text("x")}, {0xE9, Text("Cef")}})),
              (Names{"seq 9 Sab 3", "seq 9 Ccd 3", "finish abcd", "any 1 x 1", "any 9 Cef 3"}));
}

TEST(Dispatch, RefusedContinuationStartsTheNextRun) {
    // The second "S" is refused by CanContinue, ends the run and starts a run of the same class.
    EXPECT_EQ(Dispatch(AppRun({{0xE9, Text("Sa")}, {0xE9, Text("Cb")}, {0xE9, Text("Sc")}, {0xE9, Text("Cd")}})),
              (Names{"seq 9 Sa 2", "seq 9 Cb 2", "finish ab", "seq 9 Sc 2", "seq 9 Cd 2", "finish cd"}));
}

TEST(Dispatch, EmptyPayloadEndsTheRunAndGoesToNoHandler) {
    EXPECT_EQ(Dispatch(AppRun({{0xE9, Text("Sa")}, {0xE9, {}}, {0xE9, Text("Cb")}})),
              (Names{"seq 9 Sa 2", "finish a", "any 9 Cb 2"}));
}

TEST(Dispatch, LastSegmentCutShortIsOfferedWithWhatIsPresent) {
    Bytes run = AppRun({{0xE1, Text("abc")}, {0xE2, Text("0123456789")}});
    run.resize(run.size() - 6);  // 4 of the 10 payload bytes arrive
    EXPECT_EQ(Dispatch(run), (Names{"any 1 abc 3", "any 2 0123 10"}));
}

TEST(Dispatch, RunCollectedFromTwoSegmentsMapsToTwoBlocks) {
    TkestJpegThumbs thumbs(kTestClasses);
    // The first segment's payload starts at 2 + 4; the second's at 2 + 4 + 4 + 4.
    Dispatch(AppRun({{0xE9, Text("Sabc")}, {0xE9, Text("Cdefg")}}), &thumbs);
    ASSERT_EQ(thumbs.Thumbs.size(), 1u);
    const TkestJpegThumb& t = thumbs.Thumbs[0];
    EXPECT_EQ(t.Name, "SEQ");
    EXPECT_EQ(t.Size, 7);
    ASSERT_EQ(t.Blocks.size(), 2u);
    EXPECT_EQ(t.Blocks[0].Offset, 7);  // "abc" after the "S"
    EXPECT_EQ(t.Blocks[0].Size, 3);
    EXPECT_EQ(t.Blocks[1].Offset, 15);  // "defg" after the "C"
    EXPECT_EQ(t.Blocks[1].Size, 4);
}

TEST(Dispatch, ExceptionFreesTheActiveHandlerWithoutFinish) {
    TkestJpegThumbs thumbs(kTestClasses);
    g_log.clear();
    const Bytes run = AppRun({{0xEA, Text("a")}, {0xEA, Text("!")}});
    EXPECT_THROW(thumbs.ProcessSegments(kRunOffset, run), std::runtime_error);
    EXPECT_EQ(g_alive, 0);
    EXPECT_EQ(thumbs.HandlerClass, nullptr);
    EXPECT_TRUE(g_log.empty());
}

TEST(Dispatch, SingleSegmentPreviewGetsItsFileRange) {
    // A JFIF thumbnail of 2 x 2 RGB pixels at payload position 14 of a segment whose marker
    // stands at file offset m: the block (m + 4 + 14, 12).
    Bytes jfif = jpeg_fixture::JfifPayload();
    jfif[12] = 2;
    jfif[13] = 2;
    jfif.resize(jfif.size() + 12, 0x80);
    const auto thumbs = Collect({{0xE1, Text("other")}, {0xE0, jfif}});
    ASSERT_EQ(Found(*thumbs), (Names{"JFIF 2x2 100"}));
    const TkestJpegThumb& t = thumbs->Thumbs[0];
    const std::int64_t marker = static_cast<std::int64_t>(kRunOffset) + 4 + 5;
    ASSERT_EQ(t.Blocks.size(), 1u);
    EXPECT_EQ(t.Blocks[0].Offset, marker + 4 + 14);
    EXPECT_EQ(t.Blocks[0].Size, 12);
    EXPECT_EQ(t.Kind, tkRgb);
}

// ---------------------------------------------------------------------------------------
// Sorting and the field text

TEST(SortThumbs, LargestAreaFirstEqualAreasInOrderAdded) {
    TkestJpegThumbs thumbs;
    thumbs.AddThumb(0, 0, 0, 160, 120, 100, false, "a");
    thumbs.AddThumb(0, 0, 0, 640, 480, 100, false, "b");
    thumbs.AddThumb(0, 0, 0, 160, 120, 100, false, "c");
    thumbs.AddThumb(0, 0, 0, 0, 0, 100, false, "d");
    // Areas above 2^31 sort as areas, not as wrapped 32-bit products.
    thumbs.AddThumb(0, 0, 0, 65535, 65535, 100, false, "e");
    thumbs.SortThumbs();
    Names order;
    for (const auto& t : thumbs.Thumbs) order.push_back(t.Name);
    EXPECT_EQ(order, (Names{"e", "b", "a", "c", "d"}));
}

TEST(ThumbnailsText, LabelsSizesAndStates) {
    struct Case {
        const char* name;
        std::int32_t percent;
        bool corrupted;
        const char* text;
    };
    const Case cases[] = {
        {"UNK*:C", 100, false, "UNK*:C:160x120 "},
        {"UNK*:C", 37, true, "UNK*:C:160x120 (Corrupted 37%)"},
        {"UNK*:C", 50, false, "UNK*:C:160x120 (50%)"},
        {"", 50, false, "160x120(50%)"},
        {"", 100, true, "160x120(Corrupted 100%)"},
    };
    for (const Case& c : cases) {
        TkestJpegThumbs thumbs;
        thumbs.AddThumb(0, 0, 0, 160, 120, c.percent, c.corrupted, c.name);
        EXPECT_EQ(ThumbnailsText(thumbs), c.text) << c.name << " " << c.percent;
    }
    TkestJpegThumbs two;
    two.AddThumb(0, 0, 0, 640, 480, 100, false, "MPF");
    two.AddThumb(0, 0, 0, 160, 120, 99, false, "EXIF");
    EXPECT_EQ(ThumbnailsText(two), "MPF:640x480 , EXIF:160x120 (99%)");
}

// ---------------------------------------------------------------------------------------
// Post thumbs

// A memory stream that counts the bytes read from it.
class CountingStream final : public TStream {
public:
    explicit CountingStream(Bytes bytes) : inner_(std::move(bytes)) {}
    std::size_t Read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = inner_.Read(buffer);
        read += n;
        return n;
    }
    void Seek(std::uint64_t p) override { inner_.Seek(p); }
    std::uint64_t Position() const override { return inner_.Position(); }
    std::uint64_t Size() const override { return inner_.Size(); }
    std::uint64_t read = 0;

private:
    TMemoryStream inner_;
};

TEST(PostThumbs, OutsideTheFileOrWithoutSizeAddNothing) {
    Bytes file(4000, 0);
    const Bytes preview = jpeg_fixture::BaselineImage(32, 16);
    std::copy(preview.begin(), preview.end(), file.begin() + 1000);
    CountingStream stream(file);
    TkestJpegThumbs thumbs;
    thumbs.AddPostThumb(static_cast<std::int64_t>(file.size()), 100, "EOF");  // at the end
    thumbs.AddPostThumb(-1, 100, "NEG");
    thumbs.AddPostThumb(1000, 0, "EMPTY");
    thumbs.AddPostThumb(1000, -5, "HUGE");  // 2 GiB or more, arrived negative
    thumbs.AddPostThumb(10, 500, "ZEROS");  // no JPEG there
    thumbs.ProcessPostThumbs(stream);
    EXPECT_TRUE(thumbs.Thumbs.empty());
}

TEST(PostThumbs, ReadsTheFileOnlyAsFarAsTheCheckNeeds) {
    // A 300 KB file with a small JPEG at 1000, declared 250,000 bytes long; and the same
    // declared size at a place that holds no JPEG. Each check reads one block of 64 KiB.
    Bytes file(300000, 0x55);
    const Bytes preview = jpeg_fixture::BaselineImage(32, 16);
    std::copy(preview.begin(), preview.end(), file.begin() + 1000);
    for (std::int64_t offset : {1000, 2})  {
        CountingStream stream(file);
        TkestJpegThumbs thumbs;
        thumbs.AddPostThumb(offset, 250000, "P");
        thumbs.ProcessPostThumbs(stream);
        EXPECT_LE(stream.read, 65536u) << offset;
        EXPECT_GT(stream.read, 0u) << offset;
    }
}

TEST(PostThumbs, DecodablePreviewIsListedWithItsDeclaredSize) {
    const Bytes preview = jpeg_fixture::BaselineImage(256, 128);
    Bytes file(20000, 0);
    std::copy(preview.begin(), preview.end(), file.begin() + 1000);
    // A copy cut short by the end of the file, in its scan data, is checked with the bytes
    // that exist.
    file.insert(file.end(), preview.begin(), preview.end() - 200);
    CountingStream stream(file);
    TkestJpegThumbs thumbs;
    thumbs.AddPostThumb(1000, 18000, "MPF");
    thumbs.AddPostThumb(20000, static_cast<std::int32_t>(preview.size()), "CUT");
    thumbs.ProcessPostThumbs(stream);
    ASSERT_EQ(thumbs.Thumbs.size(), 2u);
    const TkestJpegThumb& t = thumbs.Thumbs[0];
    EXPECT_EQ(t.Name, "MPF");
    EXPECT_EQ(t.Width, 256);
    EXPECT_EQ(t.Height, 128);
    EXPECT_EQ(t.Percent, 100);
    EXPECT_EQ(t.Size, 18000);
    EXPECT_EQ(t.Offset, 1000);
    EXPECT_TRUE(t.FromFile);
    EXPECT_FALSE(t.Corrupted);  // its check ended cleanly, at EOI
    EXPECT_TRUE(t.Blocks.empty());
    const TkestJpegThumb& c = thumbs.Thumbs[1];
    EXPECT_EQ(c.Name, "CUT");
    EXPECT_LT(c.Percent, 100);
    EXPECT_GT(c.Percent, 0);
    EXPECT_TRUE(c.Corrupted);  // its check met the end of the data in the scan
    EXPECT_EQ(c.Size, static_cast<std::int64_t>(preview.size()));
}

}  // namespace
