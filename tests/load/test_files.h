// The files the load and stress tests ask about: made by the builders (every kind the plugin
// reads, sound and hostile, an ICC profile, a file of neither kind, a missing file) in `ADir`,
// `AVariants` sizes of each image, and, when the corpus is present, every `AStep`-th of its
// files of up to `ACorpusBytes` bytes.
#pragma once

#include "hostile/hostile_files.h"
#include "support/jpeg_builder.h"
#include "support/temp_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

inline std::vector<std::filesystem::path> MakeTestFiles(const TempDir& ADir, int AVariants, std::uintmax_t ACorpusBytes,
                                                        std::size_t AStep = 1) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    const auto add = [&](const std::string& name, const Bytes& bytes) {
        ADir.Write(name, bytes);
        files.push_back(ADir / name);
    };
    for (int i = 0; i < AVariants; ++i) {
        const auto w = static_cast<std::uint16_t>(16 + 8 * i), h = static_cast<std::uint16_t>(8 + 4 * i);
        const std::string n = std::to_string(i);
        add("baseline" + n + ".jpg", jpeg_fixture::BaselineImage(w, h));
        add("progressive" + n + ".jpg", jpeg_fixture::ProgressiveImage(w, h, i % 2 ? 1 : 3, static_cast<std::uint16_t>(i % 3)));
        add("mpf" + n + ".jpg", hostile::MpfPastTheEnd(jpeg_fixture::BaselineImage(h, w, 1)));
    }
    add("photoshop.jpg", hostile::PhotoshopPastTheEnd(jpeg_fixture::BaselineImage(40, 24)));
    add("ifds.jpg", hostile::ChainedIfds(500));
    add("app-run.jpg", hostile::TinyAppRun(300, false));
    add("huffman.jpg", hostile::OverflowingHuffman(0, 1));
    add("icc-in-jpeg.jpg", hostile::JpegWithIcc(hostile::HugeCountIcc()));
    add("profile.icc", hostile::HugeCountIcc());
    add("text.txt", jpeg_fixture::Text("neither a JPEG nor a profile"));
    files.push_back(ADir / "missing.jpg");

    const char* corpus = std::getenv("ORVANE_CORPUS");
    const fs::path folder = corpus && *corpus ? fs::path(corpus) : fs::path(ORVANE_CORPUS_DEFAULT);
    std::vector<fs::path> real;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.file_size() <= ACorpusBytes && entry.path().extension() != ".tsv" &&
            entry.path().extension() != ".md")
            real.push_back(entry.path());
    std::sort(real.begin(), real.end());
    for (std::size_t i = 0; i < real.size(); i += AStep) files.push_back(real[i]);
    return files;
}
