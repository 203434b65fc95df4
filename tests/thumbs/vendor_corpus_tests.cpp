// Vendor previews of whole files through the plugin's root: the real camera and editor files
// of the corpus whose APP segments carry vendor previews show them in "Thumbnails".
#include "analysis/root.h"
#include "frame/wdx.h"
#include "support/temp_files.h"
#include "thumb_helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::filesystem::path CorpusDir() {
    const char* value = std::getenv("ORVANE_CORPUS");
    return std::filesystem::path(value && *value ? value : ORVANE_CORPUS_DEFAULT);
}

// The MANIFEST's rows of JPEG files: path, ..., features (column 7), previews_exiftool (8).
struct ManifestRow {
    std::string path, features, previews;
};

std::vector<ManifestRow> JpegRows() {
    std::vector<ManifestRow> rows;
    std::ifstream in(CorpusDir() / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '\t')) fields.push_back(field);
        if (fields.size() < 7 || fields[0].rfind("jpeg/", 0) != 0) continue;
        rows.push_back({fields[0], fields[6], fields.size() > 7 ? fields[7] : ""});
    }
    return rows;
}

// The "Thumbnails" field of a file as the host reads it (field 8, 8-bit text).
std::string Thumbnails(const std::filesystem::path& file) {
    static const auto root = [] {
        auto r = std::make_unique<TOrvaneRoot>();
        r->CreateDefaultFields();
        return r;
    }();
    std::array<char, 4096> buffer{};
    const int type = root->GetFieldValue(WideName(file), 8, 0, buffer.data(), static_cast<int>(buffer.size()), 0, false);
    if (type == ft_fieldempty) return "";
    EXPECT_EQ(type, ft_string) << file;
    return buffer.data();
}

#define SKIP_WITHOUT_CORPUS()                                  \
    if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv")) \
    GTEST_SKIP() << "no corpus at " << CorpusDir() << " (set ORVANE_CORPUS)"

// exiftool's vendor previews (previews_exiftool: "Group:Tag=NB kind WxH; ..."), and the
// label that "Thumbnails" shows each under.
TEST(VendorCorpus, VendorPreviewsExiftoolDecodesAreListed) {
    SKIP_WITHOUT_CORPUS();
    static const std::regex entry(R"(^\s*(FLIR|FlashPix|Photoshop):(\w+)=\S+\s*(\S*)\s*(\d+x\d+)?)");
    int listed = 0, raw = 0;
    for (const ManifestRow& row : JpegRows()) {
        std::stringstream s(row.previews);
        std::string part;
        std::string ours;
        bool read = false;
        while (std::getline(s, part, ';')) {
            std::smatch m;
            if (!std::regex_search(part, m, entry)) continue;
            if (!read) {
                ours = Thumbnails(CorpusDir() / row.path);
                std::printf("%-58s %s\n", row.path.c_str(), ours.c_str());
                read = true;
            }
            const std::string group = m[1], tag = m[2], kind = m[3], size = m[4];
            if (size.empty() || (kind != "jpeg" && kind != "png")) {
                // A raw FlashPix ScreenNail, a FLIR thermal TIFF: not forms the handlers know.
                std::printf("    %s:%s is %s data without a size: not a preview form that is listed\n", group.c_str(),
                            tag.c_str(), kind.c_str());
                ++raw;
                continue;
            }
            std::string label;
            if (group == "Photoshop")
                label = "PS:";
            else if (group == "FLIR")
                label = kind == "png" ? "FLIR:PNG:" : "FLIR:C:";
            else
                label = "FPXR[24](:[12])?:C:";  // FlashPix streams in FPXR segments
            const std::regex shown("(^|, )" + label + size + "( |\\()");
            EXPECT_TRUE(std::regex_search(ours, shown)) << row.path << " " << group << ":" << tag << " " << size
                                                        << " is not in \"" << ours << "\"";
            ++listed;
        }
    }
    std::printf("%d vendor previews with a size, %d without\n", listed, raw);
    EXPECT_GT(listed, 0);
}

// Files whose APP segments a vendor class accepts (the MANIFEST's handler kinds) show a
// preview under that class's label, or are listed here with the reason they do not.
const std::map<std::string, std::string> kNoVendorPreview = {
    {"jpeg/mdx-HP_PhotoSmart_C812.jpg APP4raw",
     "its APP4 segments are HPSC segments: HPSCv1 takes them, the bare APP4 form is asked last"},
    {"jpeg/exiftool-InfiRay.jpg APP4raw",
     "231 bytes of thermal-camera parameters: the stream rebuilt from them decodes 5% or less"},
    {"jpeg/mdx-Samsung_SM-G935L_Galaxy_S7_Edge_.jpg APP4raw",
     "mostly zero bytes of camera data: the stream rebuilt from them decodes 5% or less"},
    {"jpeg/mdx-HTC_TyTN_II.jpg SCALADO", "the SCALADO segment holds camera data but no JPEG stream"},
    {"jpeg/bad/mdx-User_Comment_Encoding.jpg Qualcomm", "34 bytes of debug data, no JPEG stream"},
    {"jpeg/mdx-FLIR_Vue_Pro_640.jpg FLIR", "the FLIR record holds a raw thermal TIFF image only, no PNG or JPEG"},
    {"jpeg/exiftool-Kodak.jpg FPXR2", "the FlashPix streams hold a 166-byte raw ScreenNail stub, no JPEG stream"},
};

TEST(VendorCorpus, FilesWithVendorSegmentsShowTheirPreviews) {
    SKIP_WITHOUT_CORPUS();
    static const std::regex handlers(R"(handlers=([^ |]*))");
    const std::set<std::string> standard = {"JFIF", "JFXX", "EXIF", "MPF", "PS"};
    std::set<std::string> used;
    int shown = 0;
    for (const ManifestRow& row : JpegRows()) {
        std::smatch m;
        if (!std::regex_search(row.features, m, handlers)) continue;
        std::stringstream kinds(m[1].str());
        std::string kind;
        std::string ours;
        bool read = false;
        while (std::getline(kinds, kind, ',')) {
            if (standard.count(kind)) continue;
            if (!read) {
                ours = Thumbnails(CorpusDir() / row.path);
                std::printf("%-58s %s\n", row.path.c_str(), ours.c_str());
                read = true;
            }
            const std::string label = kind == "APP4raw" ? "APP4" : kind;
            const std::string key = row.path + " " + kind;
            const auto exception = kNoVendorPreview.find(key);
            const bool found = std::regex_search(ours, std::regex("(^|, )" + label + ":"));
            if (exception != kNoVendorPreview.end()) {
                used.insert(key);
                EXPECT_FALSE(found) << key << " is listed now: drop its exception";
                std::printf("    %s: %s\n", kind.c_str(), exception->second.c_str());
                continue;
            }
            EXPECT_TRUE(found) << key << ": no " << label << " preview in \"" << ours << "\"";
            ++shown;
        }
    }
    std::printf("%d vendor kinds shown, %zu without a preview\n", shown, used.size());
    for (const auto& [key, reason] : kNoVendorPreview)
        EXPECT_TRUE(used.count(key)) << key << ": exception for a file or kind no longer in the corpus";
}

}  // namespace
