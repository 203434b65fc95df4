#include "fuzz/targets.h"

#include "analysis/info.h"
#include "analysis/jpeg_with_thumbs.h"
#include "analysis/root.h"
#include "icc/icc_profile.h"
#include "jpeg/parser.h"
#include "platform/stream.h"
#include "thumbs/thumbs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace fuzz {

namespace {

std::vector<std::uint8_t> Copy(std::span<const std::uint8_t> AData) { return {AData.begin(), AData.end()}; }

// A broken promise of the code under test: stop with a message the fuzzer keeps.
void Require(bool ACondition, const char* AWhat) {
    if (!ACondition) {
        std::fputs(AWhat, stderr);
        std::fputc('\n', stderr);
        std::abort();
    }
}

bool IsApp(std::uint8_t AMarker) { return (AMarker >= 0xE0 && AMarker <= 0xEF) || AMarker == 0xFE; }

}  // namespace

void Analysis(std::span<const std::uint8_t> AData) {
    TMemoryStream stream(Copy(AData));
    TkestInfo info;
    try {
        const std::span<const std::uint8_t> probe = AData.first(std::min<std::size_t>(AData.size(), 128));
        if (IsIccProfileHeader(probe)) {
            ParseIccProfile(stream, info);
        } else if (IsJpegHeader(probe)) {
            AnalyseJpeg(stream, info);
        }
    } catch (const std::exception&) {
        // As AnalyseFile: what was filled before the failure stays.
    }
    Require(info.IccSize >= 0, "negative ICC size");
    Require(info.Quality >= 0, "negative quality");
}

void Decode(std::span<const std::uint8_t> AData) {
    TMemoryStream stream(Copy(AData));
    TkestInfo info;
    try {
        DecodeJpeg(stream, info);
        Require(info.Trailer >= 0 && static_cast<std::uint64_t>(info.Trailer) <= AData.size(), "trailer outside the file");
        Require(info.Scans >= 0, "negative scan count");
        Require(!info.Integrity.empty(), "no integrity text after a pass that ended");
    } catch (const std::exception&) {
        // As DecodeFully: the members stay empty.
    }
    // The preview checks read from memory in place.
    TTempMemoryStream memory;
    memory.SetPointer(AData);
    TkestBaseJpegParser parser(0);
    try {
        parser.Parse(memory, poStopWhenComplete, 0);
        Require(parser.PercentRead() >= 0, "negative percentage");
        Require(parser.Position <= AData.size(), "position past the data");
    } catch (const std::exception&) {
    }
}

void Icc(std::span<const std::uint8_t> AData) {
    TMemoryStream stream(Copy(AData));
    TkestIccInfo info;
    if (IsIccProfileStream(stream)) {
        stream.Seek(0);
        ParseIccProfile(stream, info);  // never throws
    }
}

void Segments(std::span<const std::uint8_t> AData) {
    std::vector<std::uint8_t> run = Copy(AData);
    // Shape the bytes as the walk collects a run: each segment 0xFF, an APPn/COM code and a
    // length field of at least 2; the last one may be cut short.
    for (std::size_t at = 0; at + 4 <= run.size();) {
        run[at] = 0xFF;
        if (!IsApp(run[at + 1])) run[at + 1] = static_cast<std::uint8_t>(0xE0 | (run[at + 1] & 0x0F));
        if (run[at + 2] == 0 && run[at + 3] < 2) run[at + 3] = 2;
        at += 2 + (std::size_t{run[at + 2]} << 8 | run[at + 3]);
    }
    if (run.size() < 4) return;
    // The file the post thumbs are read from: SOI, then the run at offset 2.
    std::vector<std::uint8_t> bytes = {0xFF, 0xD8};
    bytes.insert(bytes.end(), run.begin(), run.end());
    TMemoryStream file(std::move(bytes));
    try {
        TkestJpegThumbs thumbs;
        thumbs.ProcessSegments(2, run);
        thumbs.ProcessPostThumbs(file);
        thumbs.SortThumbs();
        const std::string text = ThumbnailsText(thumbs);
        Require(thumbs.Thumbs.empty() == text.empty(), "thumbnail text and records disagree");
    } catch (const std::exception&) {
    }
}

}  // namespace fuzz
