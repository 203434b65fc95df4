// Real profiles made by others (the shared corpus and the system's colour folder) against
// expectations from independent tools: the raw header bytes and hashlib's MD5 under the
// profile-ID rule (Python), the tag texts (exiftool). make_expectations.py writes them
// natively before this program runs, so that the Windows builds check the same files.
#include "icc/icc_profile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::filesystem::path FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::filesystem::path(value && *value ? value : fallback);
}

std::filesystem::path CorpusIccDir() { return FromEnvironment("ORVANE_CORPUS", ORVANE_CORPUS_DEFAULT) / "icc"; }
std::filesystem::path SystemIccDir() { return ORVANE_SYSTEM_ICC_DIR; }

using Row = std::map<std::string, std::string>;

std::vector<Row> ReadExpectations() {
    std::ifstream in{std::filesystem::path(ORVANE_ICC_EXPECTATIONS)};
    std::vector<Row> rows;
    std::string line;
    if (!std::getline(in, line)) return rows;
    std::vector<std::string> columns;
    std::istringstream header(line);
    for (std::string column; std::getline(header, column, '\t');) columns.push_back(column);
    while (std::getline(in, line)) {
        Row row;
        std::istringstream fields(line);
        std::string field;
        for (std::size_t i = 0; i < columns.size() && std::getline(fields, field, '\t'); ++i) row[columns[i]] = field;
        rows.push_back(row);
    }
    return rows;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::u16string Trim(std::u16string text) {
    while (!text.empty() && text.back() <= u' ') text.pop_back();
    std::size_t first = 0;
    while (first < text.size() && text[first] <= u' ') ++first;
    return text.substr(first);
}

// A signature's text: codes 0-32 trimmed, the rest as the system's 8-bit text of the bytes.
std::string TrimSig(std::string text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.pop_back();
    std::size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= 32) ++first;
    return platform::FileTextToAnsi(text.substr(first));
}

struct Loaded {
    std::string name;
    Row row;
    std::filesystem::path path;
};

// The rows whose folder exists here; skips the test when there are none.
class RealProfiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto rows = ReadExpectations();
        if (rows.empty()) {
            GTEST_SKIP() << "no expectations in " << ORVANE_ICC_EXPECTATIONS
                         << " (written by the icc_expectations test, which needs python3)";
        }
        const bool corpus = std::filesystem::is_directory(CorpusIccDir());
        const bool system = std::filesystem::is_directory(SystemIccDir());
        if (!corpus) std::cout << "[ skipped  ] the corpus is absent (" << CorpusIccDir().string() << ")\n";
        if (!system) std::cout << "[ skipped  ] no system profiles (" << SystemIccDir().string() << ")\n";
        for (const auto& row : rows) {
            const bool fromCorpus = row.at("set") == "corpus";
            if (fromCorpus ? !corpus : !system) continue;
            profiles_.push_back({row.at("set") + ":" + row.at("path"), row,
                                 (fromCorpus ? CorpusIccDir() : SystemIccDir()) / row.at("path")});
        }
        if (profiles_.empty()) GTEST_SKIP() << "neither the corpus nor system profiles are present";
    }

    // Parses the file; false when it does not open.
    static bool ParseFile(const Loaded& profile, TkestIccInfo& info, bool& recognised) {
        auto stream = TFileStream::Open(profile.path.u16string());
        if (!stream) return false;
        recognised = IsIccProfileStream(*stream);
        ParseIccProfile(*stream, info);
        return true;
    }

    std::vector<Loaded> profiles_;
};

TEST_F(RealProfiles, HeaderTextsAgreeWithTheRawHeader) {
    const std::map<std::string, std::string> classes = {
        {"scnr", "Input device"}, {"mntr", "Display device"}, {"prtr", "Output device"},
        {"link", "Device link"},  {"spac", "Color space"},    {"abst", "Abstract"},
        {"nmcl", "Named color"},
    };
    const std::map<std::string, std::string> spaces = {
        {"RGB ", "RGB"}, {"GRAY", "Gray"}, {"CMYK", "CMYK"}, {"Lab ", "CIELAB or PCSLAB"}, {"XYZ ", "nCIEXYZ or PCSXYZ"},
    };
    const std::map<std::string, std::string> platforms = {
        {"APPL", "Apple Computer, Inc."}, {"MSFT", "Microsoft Corporation"},
        {"SGI ", "Silicon Graphics, Inc."}, {"SUNW", "Sun Microsystems, Inc."},
    };
    const auto named = [](const std::map<std::string, std::string>& table, const std::string& sig) {
        const auto found = table.find(sig);
        return found != table.end() ? found->second : TrimSig(sig);
    };
    std::size_t checked = 0;
    for (const auto& profile : profiles_) {
        SCOPED_TRACE(profile.name);
        TkestIccInfo info;
        bool recognised = false;
        ASSERT_TRUE(ParseFile(profile, info, recognised)) << "cannot open " << profile.path.string();
        const std::string header = FromHex(profile.row.at("header"));
        EXPECT_EQ(recognised, !header.empty());
        if (header.empty()) continue;  // not a profile: the caller would not parse it
        const auto field = [&](std::size_t at) { return header.substr(at, 4); };
        const auto major = static_cast<unsigned char>(header[8]);
        const auto minorBug = static_cast<unsigned char>(header[9]);
        std::string version = std::to_string(major);
        if ((minorBug & 0x0F) != 0) {
            version += "." + std::to_string(minorBug >> 4) + "." + std::to_string(minorBug & 0x0F);
        } else if ((minorBug >> 4) != 0) {
            version += "." + std::to_string(minorBug >> 4);
        }
        EXPECT_EQ(info.IccCmm, TrimSig(field(4)));
        EXPECT_EQ(info.IccVersion, version);
        EXPECT_EQ(info.IccClass, named(classes, field(12)));
        EXPECT_EQ(info.IccColorSpace, named(spaces, field(16)));
        EXPECT_EQ(info.IccConnectionSpace, named(spaces, field(20)));
        EXPECT_EQ(info.IccPlatform, named(platforms, field(40)));
        EXPECT_EQ(info.IccManufacturer, TrimSig(field(48)));
        EXPECT_EQ(info.IccModel, TrimSig(field(52)));
        EXPECT_EQ(info.IccCreator, TrimSig(field(80)));
        ++checked;
    }
    std::cout << "[ profiles ] header texts of " << checked << " profiles checked\n";
}

TEST_F(RealProfiles, TagTextsAgreeWithExiftool) {
    const struct {
        const char* tag;
        std::u16string TkestIccInfo::*member;
    } tags[] = {
        {"desc", &TkestIccInfo::IccDescription},
        {"cprt", &TkestIccInfo::IccCopyright},
        {"dmnd", &TkestIccInfo::IccManufacturerDescription},
        {"dmdd", &TkestIccInfo::IccModelDescription},
    };
    std::size_t checked = 0, firstRecord = 0;
    for (const auto& profile : profiles_) {
        SCOPED_TRACE(profile.name);
        TkestIccInfo info;
        bool recognised = false;
        ASSERT_TRUE(ParseFile(profile, info, recognised));
        for (const auto& tag : tags) {
            const std::string prefix = tag.tag;
            const std::string& type = profile.row.at(prefix + "_type");
            const std::string& source = profile.row.at(prefix + "_source");
            if (source == "no-exiftool") continue;
            if (type != "text" && type != "desc" && type != "mluc") {
                EXPECT_EQ(info.*tag.member, u"") << prefix;
                continue;
            }
            std::u16string expected = Utf8ToUtf16(FromHex(profile.row.at(prefix + "_text")));
            if (type == "text" && expected.size() > 100) expected.resize(100);  // at most 100 characters
            EXPECT_EQ(info.*tag.member, Trim(expected)) << prefix << " (" << type << ", " << source << ")";
            ++checked;
            if (source == "first-record") ++firstRecord;
        }
    }
    std::cout << "[ profiles ] " << checked << " tag texts checked, " << firstRecord
              << " of them multi-language mluc texts against their first record (exiftool shows the last)\n";
}

TEST_F(RealProfiles, DigestIsTheProfileId) {
    // Per group of files: profiles with a stored ID, and how many of those IDs match.
    std::map<std::string, std::pair<std::size_t, std::size_t>> groups;
    std::size_t digests = 0;
    std::vector<std::string> stale;
    for (const auto& profile : profiles_) {
        SCOPED_TRACE(profile.name);
        TkestIccInfo info;
        bool recognised = false;
        ASSERT_TRUE(ParseFile(profile, info, recognised));
        const std::string& independent = profile.row.at("md5");
        if (!recognised || profile.row.at("header").size() != 256) continue;
        // Our digest is always hashlib's MD5 under the same rule.
        EXPECT_EQ(DigestToHex(info.IccDigest), independent);
        ++digests;
        const std::string storedId = profile.row.at("header").substr(2 * 84, 32);
        if (storedId == std::string(32, '0')) continue;
        const std::string group = profile.row.at("set") + (profile.row.at("path").rfind("bad/", 0) == 0 ? " bad" : "");
        ++groups[group].first;
        if (independent == storedId) {
            EXPECT_EQ(DigestToHex(info.IccDigest), storedId);
            ++groups[group].second;
        } else {
            stale.push_back(profile.name + " stores " + storedId + ", its bytes give " + independent);
        }
    }
    std::cout << "[ profiles ] " << digests << " digests checked against hashlib's\n";
    for (const auto& [group, counts] : groups)
        std::cout << "[ profiles ] " << group << ": " << counts.second << " of " << counts.first
                  << " stored profile IDs equal our digest\n";
    for (const auto& line : stale) std::cout << "[ stale ID ] " << line << "\n";
}

}  // namespace
