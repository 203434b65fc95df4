// Real streams: files cjpeg and jpegtran made for every process, as exiftool describes
// them, and the corpus of files made by others against its MANIFEST and exiftool.
#include "parse_helpers.h"
#include "tool_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>

namespace {

struct ProcessCase {
    const char* file;
    int frameMarker;
    std::string ids;
    std::uint8_t colorModel;
    const char* segments;
    int restartInterval;
    int quality;
    int headersResult;
    int fullResult;  // result of a parse without poHeadersOnly, where the walk itself decides
};

const std::string kYccIds("\x01\x02\x03", 3);

TEST(ToolFiles, EveryProcess) {
    SKIP_WITHOUT_TOOL("cjpeg");
    // jpegtran -arithmetic writes a DAC segment (T.81 B.2.4.3) after the frame header, which
    // the walk accepts there (and before each scan of a progressive frame): the scans are
    // decoded like Huffman-coded ones. The quality is estimated for Huffman-coded DCT frames
    // only.
    const ProcessCase cases[] = {
        {"baseline.jpg", 0xC0, kYccIds, cmYCbCr, "JFIF", 0, 75, prOk, prOk},
        {"gray.jpg", 0xC0, "\x01", cmGray, "JFIF", 0, 75, prOk, prOk},
        {"optimized.jpg", 0xC0, kYccIds, cmYCbCr, "JFIF", 0, 75, prOk, prOk},
        {"progressive.jpg", 0xC2, kYccIds, cmYCbCr, "JFIF", 0, 75, prOk, prOk},
        {"restart.jpg", 0xC0, kYccIds, cmYCbCr, "JFIF", 2, 75, prOk, prOk},
        {"rgb.jpg", 0xC0, "RGB", cmRGB, "Adobe", 0, 75, prOk, prOk},
        {"sample444.jpg", 0xC0, kYccIds, cmYCbCr, "JFIF", 0, 75, prOk, prOk},
        {"arithmetic.jpg", 0xC9, kYccIds, cmYCbCr, "JFIF", 0, 0, prOk, prOk},
        {"arithmetic-progressive.jpg", 0xCA, kYccIds, cmYCbCr, "JFIF", 0, 0, prOk, prOk},
    };
    std::map<std::string, std::vector<std::string>> exiftool;
    for (const auto& row : ReadTsv(ToolDir() / "process.tsv"))
        if (!row.empty()) exiftool[row[0]] = row;
    for (const ProcessCase& c : cases) {
        const auto path = ToolDir() / "process" / c.file;
        if (!std::filesystem::exists(path)) {
            std::printf("%s was not made (jpegtran missing?)\n", c.file);
            continue;
        }
        const Bytes file = ReadFile(path);
        TkestJpeg parser(65536);
        ASSERT_EQ(ParseBytes(parser, file), c.headersResult) << c.file;
        EXPECT_EQ(parser.FrameMarker, c.frameMarker) << c.file;
        EXPECT_EQ(parser.ComponentIds, c.ids) << c.file;
        EXPECT_EQ(parser.ChooseColorModel(), c.colorModel) << c.file;
        EXPECT_EQ(parser.SegmentsText(), c.segments) << c.file;
        EXPECT_EQ(parser.RestartInterval, c.restartInterval) << c.file;
        EXPECT_EQ(parser.Quality, c.quality) << c.file;
        if (c.fullResult >= 0) {
            TkestJpeg full(65536);
            EXPECT_EQ(ParseBytes(full, file, 0), c.fullResult) << c.file;
        }
        if (HasTool("exiftool")) {
            const auto& row = exiftool[c.file];
            ASSERT_EQ(row.size(), 3u) << c.file << " in process.tsv";
            EXPECT_EQ(row[1], std::to_string(parser.FrameMarker - 0xC0)) << c.file << ": EncodingProcess";
            EXPECT_EQ(row[2], std::to_string(parser.ComponentCount)) << c.file << ": ColorComponents";
        }
    }
}

// ---------------------------------------------------------------------------------------
// The corpus

// What the MANIFEST's features column says about a file's headers.
struct Features {
    int sofCount = 0;          // frame headers listed
    int sof = -1;              // n of the first SOFn
    std::string ids;           // component identifiers, when each token is unambiguous
    bool idsKnown = false;
    std::vector<std::pair<int, int>> sampling;  // H, V per component
    bool jfif = false;
    int adobeTransform = -1;
    bool icc = false;
    std::vector<int> apps;  // APPn numbers in order, repeats expanded
};

Features ParseFeatures(const std::string& text) {
    Features f;
    static const std::regex sof(R"(SOF(\d+) \S+ \S+ \d+x\d+ \[([^\]]*)\])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), sof); it != std::sregex_iterator(); ++it) {
        if (f.sofCount++ > 0) continue;
        f.sof = std::stoi((*it)[1]);
        f.idsKnown = true;
        static const std::regex component(R"(([^,:]+):(\d+)x(\d+))");
        const std::string list = (*it)[2];
        for (auto c = std::sregex_iterator(list.begin(), list.end(), component); c != std::sregex_iterator(); ++c) {
            const std::string id = (*c)[1];
            // Letters stand for themselves, other identifiers are decimal; a single digit is
            // ambiguous ('1' or byte 1) and is taken as a byte value.
            if (std::regex_match(id, std::regex(R"(\d+)")))
                f.ids.push_back(static_cast<char>(std::stoi(id)));
            else if (id.size() == 1)
                f.ids.push_back(id[0]);
            else
                f.idsKnown = false;
            f.sampling.emplace_back(std::stoi((*c)[2]), std::stoi((*c)[3]));
        }
    }
    f.jfif = text.find("| JFIF |") != std::string::npos;
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(APP14:Adobe\(transform(\d+)\))"))) f.adobeTransform = std::stoi(m[1]);
    const auto apps = text.find("APPS: ");
    if (apps != std::string::npos) {
        const std::string list = text.substr(apps, text.find(" | ", apps) - apps);
        f.icc = list.find("APP2:ICC_PROFILE") != std::string::npos;
        static const std::regex app(R"(APP(\d+):(?:[^ ×]|\s(?!APP\d+:))*(?:×(\d+))?)");
        for (auto it = std::sregex_iterator(list.begin(), list.end(), app); it != std::sregex_iterator(); ++it) {
            const int repeats = (*it)[2].matched ? std::stoi((*it)[2]) : 1;
            for (int r = 0; r < repeats; ++r) f.apps.push_back(std::stoi((*it)[1]));
        }
    }
    return f;
}

// The colour model the MANIFEST's facts call for, by the rules of the parser, but taken from
// another tool's reading of the file.
std::uint8_t ExpectedColorModel(const Features& f, bool adobe, bool g3fax) {
    const int count = static_cast<int>(f.sampling.size());
    const std::uint8_t byCount[5] = {0, cmGray, cmGrayA, cmYCbCr, cmYCCK};
    if (count < 1 || count > 4) return 0;
    if (f.jfif && (count == 1 || count == 3)) return byCount[count];
    const int transform = adobe ? f.adobeTransform : -1;
    if (transform == 0) return count == 3 ? cmRGB : count == 4 ? cmCMYK : byCount[count];
    if (transform == 1) return cmYCbCr;
    if (transform == 2) return cmYCCK;
    if (transform > 2) return byCount[count];
    if (g3fax) return cmITUCieLAB;
    bool subsampled = false;
    for (const auto& [h, v] : f.sampling) subsampled = subsampled || h != 1 || v != 1;
    std::uint8_t candidate = byCount[count];
    if (!subsampled && count == 3) candidate = cmRGB;
    if (!subsampled && count == 4) candidate = cmCMYK;
    if (count == 3) {
        if (f.ids == std::string("\x00\x01\x02", 3) || f.ids == kYccIds) return cmYCbCr;
        if (f.ids == "RGB") return cmRGB;
        if (f.ids == "YCc") return cmPhotoYCC;
    }
    if (count == 4) {
        if (f.ids == std::string("\x01\x02\x03\x04", 4)) return f.icc ? cmYCbCrK : cmYCbCrA;
        if (f.ids == "RGBA") return cmRGBA;
        if (f.ids == "YCcA") return cmPhotoYCCA;
    }
    return candidate;
}

// Well-formed files where the walk ends before the frame header, and why.
const std::map<std::string, std::string> kWalkEndsEarlier = {
    {"jpeg/pillow-jpeg_ff00_header.jpg", "0xFF 0x00 0x00 0x02 before the frame: 0x00 codes are skipped, 0x02 is refused"},
};

TEST(Corpus, HeadersAgreeWithTheManifestAndExiftool) {
    const auto corpus = CorpusDir();
    if (!std::filesystem::exists(corpus / "MANIFEST.tsv"))
        GTEST_SKIP() << "the corpus is absent (" << corpus << "); set ORVANE_CORPUS to its folder";
    std::map<std::string, std::vector<std::string>> exiftool;
    for (const auto& row : ReadTsv(ToolDir() / "corpus.tsv"))
        if (row.size() == 4) exiftool[row[0] + "/" + row[1]] = row;

    int files = 0, frames = 0, exiftoolChecked = 0, appsChecked = 0, colourChecked = 0;
    std::map<int, int> byProcess;
    for (const auto& row : ReadTsv(corpus / "MANIFEST.tsv")) {
        if (row.size() < 7 || row[0].rfind("jpeg/", 0) != 0) continue;
        const std::string& path = row[0];
        const bool bad = path.rfind("jpeg/bad/", 0) == 0;
        const Features f = ParseFeatures(row[6]);
        const Bytes file = ReadFile(corpus / path);
        TkestJpeg parser(65536);
        const int result = ParseBytes(parser, file);
        ++files;
        SCOPED_TRACE(path + " (result " + std::to_string(result) + ")");

        // One frame header of a T.81 process with sampling factors 1, 2, 4 or 8 is accepted;
        // JPEG-LS (T.87, marker 0xF7) is refused before it, and so are factors 3 (T.83's
        // test streams use them).
        bool accepted = f.sof >= 0 && f.sof <= 15 && f.sof != 4 && f.sof != 8 && f.sof != 12;
        for (const auto& [h, v] : f.sampling)
            for (int factor : {h, v}) accepted = accepted && (factor == 1 || factor == 2 || factor == 4 || factor == 8);
        const bool t81 = f.sof >= 0 && f.sof <= 15;
        if (!bad && f.sofCount == 1 && !kWalkEndsEarlier.count(path)) {
            EXPECT_EQ(parser.FrameSeen, accepted);
            if (!t81) {
                EXPECT_EQ(result, prUnexpected);  // JPEG-LS (0xF7) is no marker the walk knows
            }
        }
        if (parser.FrameSeen) {
            ++frames;
            ++byProcess[parser.FrameMarker];
            if (f.sofCount >= 1) {
                EXPECT_EQ(parser.FrameMarker, 0xC0 + f.sof);
            }
            if (f.idsKnown && f.sofCount == 1) {
                EXPECT_EQ(parser.ComponentIds, f.ids);
                for (std::size_t i = 0; i < f.sampling.size() && i < 4; ++i) {
                    EXPECT_EQ(parser.FrameComponents[i].HSampling, f.sampling[i].first) << "component " << i;
                    EXPECT_EQ(parser.FrameComponents[i].VSampling, f.sampling[i].second) << "component " << i;
                }
                if (result == prOk) {
                    // The parser knows an Adobe segment only at its exact length of 12 bytes.
                    if (parser.HasAdobe) {
                        EXPECT_EQ(parser.AdobeTransform, f.adobeTransform);
                    }
                    EXPECT_EQ(parser.ChooseColorModel(), ExpectedColorModel(f, parser.HasAdobe, parser.HasG3Fax));
                    ++colourChecked;
                }
            }
            const auto e = exiftool.find(path.substr(0, path.rfind('/')) + "/" + path.substr(path.rfind('/') + 1));
            if (!bad && e != exiftool.end() && e->second[2] != "-") {
                EXPECT_EQ(e->second[2], std::to_string(parser.FrameMarker - 0xC0)) << "exiftool EncodingProcess";
                EXPECT_EQ(e->second[3], std::to_string(parser.ComponentCount)) << "exiftool ColorComponents";
                ++exiftoolChecked;
            }
        }
        // The catalogue lists the APP segments before the first scan, in order: a prefix of the
        // file's APP segments, all of them for well-formed files that hold none after a scan.
        if (!bad && result == prOk) {
            std::vector<int> ours;
            for (const TkestJpegSegmentInfo& s : parser.Segments)
                if (s.Marker != 0xFE)
                    for (int r = 0; r < s.Count; ++r) ours.push_back(s.Marker - 0xE0);
            ASSERT_LE(ours.size(), f.apps.size());
            EXPECT_TRUE(std::equal(ours.begin(), ours.end(), f.apps.begin())) << parser.SegmentsText();
            ++appsChecked;
        }
    }
    std::printf("corpus: %d files, %d frames (", files, frames);
    for (const auto& [marker, count] : byProcess) std::printf("%X: %d ", marker, count);
    std::printf("), %d checked against exiftool, %d APP lists, %d colour models\n", exiftoolChecked, appsChecked,
                colourChecked);
    EXPECT_GT(frames, 100);
}

}  // namespace
