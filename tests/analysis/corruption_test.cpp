// The corruption table: the full decoding pass over real streams, intact and damaged, and over
// the corpus, beside what djpeg and jpeginfo -c say of the same files (their verdicts are
// taken natively by the setup step, tests/jpeg/make_damage.py). Files djpeg decodes without
// a word are "OK"; truncated files are "Corrupted (N% read)" with N below 100; every
// exception is listed with its reason.
#include "analysis/info.h"
#include "jpeg/catalogue.h"
#include "jpeg/tool_files.h"
#include "platform/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Pass {
    std::string integrity;
    std::int32_t scans = 0;
    std::int64_t trailer = 0;
};

Pass FullPass(const std::filesystem::path& path) {
    TkestInfo info;
    info.FileName = WideName(path);
    info.Kind = fkJpeg;
    info.DecodeFully();
    return {platform::WideToAnsi(info.Integrity), info.Scans, info.Trailer};
}

// N of "Corrupted (N% read)", or -1.
int CorruptedPercent(const std::string& integrity) {
    int percent = -1;
    if (std::sscanf(integrity.c_str(), "Corrupted (%d%% read)", &percent) != 1) return -1;
    return percent;
}

// The frame marker the header pass finds, 0 without a frame.
int FrameMarkerOf(const std::filesystem::path& path) {
    auto stream = TFileStream::Open(WideName(path));
    if (!stream) return 0;
    TkestJpeg parser(65536);
    parser.Parse(*stream, poHeadersOnly, 0);
    return parser.FrameSeen ? parser.FrameMarker : 0;
}

bool IsArithmetic(int frameMarker) { return frameMarker >= 0xC9 && frameMarker <= 0xCF && frameMarker != 0xCC; }

// One row of damage.tsv or corpus_decode.tsv.
struct Row {
    std::string file, original, kind;
    bool cutInsideData = false;
    std::int64_t appended = -1;  // bytes after EOI; -1 without EOI
    int scans = 0;               // SOS markers
    std::string djpeg, jpeginfo;
};

std::vector<Row> ReadRows(const std::filesystem::path& tsv) {
    std::vector<Row> rows;
    for (const auto& f : ReadTsv(tsv))
        if (f.size() == 8) rows.push_back({f[0], f[1], f[2], f[3] == "1", std::stoll(f[4]), std::stoi(f[5]), f[6], f[7]});
    return rows;
}

// Checks one file against the rules; returns the reason when it is an exception to them.
std::string Check(const Row& row, const Pass& pass, int frameMarker, bool truncated, bool truncatedInsideData,
                  const std::map<std::string, std::string>& known) {
    SCOPED_TRACE(row.file + ": " + pass.integrity);
    if (const auto k = known.find(row.file); k != known.end()) return k->second;
    if (row.djpeg == "ok") {
        EXPECT_EQ(pass.integrity, "OK") << "djpeg decodes it without a warning";
    }
    if (row.kind == "eoi-inside" && IsArithmetic(frameMarker) && pass.integrity == "OK")
        return "arithmetic coding: from a marker on the coder reads zero bytes (T.81 D.2.6), so data ended by an "
               "EOI decodes to the scan's end";
    if (row.kind == "eoi-inside") {
        EXPECT_NE(pass.integrity, "OK") << "the scan's data ends at the EOI inserted, before its last data unit";
    }
    if (row.kind == "noise" && pass.integrity == "OK")
        return "inserted between two restart intervals: the search for the next RSTn skips it, every data unit "
               "decodes (djpeg warns of extraneous bytes)";
    if (truncated) {
        const int percent = CorruptedPercent(pass.integrity);
        EXPECT_GE(percent, 0) << "a truncated file is corrupted";
        if (truncatedInsideData) {
            EXPECT_LT(percent, 100) << "the data ends inside a scan";
        } else if (percent == 100) {
            return row.kind == "no-eoi" ? "only EOI is missing: every data unit decoded"
                                        : "the cut falls between two scans: every scan begun is complete";
        }
    }
    if (pass.integrity == "OK") {
        EXPECT_EQ(pass.scans, row.scans) << "scans of a complete file: its SOS markers";
        EXPECT_EQ(pass.trailer, row.appended) << "the bytes after EOI";
    }
    return {};
}

void PrintRow(std::FILE* out, const Row& row, const Pass& pass, const std::string& exception) {
    std::fprintf(out, "%-58s %-15s | %-24s %2d %6lld | %-40.40s | %-40.40s%s%s\n", row.file.c_str(), row.kind.c_str(),
                 pass.integrity.c_str(), pass.scans, static_cast<long long>(pass.trailer), row.djpeg.c_str(),
                 row.jpeginfo.c_str(), exception.empty() ? "" : " | EXCEPTION: ", exception.c_str());
}

void Header(std::FILE* out, const char* title) {
    std::fprintf(out, "\n%s\n%-58s %-15s | %-24s %2s %6s | %-40s | %-40s\n", title, "file", "damage", "Integrity", "sc",
                 "trail", "djpeg", "jpeginfo -c");
}

TEST(CorruptionTable, RealStreamsIntactAndDamaged) {
    SKIP_WITHOUT_TOOL("python3");
    SKIP_WITHOUT_TOOL("djpeg");
    const auto rows = ReadRows(ToolDir() / "damage.tsv");
    ASSERT_GT(rows.size(), 100u);
    std::FILE* table = std::fopen((ToolDir() / "corruption_table.txt").string().c_str(), "w");
    ASSERT_NE(table, nullptr);
    Header(table, "cjpeg and jpegtran files, intact and damaged (make_damage.py)");
    std::map<std::string, int> kinds;
    std::map<std::string, int> exceptions;
    for (const Row& row : rows) {
        const auto path = ToolDir() / row.file;
        const Pass pass = FullPass(path);
        const bool truncated = row.kind.rfind("cut", 0) == 0 || row.kind == "no-eoi";
        const std::string exception = Check(row, pass, FrameMarkerOf(path), truncated, row.cutInsideData, {});
        if (row.kind == "trailer" && exception.empty()) {
            EXPECT_EQ(pass.trailer, 123) << row.file;
        }
        if (row.kind == "original" && exception.empty()) {
            EXPECT_EQ(pass.integrity, "OK") << row.file;
        }
        PrintRow(table, row, pass, exception);
        ++kinds[row.kind];
        if (!exception.empty()) ++exceptions[exception];
    }
    std::fclose(table);
    std::printf("corruption table of %zu tool files in %s:", rows.size(), (ToolDir() / "corruption_table.txt").string().c_str());
    for (const auto& [kind, count] : kinds) std::printf(" %s %d", kind.c_str(), count);
    std::printf("\n");
    for (const auto& [reason, count] : exceptions) std::printf("  exception (%d files): %s\n", count, reason.c_str());
}

// Files of the corpus that break a rule, and why.
const std::map<std::string, std::string> kCorpusExceptions = {
    {"jpeg/t83-A1.JPG", "sampling factor 3 (T.83 test stream): the frame header is refused"},
    {"jpeg/t83-C1.JPG", "sampling factor 3 (T.83 test stream): the frame header is refused"},
    {"jpeg/t83-C2.JPG", "sampling factor 3 (T.83 test stream): the frame header is refused"},
    {"jpeg/bad/pillow-truncated_jpeg.jpg", "the data stops after its last data unit: only padding and EOI are missing"},
};

TEST(CorruptionTable, Corpus) {
    SKIP_WITHOUT_TOOL("python3");
    SKIP_WITHOUT_TOOL("djpeg");
    const auto corpus = CorpusDir();
    if (!std::filesystem::exists(corpus / "MANIFEST.tsv"))
        GTEST_SKIP() << "the corpus is absent (" << corpus << "); set ORVANE_CORPUS to its folder";
    const auto rows = ReadRows(ToolDir() / "corpus_decode.tsv");
    ASSERT_GT(rows.size(), 200u);
    std::FILE* table = std::fopen((ToolDir() / "corruption_table.txt").string().c_str(), "a");
    ASSERT_NE(table, nullptr);
    Header(table, "the corpus");
    std::map<std::string, int> outcomes;
    std::map<std::string, int> exceptions;
    int djpegClean = 0, truncatedFiles = 0;
    for (const Row& row : rows) {
        const auto path = corpus / row.file;
        const Pass pass = FullPass(path);
        const bool truncated = row.djpeg.find("Premature end of JPEG file") != std::string::npos;
        const std::string exception = Check(row, pass, FrameMarkerOf(path), truncated, truncated, kCorpusExceptions);
        PrintRow(table, row, pass, exception);
        ++outcomes[CorruptedPercent(pass.integrity) >= 0 ? "Corrupted" : pass.integrity];
        if (!exception.empty()) ++exceptions[exception];
        if (row.djpeg == "ok") ++djpegClean;
        if (truncated) ++truncatedFiles;
    }
    std::fclose(table);
    std::printf("corpus: %zu files, %d decoded by djpeg without a word, %d truncated by djpeg's account;", rows.size(),
                djpegClean, truncatedFiles);
    for (const auto& [outcome, count] : outcomes) std::printf(" %s %d", outcome.empty() ? "(empty)" : outcome.c_str(), count);
    std::printf("\n");
    for (const auto& [reason, count] : exceptions) std::printf("  exception (%d files): %s\n", count, reason.c_str());
}

}  // namespace
