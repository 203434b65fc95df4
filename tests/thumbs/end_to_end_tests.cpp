// The "Thumbnails" field of whole files, through the plugin's root: files exiftool wrote
// thumbnails into, files the fixture builder wrote JFIF, JFXX and MPF previews into, and
// every file of the corpus that exiftool finds a preview in.
#include "analysis/root.h"
#include "frame/wdx.h"
#include "support/temp_files.h"
#include "thumb_helpers.h"
#include "tiff_builder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using jpeg_fixture::Concat;
using jpeg_fixture::Text;

namespace {

std::filesystem::path FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::filesystem::path(value && *value ? value : fallback);
}
std::filesystem::path ToolDir() { return FromEnvironment("ORVANE_THUMBS_TOOL_DIR", ORVANE_THUMBS_TOOL_DIR); }
std::filesystem::path CorpusDir() { return FromEnvironment("ORVANE_CORPUS", ORVANE_CORPUS_DEFAULT); }

bool HasTool(const std::string& tool) {
    std::ifstream in(ToolDir() / "tools.txt");
    std::string line;
    while (std::getline(in, line))
        if (line == tool) return true;
    return false;
}

std::vector<std::vector<std::string>> ReadTsv(const std::filesystem::path& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::string field;
        std::stringstream s(line);
        while (std::getline(s, field, '\t')) fields.push_back(field);
        if (!line.empty() && line.back() == '\t') fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

TOrvaneRoot& Root() {
    static const auto root = [] {
        auto r = std::make_unique<TOrvaneRoot>();
        r->CreateDefaultFields();
        return r;
    }();
    return *root;
}

// The "Thumbnails" field of a file as the host would read it (field 8, 8-bit text).
std::string Thumbnails(const std::filesystem::path& file) {
    std::array<char, 4096> buffer{};
    const int type = Root().GetFieldValue(WideName(file), 8, 0, buffer.data(), static_cast<int>(buffer.size()), 0, false);
    if (type == ft_fieldempty) return "";
    EXPECT_EQ(type, ft_string) << file;
    return buffer.data();
}

// ---------------------------------------------------------------------------------------
// Files made by real tools

TEST(ToolFiles, ExifThumbnailsWrittenByExiftool) {
    if (!HasTool("exiftool")) GTEST_SKIP() << "exiftool was not found by the setup step";
    const auto rows = ReadTsv(ToolDir() / "expected.tsv");
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 2u);
        // cjpeg's main image has a JFIF segment without thumbnail: the Exif one is all there is.
        EXPECT_EQ(Thumbnails(ToolDir() / row[0]), "EXIF:" + row[1] + " ") << row[0];
    }
    EXPECT_EQ(Thumbnails(ToolDir() / "main.jpg"), "");
}

// ---------------------------------------------------------------------------------------
// Files the fixture builder writes

TEST(BuiltFiles, JfifAndJfxxThumbnails) {
    Bytes jfif = jpeg_fixture::JfifPayload();
    jfif[12] = 3;
    jfif[13] = 2;
    jfif.resize(jfif.size() + 18, 0x33);
    const Bytes jfxx = Concat({Text(std::string_view("JFXX\0\x10", 6)), jpeg_fixture::BaselineImage(80, 60)});
    TempDir dir;
    const auto file = dir / "jfif.jpg";
    WriteFile(file, ImageWith({{0xE0, jfif}, {0xE0, jfxx}}));
    EXPECT_EQ(Thumbnails(file), "JFXX:Jpg:80x60 , JFIF:3x2 ");
    // Nothing a handler noted without showing it: "Debug" has no value (it is never false).
    std::int32_t debug = 7;
    EXPECT_EQ(Root().GetFieldValue(WideName(file), 28, 0, &debug, sizeof debug, 0, false), ft_fieldempty);
}

// An image whose MPF segment lists a dependent preview stored after its EOI, at an offset
// from the MP header (as the format defines it) or from the file's start (as some writers
// store it); either way one of the pair of places holds the preview.
TEST(BuiltFiles, MpfPreviewAfterTheMainImage) {
    const Bytes preview = jpeg_fixture::BaselineImage(320, 240);
    for (bool absolute : {false, true}) {
        auto mpf = [&](std::uint32_t offset) {
            tiff_fixture::TiffBuilder t(false);
            t.Ifd(8, {tiff_fixture::Long(0xB001, 2), tiff_fixture::Undefined(0xB002, 32, 50)}, 0);
            t.U32(50, 0x80030000u);  // dependent parent, primary image
            t.U32(54, 1000);
            t.U32(58, 0);
            t.U16(62, 2);            // the second entry depends on it
            t.U16(64, 0);
            t.U32(66, 0x00010001u);
            t.U32(70, static_cast<std::uint32_t>(preview.size()));
            t.U32(74, offset);
            t.Put(78, Bytes(8, 0));
            return tiff_fixture::MpfPayload(t);
        };
        const std::size_t mainSize = ImageWith({{0xE2, mpf(0)}}).size();
        const auto offset = static_cast<std::uint32_t>(absolute ? mainSize : mainSize - (2 + 8));
        TempDir dir;
        const auto file = dir / "mpf.jpg";
        WriteFile(file, ImageWith({{0xE2, mpf(offset)}}, preview));
        EXPECT_EQ(Thumbnails(file), "MPF:320x240 ") << absolute;
    }
}

// ---------------------------------------------------------------------------------------
// The corpus

// Previews exiftool lists that "Thumbnails" does not show, and why.
constexpr const char* kStereo =
    "stereo pair (MP type Multi-frame Disparity): the second image is an independent image, not a preview "
    "that depends on the first, and the MPF handler lists dependent images only";
constexpr const char* kFotoStation =
    "FotoWare FotoStation trailer after EOI: not an APP segment, so no handler is offered it";
const std::map<std::string, std::string> kExceptions = {
    {"jpeg/bad/mdx-its-c3018ebe53d0046eecb58858ca869a99.jpg IFD1:ThumbnailImage",
     "the thumbnail's DHT segment is broken (djpeg: \"Bogus Huffman table definition\"), nothing of it decodes; "
     "the Exif TIFF header's magic number is not 42 either"},
    {"jpeg/mdx-Nikon_E995_iptc_.jpg FotoStation:ThumbnailImage", kFotoStation},
    {"jpeg/mdx-Nikon_E995_iptc_.jpg FotoStation:PreviewImage", kFotoStation},
    {"jpeg/pillow-frame_size.mpo MPImage2:MPImage2",
     "MP set whose first entry is not a dependent parent (attribute bit 31 clear): the second image is "
     "independent, and the MPF handler lists dependent images only"},
    {"jpeg/pillow-frozenpond.mpo MPImage2:MPImage2", kStereo},
    {"jpeg/pillow-ignore_frame_size.mpo MPImage2:MPImage2", kStereo},
    {"jpeg/pillow-sugarshack.mpo MPImage2:MPImage2", kStereo},
};

// An entry of the MANIFEST's previews_exiftool column: "Group:Tag=NB kind WxH ...".
struct ExiftoolPreview {
    std::string tag;   // Group:Tag
    std::string size;  // WxH, empty when exiftool decodes none (stubs, TIFF, raw data)
};

std::vector<ExiftoolPreview> PreviewsOf(const std::string& column) {
    static const std::regex entry(R"(^\s*([^:=]+:[^=]+)=\S+\s*(\S*)\s*(\d+x\d+)?)");
    std::vector<ExiftoolPreview> out;
    std::stringstream s(column);
    std::string part;
    while (std::getline(s, part, ';')) {
        std::smatch m;
        if (!std::regex_search(part, m, entry)) continue;
        const std::string tag = m[1];
        const std::string name = tag.substr(tag.find(':') + 1);
        const std::string group = tag.substr(0, tag.find(':'));
        const bool wanted = name == "ThumbnailImage" || name == "PreviewImage" || name.rfind("MPImage", 0) == 0 ||
                            ((group == "JFIF" || group == "JFXX") && name.rfind("Thumbnail", 0) == 0);
        if (!wanted) continue;
        const std::string kind = m[2];
        out.push_back({tag, (kind == "jpeg" || kind == "png") && m[3].matched ? std::string(m[3]) : ""});
    }
    return out;
}

std::set<std::string> SizesIn(const std::string& thumbnails) {
    static const std::regex size(R"((\d+x\d+))");
    std::set<std::string> out;
    for (auto it = std::sregex_iterator(thumbnails.begin(), thumbnails.end(), size); it != std::sregex_iterator(); ++it)
        out.insert((*it)[1]);
    return out;
}

TEST(Corpus, EveryPreviewExiftoolDecodesIsListedWithItsSize) {
    if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv"))
        GTEST_SKIP() << "no corpus at " << CorpusDir() << " (set ORVANE_CORPUS)";
    int files = 0, matched = 0, excepted = 0, sizeless = 0;
    std::set<std::string> exceptionsUsed;
    for (const auto& row : ReadTsv(CorpusDir() / "MANIFEST.tsv")) {
        if (row.size() < 8 || row[0].rfind("jpeg/", 0) != 0) continue;
        const auto previews = PreviewsOf(row[7]);
        if (previews.empty()) continue;
        ++files;
        const std::string ours = Thumbnails(CorpusDir() / row[0]);
        const auto sizes = SizesIn(ours);
        std::printf("%-60s %s\n", row[0].c_str(), ours.c_str());
        for (const ExiftoolPreview& p : previews) {
            const std::string key = row[0] + " " + p.tag;
            if (p.size.empty()) {
                ++sizeless;
                std::printf("    %s: exiftool decodes no size (stub, TIFF or raw data)\n", p.tag.c_str());
                continue;
            }
            const auto exception = kExceptions.find(key);
            if (sizes.count(p.size)) {
                ++matched;
                EXPECT_EQ(exception, kExceptions.end()) << key << " is listed now: drop its exception";
                continue;
            }
            if (exception != kExceptions.end()) {
                ++excepted;
                exceptionsUsed.insert(key);
                std::printf("    %s %s: %s\n", p.tag.c_str(), p.size.c_str(), exception->second.c_str());
                continue;
            }
            ADD_FAILURE() << key << " " << p.size << " is not in \"" << ours << "\"";
        }
    }
    std::printf("%d files with previews; %d previews listed with their size, %d exceptions, %d without a size\n",
                files, matched, excepted, sizeless);
    for (const auto& [key, reason] : kExceptions)
        EXPECT_TRUE(exceptionsUsed.count(key)) << key << ": exception for a file or tag no longer in the corpus";
}

}  // namespace
