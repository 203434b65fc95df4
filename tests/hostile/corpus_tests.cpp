// Real files: every file of the corpus's jpeg/bad folder analysed and fully decoded through
// the plugin's root, every corpus file cut at ten points through the fuzz targets (analysis,
// full decoding, ICC parser), never a crash and never a hang; and the budget of decoding work
// measured on every corpus JPEG, which must stay far below it.
#include "fuzz/targets.h"
#include "hostile/watchdog.h"

#include "analysis/info.h"
#include "analysis/root.h"
#include "jpeg/catalogue.h"
#include "platform/stream.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path CorpusDir() {
    const char* value = std::getenv("ORVANE_CORPUS");
    return value && *value ? fs::path(value) : fs::path(ORVANE_CORPUS_DEFAULT);
}

// The regular files below `AFolder`, in name order.
std::vector<fs::path> FilesBelow(const fs::path& AFolder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(AFolder, error))
        if (entry.is_regular_file() && entry.path().filename() != "MANIFEST.tsv" && entry.path().extension() != ".md")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

#define SKIP_WITHOUT_CORPUS()                                                                                     \
    if (!fs::is_directory(CorpusDir() / "jpeg"))                                                                  \
    GTEST_SKIP() << "the corpus is absent (" << CorpusDir().string() << "); set ORVANE_CORPUS to its folder"

TEST(BadCorpus, EveryBadFileIsAnalysedAndDecoded) {
    SKIP_WITHOUT_CORPUS();
    TOrvaneRoot root;
    int files = 0;
    for (const fs::path& file : FilesBelow(CorpusDir() / "jpeg" / "bad")) {
        Watchdog watchdog(file.string(), 120s);
        auto record = root.AnalyseFile(WideName(file));
        static_cast<TkestInfo&>(*record).DecodeFully();
        ++files;
    }
    std::printf("%d bad files\n", files);
    EXPECT_GT(files, 0);
}

TEST(BadCorpus, EveryFileCutAtTenPoints) {
    SKIP_WITHOUT_CORPUS();
    int cuts = 0;
    double slowest = 0;
    fs::path slowestFile;
    for (const fs::path& file : FilesBelow(CorpusDir())) {
        const Bytes bytes = ReadFile(file);
        const auto start = std::chrono::steady_clock::now();
        Watchdog watchdog("the cuts of " + file.string(), 300s);
        for (int point = 1; point <= 10; ++point) {
            // Ten points spread over the file, the last one byte short of its end.
            const std::size_t size = point == 10 ? (bytes.empty() ? 0 : bytes.size() - 1) : bytes.size() * point / 10;
            const auto cut = std::span<const std::uint8_t>(bytes).first(size);
            fuzz::Analysis(cut);
            fuzz::Decode(cut);
            fuzz::Icc(cut);
            ++cuts;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > slowest) {
            slowest = seconds;
            slowestFile = file;
        }
    }
    std::printf("%d cuts; the slowest file's took %.2f s (%s)\n", cuts, slowest, slowestFile.filename().string().c_str());
}

TEST(BadCorpus, RealFilesStayFarBelowTheWorkBudget) {
    SKIP_WITHOUT_CORPUS();
    // The share of its budget that each file's decoding was counted for. A scan is counted in
    // full before it is decoded, so a file cut short (or a few bytes claiming a huge frame)
    // is counted for data it does not have: such files must only stay within the budget;
    // complete ones must stay far below it.
    struct Worst {
        double Share = 0;
        std::string File;
    } complete, incomplete;
    double perByte = 0;
    int files = 0;
    for (const fs::path& file : FilesBelow(CorpusDir() / "jpeg")) {
        TMemoryStream stream(ReadFile(file));
        TkestJpeg parser(1048576);
        int result = prOk;
        try {
            result = parser.Parse(stream, 0, 0);
        } catch (const std::exception&) {
            ADD_FAILURE() << file.string() << " failed like an allocation (work " << parser.Work << " of "
                          << parser.WorkBudget() << ")";
        }
        if (parser.Work == 0) continue;
        ++files;
        const double share = static_cast<double>(parser.Work) / static_cast<double>(parser.WorkBudget());
        Worst& worst = result == prOk ? complete : incomplete;
        if (share > worst.Share) worst = {share, file.filename().string()};
        if (result == prOk) {
            perByte = std::max(perByte, static_cast<double>(parser.Work) / static_cast<double>(stream.Size()));
            // An eighth of the budget is far more than any real file uses.
            EXPECT_LT(share, 0.125) << file.string();
        }
    }
    std::printf("work budget: %d decoded files; complete ones use at most %.4f of it (%s, %.2f blocks per byte "
                "at most), incomplete ones %.4f (%s)\n",
                files, complete.Share, complete.File.c_str(), perByte, incomplete.Share, incomplete.File.c_str());
}

}  // namespace
