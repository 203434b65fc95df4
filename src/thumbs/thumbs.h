// Embedded previews of a JPEG file: the collection that the APP/COM runs of the main image
// are handed to, the handler classes that recognise one kind of segment each, and the
// checks that decide whether a candidate preview is listed.
//
// A run of consecutive APPn/COM segments goes to TkestJpegThumbs::ProcessSegments, which
// offers each segment to the registry of handler classes (registry.h) from the last class
// to the first. A handler either finds a preview in the bytes it examined and reports it
// at once (Thumbs), or finds a file offset that a preview lies at (PostThumbs), which
// ProcessPostThumbs reads from the file after the header parse.
#pragma once

#include "jpeg/bytes.h"
#include "jpeg/parser.h"
#include "platform/stream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A range of the file.
struct TkestJpegBlock {
    std::int64_t Offset = 0;  // absolute file offset
    std::int64_t Size = 0;
};

// Forms of a preview (TkestJpegThumb::Kind).
inline constexpr std::uint8_t tkCompressed = 0;  // a JPEG (or PNG) stream
inline constexpr std::uint8_t tkRgb = 4;         // raw 8-8-8 RGB pixels
inline constexpr std::uint8_t tkPalette = 7;     // a 768-byte palette, then one index byte a pixel
inline constexpr std::uint8_t tkYCbCr = 8;       // raw YCbCr pixels with subsampled chroma

// One preview found.
struct TkestJpegThumb {
    std::uint8_t Kind = tkCompressed;
    // Position of the preview's first byte in the data the reporting handler examined: in
    // the collection's Data for a multi-segment run, in the current segment's payload
    // otherwise. For a preview read from the file, the low 32 bits of its file offset.
    std::int64_t Offset = 0;
    std::int64_t Size = 0;  // bytes of the preview
    std::int32_t Width = 0;   // 0 when unknown
    std::int32_t Height = 0;
    std::uint8_t ColorModel = 0;  // colour-model preset the check ran with
    std::int32_t SubsamplingX = 0;  // raw YCbCr only
    std::int32_t SubsamplingY = 0;
    // Share of the preview present and decoding: the parser's PercentRead for compressed
    // previews, the share of the required bytes present for raw ones.
    std::int32_t Percent = 0;
    bool Corrupted = false;  // the check of the preview did not end cleanly (TkestStreamCheck)
    std::vector<TkestJpegBlock> Blocks;  // the file ranges holding the preview, in order
    bool FromFile = false;               // added by ProcessPostThumbs
    bool FoundByScan = false;            // found by a scan for embedded streams (suffix "C")
    std::string Name;                    // "EXIF", "JFXX:Jpg", "UNK*:C", ...

    // Width x Height, the sort key; 64-bit so that no product of 32-bit sizes overflows.
    std::int64_t Area() const { return std::int64_t{Width} * Height; }
};
using PkestJpegThumb = TkestJpegThumb*;

// A preview that a segment points to by file offset, checked after the header parse.
struct TkestJpegPostThumb {
    std::int64_t Offset = 0;  // absolute file offset
    std::int32_t Size = 0;    // bytes as declared; 2 GiB or more arrive negative and are skipped
    std::string Name;
};
using PkestJpegPostThumb = TkestJpegPostThumb*;

class TkestJpegThumbs;
class TkestJpegThumbHandler;

// A handler class as the registry holds it: what is asked of the class without an object,
// and how to make one. HandlerClassOf<T>() (registry.h) builds it from T's static members.
struct TkestJpegThumbHandlerClass {
    const char* ClassName;
    // May this segment start a preview of this class? AData holds the payload bytes present
    // (AAvailable of them, at most ALength); ALength is the declared payload length.
    bool (*CanHandle)(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    bool IsMultiSegment;
    // Whether the class recognises its segments by a signature or header of their own, not
    // only by what their bytes look like (a stream's start, a layout, any bytes at all).
    bool IsSigned;
    std::unique_ptr<TkestJpegThumbHandler> (*Create)(TkestJpegThumbs& AOwner);
};

// What one parse of a candidate stream found.
struct TkestStreamCheck {
    // The check did not end cleanly: a result other than prOk, restart damage, or a parse
    // that went past a limit of its work or of its coefficient maps.
    bool Corrupted = false;
    std::int32_t Percent = 0;   // PercentRead; 0 = nothing decoded
    std::uint64_t Consumed = 0; // the parser's Position after the parse
    std::int32_t Width = 0;     // from the frame header, 0 without one
    std::int32_t Height = 0;
};

// Parses AStream from its current position with AParser. The parser raises the limits of
// one parse (its work budget, the size its coefficient maps may take) as a failed
// allocation: such a check ends there, with what decoded before, and leaves the analysis of
// the file to go on.
TkestStreamCheck CheckJpegStream(TkestBaseJpegParser& AParser, TStream& AStream, std::uint16_t AOptions,
                                 std::uint8_t AColorModel);

// Base of every handler. A handler object lives for one run of its class (one segment for a
// single-segment class). Class-level members, asked without an object, are static: each
// concrete class declares
//     static constexpr const char* ClassName = "...";
//     static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
// and inherits IsMultiSegment from TkestJpegThumbHandler (false) or
// TkestJpegThumbMultiHandler (true), and IsSigned (true) unless it takes segments by their
// look alone.
class TkestJpegThumbHandler {
public:
    explicit TkestJpegThumbHandler(TkestJpegThumbs& AOwner) : Owner(AOwner) {}
    virtual ~TkestJpegThumbHandler() = default;
    TkestJpegThumbHandler(const TkestJpegThumbHandler&) = delete;
    TkestJpegThumbHandler& operator=(const TkestJpegThumbHandler&) = delete;

    static constexpr bool IsMultiSegment() { return false; }
    static constexpr bool IsSigned() { return true; }

    // The label of this handler's previews.
    virtual std::string GetName() const;
    // Does this segment continue the active run? By default the active class's CanHandle.
    virtual bool CanContinue(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    // AOffset is the file offset of the segment's 0xFF byte; AData the payload bytes present.
    // By default scans the payload for JPEG streams.
    virtual void ProcessSegment(std::uint64_t AOffset, std::uint8_t AMarker, ByteView AData, std::uint32_t ALength);
    // The run ended. By default scans the collected bytes for JPEG streams.
    virtual void Finish();

    // --- Reporting ---
    // Adds a record labelled GetName(), or GetName() + ":" + ASuffix; a compressed preview's
    // offset enters FoundOffsets. The reference is valid until the next record is added.
    TkestJpegThumb& ReportThumb(std::uint8_t AKind, std::int64_t AOffset, std::int64_t ASize, std::int32_t AWidth,
                                std::int32_t AHeight, std::int32_t APercent, bool ACorrupted,
                                std::string_view ASuffix);
    // Whether no compressed preview was reported at AOffset by this handler object.
    bool IsNewOffset(std::int64_t AOffset) const;
    // The collection's parser (no read buffer) and borrowing stream, made on first use.
    TkestBaseJpegParser& SharedParser();
    TTempMemoryStream& SharedStream();

    // --- Checks ---
    // Parses AStream from its start with the shared parser.
    TkestStreamCheck CheckStream(TStream& AStream, std::uint16_t AOptions, std::uint8_t AColorModel);
    // A candidate JPEG stream: AData from its first byte to the end of the data examined,
    // checked in place (poStopWhenComplete) and reported when anything of it decodes.
    // Returns the bytes the parser consumed when it reported, else 0.
    std::uint64_t AddJpegThumb(ByteView AData, std::int64_t AOffset, std::uint8_t AColorModel,
                               std::string_view ASuffix);
    // Every JPEG stream in AData (positions are offsets in AData), suffix "C".
    void ScanForJpeg(ByteView AData);
    // Every PNG stream in AData, measured by its IHDR chunk, suffix "PNG".
    void ScanForPng(ByteView AData);
    // Raw previews, measured by the bytes present (AAvailable) against the bytes their size
    // requires; the pixels themselves are not read.
    void AddRgbThumb(std::int64_t AOffset, std::uint64_t AAvailable, std::int32_t AWidth, std::int32_t AHeight,
                     std::string_view ASuffix);
    void AddPaletteThumb(std::int64_t AOffset, std::uint64_t AAvailable, std::int32_t AWidth, std::int32_t AHeight,
                         std::string_view ASuffix);
    void AddYCbCrThumb(std::int64_t AOffset, std::uint64_t AAvailable, std::int32_t AWidth, std::int32_t AHeight,
                       std::int32_t AHSampling, std::int32_t AVSampling, std::string_view ASuffix);
    // A preview at an absolute file offset, checked from the file after the parse.
    void AddPostThumb(std::int64_t AOffset, std::int32_t ASize);

    TkestJpegThumbs& Owner;
    std::vector<std::int64_t> FoundOffsets;  // offsets of the compressed previews reported

private:
    void AddRawThumb(std::uint8_t AKind, std::int64_t AOffset, std::uint64_t AAvailable, std::uint64_t ANeed,
                     std::int32_t AWidth, std::int32_t AHeight, std::string_view ASuffix);
};

// Base of the handlers whose previews span consecutive segments: they collect payload
// bytes with AppendSegmentData and look at them in Finish.
class TkestJpegThumbMultiHandler : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr bool IsMultiSegment() { return true; }
};

// The catch-all: takes every segment no other class claims and scans it for JPEG streams.
class TkestJpegThumbBaseHandler final : public TkestJpegThumbHandler {
public:
    using TkestJpegThumbHandler::TkestJpegThumbHandler;
    static constexpr const char* ClassName = "TkestJpegThumbBaseHandler";
    static constexpr bool IsSigned() { return false; }
    static bool CanHandle(std::uint8_t, ByteView, std::uint32_t) { return true; }
};

// The previews of one parse.
class TkestJpegThumbs {
public:
    // AHandlers: the classes to dispatch over, from the last to the first; the registry by
    // default.
    TkestJpegThumbs();
    explicit TkestJpegThumbs(std::span<const TkestJpegThumbHandlerClass> AHandlers);
    ~TkestJpegThumbs();
    TkestJpegThumbs(const TkestJpegThumbs&) = delete;
    TkestJpegThumbs& operator=(const TkestJpegThumbs&) = delete;

    // A run of APPn/COM segments as they stood in the file (0xFF, marker, length field, the
    // payload bytes present), AOffset being the file offset of its first 0xFF.
    void ProcessSegments(std::uint64_t AOffset, std::span<const std::uint8_t> AData);
    // Finishes and frees the active handler; forgets the collected bytes.
    void EndRun();
    // Whether a class that recognises segments by a signature of their own takes this one:
    // it ends a run whose continuing segments carry no header to tell them.
    bool IsSignedSegment(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) const;
    // Collects payload bytes of the current segment for a multi-segment handler;
    // AOffsetInSegment is their position in the segment's payload.
    void AppendSegmentData(std::uint64_t AOffsetInSegment, ByteView AData);
    // Appends a record and maps [AOffset, AOffset + ASize) onto the file through Blocks.
    TkestJpegThumb& AddThumb(std::uint8_t AKind, std::int64_t AOffset, std::int64_t ASize, std::int32_t AWidth,
                             std::int32_t AHeight, std::int32_t APercent, bool ACorrupted, std::string AName);
    void AddPostThumb(std::int64_t AOffset, std::int32_t ASize, std::string AName);
    // Reads each post thumb from AStream (the analysed file), as far as its check needs,
    // and lists those that decode. A preview is the bytes at one file offset: one already
    // listed there is not listed again, and a stream the scan of a segment found there
    // gives way to the record of the handler that points to it.
    void ProcessPostThumbs(TStream& AStream);
    // The images that trailers after the main image index (FotoStation, Samsung), found
    // from the end of AStream; AImageEnd is where the main image's scan data begins, before
    // which no trailer lies. JPEG streams join the post thumbs; PNG streams are listed here.
    void ProcessTrailers(TStream& AStream, std::uint64_t AImageEnd);
    // The images of the XMP packets the runs held (the main packets and the extended packet
    // they name), after the walk: JPEG streams checked as in a segment, PNG streams measured.
    void ProcessXmp();
    // Largest area first; records of equal area keep their order.
    void SortThumbs();

    std::size_t DataLength() const { return Data.size(); }
    // Bounded work over all checks of a file: a file could otherwise multiply the work one
    // parse may do by pointing many previews at the same heavy stream. The checks together
    // may do what a parse of the bytes handed over (the runs, the file for post thumbs) and
    // of one 65,535 x 65,535 frame may; past that, no further candidate is checked.
    bool MayCheck() const;
    void CountCheck(const TkestBaseJpegParser& AParser);
    TkestBaseJpegParser& SharedParser();
    TTempMemoryStream& SharedStream();

    const TkestJpegThumbHandlerClass* HandlerClass = nullptr;  // class of the active handler
    std::unique_ptr<TkestJpegThumbHandler> Handler;
    std::uint64_t SegmentOffset = 0;     // file offset of the current segment's payload
    std::uint64_t SegmentAvailable = 0;  // its payload bytes present
    std::vector<std::uint8_t> Data;      // bytes the active multi-segment handler collected
    std::vector<TkestJpegBlock> Blocks;  // where each piece of Data came from
    std::unique_ptr<TkestBaseJpegParser> Parser;  // shared by the checks, no read buffer
    std::unique_ptr<TTempMemoryStream> Stream;    // shared by the checks
    std::vector<TkestJpegThumb> Thumbs;
    std::vector<TkestJpegPostThumb> PostThumbs;
    bool Debug = false;  // set by handlers on content they note but cannot show
    std::uint64_t CheckWork = 0;     // decoding work and bytes read by the checks so far
    std::uint64_t CheckedBytes = 0;  // bytes the checks may answer for

private:
    // An extended-XMP chunk: the GUID of its packet, the packet's declared full length, the
    // chunk's offset in it, and its bytes present.
    struct XmpChunk {
        std::string Guid;
        std::uint32_t Total = 0;
        std::uint32_t Offset = 0;
        std::vector<std::uint8_t> Data;
    };
    // Keeps the XMP of an APP1 segment (AData its payload bytes present) for ProcessXmp.
    void NoteXmp(std::uint8_t AMarker, ByteView AData);
    std::vector<std::uint8_t> ExtendedXmp() const;
    void AddXmpJpeg(ByteView AImage);
    std::vector<std::uint8_t> XmpMain;  // the main XMP packets met, each closed by a zero byte
    std::vector<XmpChunk> XmpChunks;    // the extended-XMP chunks met, in file order

    // ACount bytes of AStream from AOffset (fewer at its end), counted as checking work.
    std::vector<std::uint8_t> ReadFile(TStream& AStream, std::uint64_t AOffset, std::uint64_t ACount);
    void FotoStationTrailer(TStream& AStream, std::uint64_t AStart, std::uint64_t AEnd);
    void SamsungTrailer(TStream& AStream, std::uint64_t AStart, std::uint64_t AEnd);
    void TrailerImage(TStream& AStream, std::uint64_t AOffset, std::uint64_t ASize, std::string_view AName);
    // A PNG stream measured by CheckPng, listed when its IHDR is valid; AOffset is its file
    // offset when AFromFile, else its position in the data it was found in.
    void AddPngThumb(ByteView AData, std::int64_t AOffset, std::string AName, bool AFromFile);

    std::span<const TkestJpegThumbHandlerClass> Handlers;
};
