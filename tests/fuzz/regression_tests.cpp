// Every input the fuzzers ever stopped on, kept in regressions/<target>/, run through its
// target again in every build; and the builders' seeds through all four targets. A crash
// ends the test program, an abort from a target's checks too.
#include "fuzz/targets.h"
#include "hostile/hostile_files.h"
#include "support/jpeg_builder.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressions, SavedInputsRunClean) {
    int inputs = 0;
    for (const fuzz::Target& target : fuzz::kTargets) {
        const fs::path folder = fs::path(ORVANE_FUZZ_REGRESSIONS) / target.Name;
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
            SCOPED_TRACE(entry.path().string());
            target.Run(ReadFile(entry.path()));
            ++inputs;
        }
    }
    std::printf("%d saved inputs\n", inputs);
}

TEST(FuzzRegressions, BuiltFilesRunCleanThroughEveryTarget) {
    const Bytes small = jpeg_fixture::BaselineImage(32, 24);
    const Bytes files[] = {
        jpeg_fixture::BaselineImage(64, 48),         jpeg_fixture::ProgressiveImage(100, 60, 3, 4),
        hostile::EndOfBandFrame(1024, 1024, 3, 2),   hostile::TinyAppRun(40, false),
        hostile::NestedIfds(20),                     hostile::HugeCountIcc(),
        hostile::JpegWithIcc(hostile::HugeCountIcc()), hostile::MpfPastTheEnd(small),
        hostile::PhotoshopPastTheEnd(small),         hostile::OverflowingHuffman(1, 1),
    };
    for (const Bytes& file : files)
        for (const fuzz::Target& target : fuzz::kTargets) {
            SCOPED_TRACE(target.Name);
            target.Run(file);
            // The file cut in the middle as well.
            target.Run(std::span(file).first(file.size() / 2));
        }
}

}  // namespace
