// TkestBaseJpegParser: reads one JPEG stream (ITU-T T.81 Annex B) marker by marker through
// a read-ahead buffer and keeps what it learns: the frame header, the coding tables, the
// last scan header, a few facts from APP segments and the quality estimate. It never
// produces pixels. Subclasses observe the stream through the hooks DoSegment, DoAppSegment,
// DoAppGroup and WantsCoefficients instead of repeating the walk.
//
// A parser object belongs to one thread; only constant tables are shared.
#pragma once

#include "jpeg/arithmetic.h"
#include "jpeg/coefficients.h"
#include "platform/stream.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Option bits of Parse and ParseMarkers.
inline constexpr std::uint16_t poHeadersOnly = 0x0001;       // stop after the first scan header
inline constexpr std::uint16_t poResumeScan = 0x0002;        // decode the scan whose header was parsed last
inline constexpr std::uint16_t poNoSoi = 0x0004;             // the stream need not begin with SOI
inline constexpr std::uint16_t poStopWhenComplete = 0x0008;  // stop once every component was scanned
inline constexpr std::uint16_t poReadLimit = 0x0020;         // read nothing once Position passes 16 MiB
inline constexpr std::uint16_t poNoRestartSearch = 0x0100;   // no search ahead for RSTn after an interval

// With poReadLimit, stream reads are refused once Position is above this (16 MiB).
inline constexpr std::uint64_t kReadLimitBytes = 16777216;

// Result codes of Parse and ParseMarkers.
inline constexpr int prOk = 0;           // EOI without restart damage, or an early stop asked for
inline constexpr int prEndOfData = 1;    // the stream ended, a length below 2, a segment cut short
inline constexpr int prEarlyEnd = 2;     // EOI inside entropy-coded data
inline constexpr int prUnexpected = 3;   // no SOI, a refused marker, a scan before any frame
inline constexpr int prUnsupported = 4;  // a scan of a process other than 0xC0-0xC2, 0xC9, 0xCA
inline constexpr int prCorrupt = 6;      // an invalid header or table, undecodable data, restart damage

// Colour-model codes (ColorModel, ChooseColorModel); 0 = undecided or no frame, 6 unused.
inline constexpr std::uint8_t cmGray = 1;
inline constexpr std::uint8_t cmGrayA = 2;
inline constexpr std::uint8_t cmRGB = 3;
inline constexpr std::uint8_t cmRGBA = 4;
inline constexpr std::uint8_t cmYCbCr = 5;
inline constexpr std::uint8_t cmYCbCrA = 7;
inline constexpr std::uint8_t cmCMYK = 8;
inline constexpr std::uint8_t cmYCbCrK = 9;
inline constexpr std::uint8_t cmYCCK = 10;
inline constexpr std::uint8_t cmPhotoYCC = 11;
inline constexpr std::uint8_t cmPhotoYCCA = 12;
inline constexpr std::uint8_t cmITUCieLAB = 13;

// "Gray", "YCbCr", ... for a colour-model code; empty for 0, 6 and codes above 13.
const char* ColorModelName(std::uint8_t AColorModel);

// Rounds to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double value);

// A component of the frame header (T.81 B.2.2), with the decoding counters of its data units.
struct TkestFrameComponent {
    std::uint8_t Id = 0;
    std::int32_t VSampling = 0;      // 1, 2, 4 or 8
    std::int32_t HSampling = 0;      // 1, 2, 4 or 8
    std::uint8_t QuantTable = 0;     // selector as read; above 3 names no table
    // 64-bit: a progressive frame adds its grid once per scan, and a frame whose height comes
    // from DNL grows with the data, so neither is bounded by 32 bits.
    std::int64_t UnitsExpected = 0;  // MCU units due from the scans of this component
    std::int64_t UnitsDecoded = 0;   // MCU units decoded
    bool Scanned = false;            // named in some scan header
};

// A quantization table (T.81 B.2.4.1) and its quality estimate.
struct TkestQuantTable {
    std::array<std::uint16_t, 64> Values{};  // in segment (zigzag) order
    bool Defined = false;
    double Estimate = 0;
    bool Estimated = false;
};

// A Huffman table (T.81 B.2.4.2) and its decoding tables (T.81 C, F.2.2.3), which the
// decoder builds at the first scan that needs the table.
struct TkestHuffmanTable {
    std::array<std::int32_t, 16> Counts{};    // codes of each length 1-16
    std::array<std::int32_t, 256> Symbols{};  // symbol bytes in segment order
    std::int32_t MinLength = 0;               // shortest length with a code; 17 when none
    bool Defined = false;
    bool LookupBuilt = false;
    bool FastBuilt = false;  // Fast, for the fast path of sequential scans
    // The codes would not fit their lengths (more codes of some length L than the L-bit
    // codes the shorter lengths left free): the table cannot be decoded.
    bool Oversubscribed = false;

    // Indexed by code length 1-16: the first and last code of that length (LastCode -1 when
    // there is none) and the index in Symbols of the first one.
    std::array<std::int32_t, 17> FirstCode{};
    std::array<std::int32_t, 17> LastCode{};
    std::array<std::int32_t, 17> FirstIndex{};
    // By the next 8 bits: length << 8 | symbol of the code of up to 8 bits they begin
    // with, or 0 when the code is longer.
    std::array<std::uint16_t, 256> Lookup{};
    // By the next kFastBits bits: the bits of a whole coefficient (code and magnitude) when
    // they fit, with how far it advances, or of two when both fit; 0 otherwise
    // (decoder.cpp). On the heap, and built only for sequential scans read from memory.
    static constexpr int kFastBits = 13;
    std::unique_ptr<std::array<std::uint16_t, std::size_t{1} << kFastBits>> Fast;
};

// A component of the scan header (T.81 B.2.3) with its place in the MCU.
struct TkestScanComponent {
    std::uint8_t Selector = 0;      // Cs
    std::int32_t FrameIndex = 0;    // the frame component it names
    std::int32_t HSampling = 0;
    std::int32_t VSampling = 0;
    std::int32_t BlockWidth = 0;    // samples of the full-size image covered by one block
    std::int32_t BlockHeight = 0;
    std::int32_t BlocksAcross = 0;  // blocks of this component in one MCU
    std::int32_t BlocksDown = 0;
    std::uint8_t QuantTable = 0;
    std::int32_t DcTable = 0;
    std::int32_t AcTable = 0;
    std::int32_t DcPredictor = 0;
};

class TkestScanDecoder;

class TkestBaseJpegParser {
    friend class TkestScanDecoder;

public:
    // ABufferSize 0: no read-ahead buffer, every request is one Read from the stream.
    // AHasGroupHandler: the subclass overrides DoAppGroup and wants the runs of APP/COM
    // segments collected; without it nothing is collected and DoAppGroup is never called.
    explicit TkestBaseJpegParser(std::uint32_t ABufferSize, bool AHasGroupHandler = false);
    virtual ~TkestBaseJpegParser() = default;
    TkestBaseJpegParser(const TkestBaseJpegParser&) = delete;
    TkestBaseJpegParser& operator=(const TkestBaseJpegParser&) = delete;

    // Walks `AStream` from its current position; offsets are relative to that position.
    // AColorModel presets ColorModel (0: the headers decide). Returns a pr* code.
    int Parse(TStream& AStream, std::uint16_t AOptions, std::uint8_t AColorModel);

    // Clears all per-parse state; table contents stay, their Defined marks do not.
    virtual void Reset();
    // The marker walk over Stream.
    virtual int ParseMarkers(std::uint16_t AOptions, std::uint8_t AColorModel);
    // Prepares coefficient storage for the current scan (progressive frames).
    virtual void PrepareCoefficientMaps();

    // The colour model the headers and APP facts suggest (cm* code), or ColorModel when set.
    std::uint8_t ChooseColorModel() const;

    // Bytes of DQT payloads collected in this parse.
    std::size_t QuantTableDataLength() const { return QuantTableData.size(); }

    // The decoding work a parse may do, in blocks: proportional to the size of its stream and
    // to the blocks of its frame (decoder.cpp).
    std::uint64_t WorkBudget() const;
    // The same for ABytes of data and a frame of AFrameBlocks blocks.
    static std::uint64_t WorkBudgetFor(std::uint64_t ABytes, std::uint64_t AFrameBlocks);
    // Adds ABlocks to Work; throws std::bad_alloc, as a failed allocation would, when that
    // passes WorkBudget().
    void ChargeWork(std::uint64_t ABlocks);

    // The share of the image's data units that decoded, in percent: the mean over the frame
    // components of decoded / expected units (at most 1 each), rounded half to even; 99
    // instead of 100 when some unit is missing, 1 instead of 0 when some unit decoded. 0
    // without a frame.
    int PercentRead() const;

    // --- The walk ---
    std::uint16_t Options = 0;
    TStream* Stream = nullptr;           // not owned
    const std::uint32_t ReadBufferSize;
    std::uint64_t Position = 0;          // bytes handed out since Parse began, never those read ahead
    std::vector<std::uint8_t> SegmentData;  // 65,535 bytes once the first segment is read
    bool SegmentIsApp = false;
    std::uint16_t SegmentLength = 0;     // payload length of the current segment
    const bool HasGroupHandler;
    std::vector<std::uint8_t> GroupBuffer;  // the APP/COM run being collected; its size is the run's length
    std::uint64_t GroupPosition = 0;     // offset of the run's first marker byte
    std::bitset<256> AllowedMarkers;
    // A marker the scan decoder read where a scan's data ended early, for the walk to take
    // next (0: none); forgotten with the buffered bytes.
    std::uint8_t PendingMarker = 0;
    std::int32_t ScanCount = 0;          // scans whose decoding began
    bool RestartDamage = false;          // a restart interval was damaged or skipped
    // Blocks of work the scans of this parse were counted for (ChargeWork).
    std::uint64_t Work = 0;

    // --- Frame header ---
    bool FrameSeen = false;
    std::int32_t FrameMarker = 0;
    std::int32_t Precision = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool HeightPending = false;          // 0 lines in the frame header; DNL gives the height
    std::int32_t ComponentCount = 0;     // 0 to 4
    std::array<TkestFrameComponent, 4> FrameComponents{};
    std::int32_t MaxHSampling = 0;
    std::int32_t MaxVSampling = 0;
    std::string ComponentIds;            // one identifier byte per frame component
    bool KeepCoefficients = false;

    // --- Tables ---
    std::array<TkestQuantTable, 4> QuantTables{};
    std::array<TkestHuffmanTable, 4> DcTables{};
    std::array<TkestHuffmanTable, 4> AcTables{};
    std::int32_t RestartInterval = 0;    // MCUs per restart interval; 0 = none
    // Conditioning of the arithmetic statistics tables (DAC, T.81 B.2.4.3), by table
    // selector: DC tables, AC tables. ConditioningInvalid: a DAC entry outside the
    // standard's ranges, which makes the arithmetic scans undecodable.
    std::array<TkestConditioning, 4> DcConditioning{};
    std::array<TkestConditioning, 4> AcConditioning{};
    bool ConditioningInvalid = false;

    // --- The scan header parsed last ---
    std::int32_t ScanComponentCount = 0;  // 0 to 4
    std::array<TkestScanComponent, 4> ScanComponents{};
    std::int32_t SpectralStart = 0;
    std::int32_t SpectralEnd = 0;
    std::int32_t ApproxHigh = 0;
    std::int32_t ApproxLow = 0;
    std::int32_t McuWidth = 0;
    std::int32_t McuHeight = 0;
    std::int32_t McusPerRow = 0;
    std::int32_t McuRows = 0;

    // --- Decoding of the current scan (T.81 F.2, G.2) ---
    std::int32_t NextRestartMarker = 0xD0;  // the RSTn expected next
    std::int32_t McusSinceRestart = 0;      // MCUs decoded since the last restart
    std::int64_t McuCounter = 0;            // MCUs of the scan passed, decoded or skipped
    // Per frame component, progressive frames only (KeepCoefficients).
    std::array<std::unique_ptr<TkestMCUs>, 4> CoefficientMaps;

    // --- Facts from APP segments ---
    bool HasJfif = false;
    bool HasExif = false;
    bool HasAdobe = false;
    bool HasG3Fax = false;
    bool HasIccProfile = false;
    std::uint8_t AdobeTransform = 0;
    std::string ExifFileName;
    std::uint8_t ColorModel = 0;

    // --- Quality ---
    std::vector<std::uint8_t> QuantTableData;  // DQT payloads in stream order
    std::int32_t Quality = 0;
    bool QualityDone = false;

protected:
    // Every segment that is not APPn/COM, before it is interpreted, and every RSTn and EOI
    // (ALength 0, AData empty). AData holds the payload bytes actually read.
    virtual void DoSegment(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData);
    // Every APPn (0xE0-0xEF) and COM (0xFE) segment, complete or cut short.
    virtual void DoAppSegment(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData);
    // A run of consecutive APPn/COM segments as they stood in the stream (0xFF, marker,
    // length field, the payload bytes present), AOffset being its first marker byte.
    // Called only when the parser was made with AHasGroupHandler.
    virtual void DoAppGroup(std::uint64_t AOffset, std::span<const std::uint8_t> AData);
    // Asked once at the end of a successful frame header: keep coefficients for this frame.
    virtual bool WantsCoefficients();

    // Segment interpretations over SegmentData, each returning prOk or prCorrupt.
    int ParseFrameHeader(std::uint8_t AMarker);
    int ParseHuffmanTables();
    int ParseQuantTables();
    int ParseRestartInterval();
    void ParseConditioning();
    // T.81 G.1.1.1.1: Ss, Se, Ah, Al and the component count of the last scan header are
    // those a progressive scan may have.
    bool ProgressiveLimitsHold() const;
    int ParseScanHeader();
    void IdentifyAppSegment(std::uint8_t AMarker, std::uint16_t ALength);
    void AppendQuantTableData();
    void EstimateQuality();

    // Decodes the entropy-coded data of the current scan; a pr* code (decoder.cpp).
    int ReadScanData();
    // Restarts the decoder state at a restart boundary (T.81 F.2.1.3.1, E.2.4): the DC
    // predictors and the MCUs counted since the last restart. The bit window is the scan
    // decoder's and is emptied by it.
    void ClearRestartState();
    // The bytes the coefficient maps may still take beside `AExcept`'s own.
    std::uint64_t MapBudget(const TkestMCUs* AExcept) const;

    // Reading through the read-ahead buffer. Position grows by the bytes handed out.
    bool ReadByte(std::uint8_t& AByte);
    std::size_t ReadBytes(std::span<std::uint8_t> ABytes);
    // The next buffered byte without consuming it; false when the buffer is empty.
    bool PeekBufferedByte(std::uint8_t& AByte) const;
    // Forgets the buffered bytes.
    void DiscardBuffer();

private:
    std::span<const std::uint8_t> Payload() const;
    std::size_t StreamRead(std::span<std::uint8_t> ABytes);
    int ReadMarker(std::uint8_t& AMarker);
    void AddToAppRun(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData,
                     std::uint64_t AOffset);
    void EndAppRun();
    void TakeExifFileName(std::span<const std::uint8_t> APayload);

    std::vector<std::uint8_t> ReadBuffer;  // ReadBufferSize bytes, or none
    std::size_t ReadCursor = 0;            // next unconsumed byte of ReadBuffer
    std::size_t ReadLeft = 0;              // unconsumed bytes from ReadCursor on
};
