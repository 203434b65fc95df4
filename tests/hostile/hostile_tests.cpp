// The hostile-file suite: every file of hostile_files.h analysed and fully decoded through
// the plugin's root, with the answers the plugin gives for it, within a memory limit and
// a generous "must finish" bound; the time for two sizes of each scalable attack grows
// like their sizes; and the budget of decoding work ends a file that describes enormous
// work long before that work is done.
#include "hostile/hostile_files.h"
#include "hostile/process_stats.h"
#include "hostile/watchdog.h"

#include "analysis/info.h"
#include "analysis/jpeg_with_thumbs.h"
#include "analysis/root.h"
#include "icc/icc_digest.h"
#include "jpeg/catalogue.h"
#include "jpeg/coefficients.h"
#include "platform/stream.h"
#include "support/jpeg_builder.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string>

namespace {

using namespace hostile;
using namespace std::chrono_literals;

constexpr std::uint64_t kMiB = 1 << 20;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizer = true;
#else
constexpr bool kSanitizer = false;
#endif
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// The peak memory one file may add: the coefficient maps' own limit (512 MiB, 64 MiB in a
// 32-bit process), 64 MiB for everything else, and 8 bytes per byte of the file (an APP run
// is held by the walk and by the collection). A sanitizer's shadow memory doubles it.
std::uint64_t MemoryLimit(std::size_t AFileSize) {
    const std::uint64_t limit = kCoefficientMapLimit + 64 * kMiB + 8 * std::uint64_t{AFileSize};
    return kSanitizer ? 2 * limit : limit;
}

struct Outcome {
    std::unique_ptr<TkestInfo> Info;
    double Seconds = 0;
    std::uint64_t PeakGrowth = 0;
};

class HostileTest : public ::testing::Test {
protected:
    // Analyses and fully decodes `AFile` as the plugin does a file of the host's, checking the
    // memory it takes; stops the process when it has not finished after two minutes.
    Outcome Run(const std::string& AName, const Bytes& AFile) {
        const std::u16string name = Dir.Write(AName, AFile);
        Outcome outcome;
        const process_stats::PeakMemory memory;
        const double start = process_stats::ThreadCpuSeconds();
        {
            Watchdog watchdog("the hostile file " + AName, 120s);
            auto record = Root.AnalyseFile(name);
            outcome.Info.reset(static_cast<TkestInfo*>(record.release()));
            outcome.Info->DecodeFully();
        }
        outcome.Seconds = process_stats::ThreadCpuSeconds() - start;
        outcome.PeakGrowth = memory.Growth();
        std::printf("hostile %-28s %9zu bytes  %7.3f s  peak +%5llu MiB\n", AName.c_str(), AFile.size(),
                    outcome.Seconds, static_cast<unsigned long long>(outcome.PeakGrowth / kMiB));
        if (kThreadSanitizer) {
            std::printf("  (no memory limit under ThreadSanitizer, whose shadow memory is several times the program's)\n");
        } else {
            EXPECT_LE(outcome.PeakGrowth, MemoryLimit(AFile.size())) << AName;
        }
        return outcome;
    }

    TempDir Dir;
    TOrvaneRoot Root;
};

// The header fields of the small baseline grey image that hostile_files puts after its
// segments, with these segments and previews.
void ExpectBaselineHeader(const TkestInfo& AInfo, const std::string& ASegments, const std::string& AThumbnails) {
    EXPECT_EQ(AInfo.Kind, fkJpeg);
    EXPECT_EQ(AInfo.ExifFileName, "");
    EXPECT_EQ(AInfo.Segments, ASegments);
    EXPECT_EQ(AInfo.ComponentIdText, "01");
    EXPECT_EQ(AInfo.ColorSpace, "Gray");
    EXPECT_EQ(AInfo.Encoding, "Baseline DCT, Huffman coding");
    EXPECT_EQ(AInfo.RestartInterval, 0);
    EXPECT_EQ(AInfo.Quality, 75);
    // DQT with tables K.1 and K.2 for quality 75, as the image's alone gives it.
    static const std::string digest = [] {
        TkestJpeg parser(65536);
        const Bytes bare = ManyEmbeddedPreviews(0, {});
        TMemoryStream stream(bare);
        parser.Parse(stream, poHeadersOnly, 0);
        return DigestToHex(IccMD5OfBuffer(parser.QuantTableData, true));
    }();
    EXPECT_EQ(DigestToHex(AInfo.QTablesDigest), digest);
    EXPECT_NE(digest, std::string(32, '0'));
    EXPECT_EQ(AInfo.Thumbnails, AThumbnails);
    EXPECT_FALSE(AInfo.Debug);
    EXPECT_EQ(AInfo.IccSize, 0);
}

// How a preview of EndOfBandFrame(65535, 65535, ...) is listed: where this build keeps the
// coefficient map of its first component, its check decodes until the work budget ends it
// and the preview is listed as corrupted at what it read (`percent`); where that map would
// pass the maps' limit (a 32-bit process), nothing of it decodes and it is not listed.
std::string PastTheBudget(const std::string& name, int percent) {
    if (TkestJpegMap::BytesFor(8192, 8192) > kCoefficientMapLimit) return "";
    return name + ":65535x65535 (Corrupted " + std::to_string(percent) + "%)";
}

TEST_F(HostileTest, FrameOf65535By65535EndsAtTheBudget) {
    for (const int components : {1, 3}) {
        SCOPED_TRACE(components);
        const Outcome o = Run("end-of-band-" + std::to_string(components) + ".jpg", EndOfBandFrame(65535, 65535, components, 20));
        const TkestInfo& info = *o.Info;
        EXPECT_EQ(info.Encoding, "Progressive DCT, Huffman coding");
        EXPECT_EQ(info.ColorSpace, components == 1 ? "Gray" : "YCbCr");
        // The pass ended like a failed allocation (the budget, or the maps' limit first):
        // nothing is claimed about the data.
        EXPECT_TRUE(info.FullDecodeDone);
        EXPECT_EQ(info.Integrity, u"");
        EXPECT_EQ(info.Scans, 0);
        EXPECT_EQ(info.SegmentsFull, "");
    }
}

TEST_F(HostileTest, BudgetStopsTheDecoderEarly) {
    // 200 scans that would each pass 67 million blocks: the budget ends the parse after
    // about three of them.
    const Bytes file = EndOfBandFrame(65535, 65535, 1, 200);
    TMemoryStream stream(file);
    TkestJpeg parser(1048576);
    const double start = process_stats::ThreadCpuSeconds();
    {
        Watchdog watchdog("the decoding of 200 end-of-band scans", 120s);
        EXPECT_THROW(parser.Parse(stream, 0, 0), std::bad_alloc);
    }
    std::printf("budget: %llu blocks of work allowed, %llu done in %d scans, %.3f s\n",
                static_cast<unsigned long long>(parser.WorkBudget()), static_cast<unsigned long long>(parser.Work),
                parser.ScanCount, process_stats::ThreadCpuSeconds() - start);
    EXPECT_LT(parser.ScanCount, 10);
}

TEST_F(HostileTest, FrameWithinTheBudgetDecodes) {
    // One end-of-band scan over a 2048 x 2048 frame: its blocks are set up and passed once.
    const Outcome o = Run("end-of-band-small.jpg", EndOfBandFrame(2048, 2048, 1, 1));
    EXPECT_EQ(o.Info->Integrity, u"OK");
    EXPECT_EQ(o.Info->Scans, 1);
}

TEST_F(HostileTest, SixtyFiveThousandTinyAppSegments) {
    const Outcome uniform = Run("tiny-app-uniform.jpg", TinyAppRun(65535, true));
    EXPECT_EQ(uniform.Info->Segments, "x [APP1] (65535)");
    EXPECT_EQ(uniform.Info->SegmentsFull, "x [APP1] (65535)");
    EXPECT_EQ(uniform.Info->Integrity, u"OK");

    const Outcome mixed = Run("tiny-app-mixed.jpg", TinyAppRun(65535, false));
    EXPECT_FALSE(mixed.Info->Segments.empty());
    EXPECT_EQ(mixed.Info->SegmentsFull, mixed.Info->Segments);
    EXPECT_EQ(mixed.Info->Integrity, u"OK");
    EXPECT_EQ(mixed.Info->Scans, 1);
}

TEST_F(HostileTest, TenThousandChainedIfds) {
    for (const auto& [name, file] : {std::pair{"chained-ifds.jpg", ChainedIfds(10000)}, {"nested-ifds.jpg", NestedIfds(3600)}}) {
        const Outcome o = Run(name, file);
        EXPECT_EQ(o.Info->Segments, "EXIF") << name;
        EXPECT_EQ(o.Info->Thumbnails, "") << name;
        EXPECT_EQ(o.Info->Integrity, u"OK") << name;
    }
}

TEST_F(HostileTest, IccCountsAndLengthsOfTwoToTheThirtyTwoMinusOne) {
    const Bytes profile = HugeCountIcc();
    const Outcome alone = Run("huge-counts.icc", profile);
    const Outcome embedded = Run("huge-counts-icc.jpg", JpegWithIcc(profile));
    EXPECT_EQ(alone.Info->Kind, fkIccProfile);
    EXPECT_EQ(embedded.Info->IccSize, static_cast<std::int32_t>(profile.size()));
    for (const TkestInfo* info : {alone.Info.get(), embedded.Info.get()}) {
        // The header is sound; of the tags only "cprt" is.
        EXPECT_EQ(info->IccCmm, "lcms");
        EXPECT_EQ(info->IccManufacturer, "ABCD");
        EXPECT_EQ(info->IccCopyright, u"Orvane hostile");
        EXPECT_EQ(info->IccDescription, u"");
        EXPECT_EQ(info->IccManufacturerDescription, u"");
        EXPECT_EQ(info->IccModelDescription, u"");
    }
    EXPECT_EQ(embedded.Info->Integrity, u"OK");
}

TEST_F(HostileTest, MpfAndPhotoshopSizesPastTheFile) {
    const Bytes preview = jpeg_fixture::BaselineImage(48, 32);
    const Outcome mpf = Run("mpf-past-the-end.jpg", MpfPastTheEnd(preview));
    EXPECT_NE(mpf.Info->Thumbnails.find("48x32"), std::string::npos) << mpf.Info->Thumbnails;
    EXPECT_EQ(mpf.Info->Integrity, u"OK");
    EXPECT_EQ(mpf.Info->Trailer, static_cast<std::int64_t>(preview.size()));

    const Outcome photoshop = Run("photoshop-past-the-end.jpg", PhotoshopPastTheEnd(preview));
    EXPECT_NE(photoshop.Info->Thumbnails.find("48x32"), std::string::npos) << photoshop.Info->Thumbnails;
    EXPECT_EQ(photoshop.Info->Integrity, u"OK");

    const Outcome xmp = Run("xmp-past-its-length.jpg", XmpPastItsLength(preview));
    EXPECT_EQ(xmp.Info->Thumbnails, "XMP:48x32 ");

    // A preview that describes enormous work, reached through an MPF size of 2^31 - 1: its
    // check is bounded by the bytes the file really holds.
    const Outcome heavy = Run("mpf-end-of-band.jpg", MpfPastTheEnd(EndOfBandFrame(65535, 65535, 1, 20)));
    EXPECT_EQ(heavy.Info->Kind, fkJpeg);
    EXPECT_EQ(heavy.Info->Integrity, u"OK");
    ExpectBaselineHeader(*heavy.Info, "MPF", PastTheBudget("MPF", 50));
}

TEST_F(HostileTest, APreviewPastItsLimitsLeavesTheHeaderFields) {
    // Streams whose check passes the coefficient maps' limit or the work budget, in a COM
    // segment or behind an MPF entry: the check ends, the file's analysis does not.
    for (const int components : {1, 3}) {
        SCOPED_TRACE(components);
        const Bytes stream = EndOfBandFrame(65535, 65535, components, 3);
        const int percent = components == 1 ? 50 : 22;
        const Outcome embedded = Run("com-end-of-band.jpg", ManyEmbeddedPreviews(1, stream));
        ExpectBaselineHeader(*embedded.Info, "COM", PastTheBudget("UNK*:C", percent));
        EXPECT_EQ(embedded.Info->Integrity, u"OK");
        const Outcome pointed = Run("mpf-end-of-band.jpg", MpfPastTheEnd(stream));
        ExpectBaselineHeader(*pointed.Info, "MPF", PastTheBudget("MPF", percent));
        EXPECT_EQ(pointed.Info->Integrity, u"OK");
    }
}

// The side of the largest square grey frame whose maps this build keeps: 65,535, less in a
// 32-bit process, where a larger one would end the analysis like a failed allocation.
std::uint16_t HeavySide() {
    std::uint16_t side = 65535;
    while (TkestJpegMap::BytesFor((side + 7) / 8, (side + 7) / 8) > kCoefficientMapLimit) side -= 512;
    return side;
}

TEST_F(HostileTest, ManyPreviewsOfOneHeavyStream) {
    // Each check of this preview sets up all the maps a parse may hold and passes millions
    // of blocks (67 million in a 64-bit process): well within one parse's budget, but a file
    // must not buy that again and again.
    const std::uint16_t side = HeavySide();
    const Bytes heavy = EndOfBandFrame(side, side, 1, 1);
    for (const auto& [name, file] : {std::pair{"many-mpf-entries.jpg", ManyMpfEntriesToOne(40, heavy)},
                                     {"many-embedded-previews.jpg", ManyEmbeddedPreviews(40, heavy)},
                                     {"many-samsung-entries.jpg", ManySamsungEntriesToOne(40, heavy)}}) {
        const Outcome o = Run(name, file);
        EXPECT_EQ(o.Info->Encoding, "Baseline DCT, Huffman coding") << name;
        EXPECT_EQ(o.Info->Integrity, u"OK") << name;

        TMemoryStream stream(file);
        TkestJpegWithThumbs parser(65536);
        parser.Parse(stream, poHeadersOnly, 0);
        if (!parser.ThumbCollection) parser.ThumbCollection = std::make_unique<TkestJpegThumbs>();
        parser.ThumbCollection->ProcessTrailers(stream, parser.Position);
        parser.ThumbCollection->ProcessPostThumbs(stream);
        // The checks' allowance, and one check beyond it at most.
        const std::uint64_t allowance = TkestBaseJpegParser::WorkBudgetFor(file.size(), std::uint64_t{1} << 26);
        EXPECT_LE(parser.ThumbCollection->CheckWork, 2 * allowance) << name;
        std::printf("  checks: %llu blocks of work and bytes, allowance %llu\n",
                    static_cast<unsigned long long>(parser.ThumbCollection->CheckWork),
                    static_cast<unsigned long long>(allowance));
    }
}

TEST_F(HostileTest, HuffmanTablesThatOverflowTheCodeSpace) {
    for (const std::uint8_t tableClass : {std::uint8_t{0}, std::uint8_t{1}})
        for (const int variant : {0, 1, 2}) {
            const std::string name = "huffman-" + std::to_string(tableClass) + "-" + std::to_string(variant) + ".jpg";
            const Outcome o = Run(name, OverflowingHuffman(variant, tableClass));
            EXPECT_EQ(o.Info->Encoding, "Baseline DCT, Huffman coding") << name;
            EXPECT_EQ(o.Info->Integrity, u"Corrupted (0% read)") << name;
            EXPECT_EQ(o.Info->Scans, 1) << name;
        }
}

// CPU time of the analysis and full decoding of `AFile`, the least of three runs.
double CpuSeconds(TOrvaneRoot& ARoot, const TempDir& ADir, const Bytes& AFile) {
    const std::u16string name = ADir.Write("timed.jpg", AFile);
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double start = process_stats::ThreadCpuSeconds();
        auto record = ARoot.AnalyseFile(name);
        static_cast<TkestInfo&>(*record).DecodeFully();
        best = std::min(best, process_stats::ThreadCpuSeconds() - start);
    }
    return best;
}

TEST_F(HostileTest, TimeGrowsLikeTheFile) {
    struct Family {
        const char* Name;
        std::function<Bytes(int)> Make;
        int Small, Large;
    };
    const Family families[] = {
        {"tiny APP segments", [](int n) { return TinyAppRun(n, false); }, 8192, 65535},
        {"uniform APP segments", [](int n) { return TinyAppRun(n, true); }, 8192, 65535},
        {"chained IFDs", ChainedIfds, 1300, 10400},
        {"nested IFDs", NestedIfds, 450, 3600},
        {"end-of-band scans", [](int n) { return EndOfBandFrame(1024, 1024, 1, n); }, 250, 2000},
        {"FotoStation records", ManyFotoStationRecords, 100000, 800000},
        {"XMP image properties", ManyXmpImageProperties, 20000, 160000},
        {"Samsung entries to one block", [](int n) { return ManySamsungEntriesToOne(n, jpeg_fixture::BaselineImage(16, 16)); },
         20000, 160000},
    };
    for (const Family& family : families) {
        const Bytes small = family.Make(family.Small), large = family.Make(family.Large);
        Watchdog watchdog(std::string("the timing of ") + family.Name, 300s);
        const double tSmall = CpuSeconds(Root, Dir, small), tLarge = CpuSeconds(Root, Dir, large);
        const double sizeRatio = static_cast<double>(large.size()) / static_cast<double>(small.size());
        std::printf("linear %-22s %8zu -> %8zu bytes (x%.1f): %.4f -> %.4f s (x%.1f)\n", family.Name, small.size(),
                    large.size(), sizeRatio, tSmall, tLarge, tLarge / std::max(tSmall, 1e-9));
        // Too quick to tell apart from the clock's resolution and noise: nothing to compare.
        if (tLarge < 0.05) continue;
        // Linear work takes about sizeRatio times as long, quadratic work its square.
        EXPECT_LT(tLarge, 3 * sizeRatio * std::max(tSmall, 0.05 / sizeRatio)) << family.Name;
    }
}

}  // namespace
