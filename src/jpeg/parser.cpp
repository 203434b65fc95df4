#include "jpeg/parser.h"

#include "jpeg/annex_k.h"
#include "jpeg/bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kSos = 0xDA;
constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kCom = 0xFE;

constexpr std::size_t kSegmentCapacity = 65535;     // the largest payload a length field allows
constexpr std::size_t kGroupFirstCapacity = 655370;
constexpr std::size_t kQuantFirstCapacity = 512;

constexpr bool IsApp(std::uint8_t m) { return (m >= 0xE0 && m <= 0xEF) || m == kCom; }
constexpr bool IsRestart(std::uint8_t m) { return m >= 0xD0 && m <= 0xD7; }
// SOF0-SOF15 without DHT (0xC4), JPG (0xC8) and DAC (0xCC).
constexpr bool IsFrameMarker(std::uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != kDht && m != 0xC8 && m != 0xCC;
}
// Huffman-coded DCT processes, whose scans the decoder reads.
constexpr bool IsHuffmanDct(std::int32_t m) { return m == 0xC0 || m == 0xC1 || m == 0xC2; }
// The DCT processes whose scans are decoded: Huffman (SOF0-SOF2) and arithmetic (SOF9, SOF10).
constexpr bool IsDecodedDct(std::int32_t m) { return (m >= 0xC0 && m <= 0xC2) || m == 0xC9 || m == 0xCA; }
// Arithmetic-coded processes (SOF9-SOF11, SOF13-SOF15), whose conditioning tables DAC gives.
constexpr bool IsArithmetic(std::int32_t m) { return m >= 0xC9 && m <= 0xCF && m != 0xCC; }
constexpr std::uint8_t kDac = 0xCC;

std::bitset<256> StartSet() {
    std::bitset<256> set;
    for (int m = 0xC0; m <= 0xC7; ++m) set.set(static_cast<std::size_t>(m));
    for (int m : {0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF, 0xDA, 0xDB, 0xDD, 0xFE}) set.set(static_cast<std::size_t>(m));
    for (int m = 0xE0; m <= 0xEF; ++m) set.set(static_cast<std::size_t>(m));
    return set;
}

std::bitset<256> BetweenScansSet() {
    std::bitset<256> set;
    for (int m : {0xC4, 0xDB, 0xDD, 0xFE}) set.set(static_cast<std::size_t>(m));
    for (int m = 0xE0; m <= 0xEF; ++m) set.set(static_cast<std::size_t>(m));
    return set;
}

constexpr bool IsSamplingFactor(std::int32_t f) { return f == 1 || f == 2 || f == 4 || f == 8; }

constexpr std::int32_t CeilDiv(std::int32_t a, std::int32_t b) { return (a + b - 1) / b; }

bool IsFileNameChar(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// The estimate of one table (identifier 0: luminance, else chrominance reference) by
// inverting the usual scaling of T.81 Tables K.1/K.2 by a quality Q:
// S = 5000/Q below 50, 200 - 2Q otherwise; entry = reference * S / 100.
double EstimateTable(const TkestQuantTable& table, std::uint8_t id) {
    const auto& reference = id == 0 ? annex_k::kLuminanceQuant : annex_k::kChrominanceQuant;
    double sum = 0;
    bool allOnes = true;
    for (std::size_t j = 0; j < 64; ++j) {
        const std::uint16_t v = table.Values[annex_k::kZigzagOrder[j]];
        if (v != 1) allOnes = false;
        sum += v == 0 ? 999.0 : static_cast<double>(v) / reference[j] * 100.0;
    }
    if (allOnes) return 100;
    const double average = sum / 64;
    return average <= 100 ? (200 - average) / 2 : 5000 / average;
}

}  // namespace

const char* ColorModelName(std::uint8_t AColorModel) {
    static constexpr const char* kNames[14] = {"",      "Gray",   "GrayA", "RGB",  "RGBA",     "YCbCr",     "",
                                               "YCbCrA", "CMYK", "YCbCrK", "YCCK", "PhotoYCC", "PhotoYCCA", "ITUCieLAB"};
    return AColorModel < 14 ? kNames[AColorModel] : "";
}

double RoundHalfEven(double value) {
    const double low = std::floor(value);
    const double fraction = value - low;
    if (fraction > 0.5) return low + 1;
    if (fraction < 0.5) return low;
    return std::fmod(low, 2.0) == 0 ? low : low + 1;
}

TkestBaseJpegParser::TkestBaseJpegParser(std::uint32_t ABufferSize, bool AHasGroupHandler)
    : ReadBufferSize(ABufferSize), HasGroupHandler(AHasGroupHandler) {
    if (ABufferSize > 0) ReadBuffer.resize(ABufferSize);
}

int TkestBaseJpegParser::Parse(TStream& AStream, std::uint16_t AOptions, std::uint8_t AColorModel) {
    Stream = &AStream;
    Position = 0;
    DiscardBuffer();
    return ParseMarkers(AOptions, AColorModel);
}

void TkestBaseJpegParser::Reset() {
    Position = 0;
    DiscardBuffer();
    SegmentIsApp = false;
    ColorModel = 0;
    // Table contents stay; a table is usable again only once a segment defines it.
    for (auto& t : QuantTables) {
        t.Defined = false;
        t.Estimated = false;
        t.Estimate = 0;
    }
    for (auto& t : DcTables) t.Defined = false;
    for (auto& t : AcTables) t.Defined = false;
    FrameSeen = false;
    FrameMarker = 0;
    Precision = 0;
    Width = 0;
    Height = 0;
    HeightPending = false;
    ComponentCount = 0;
    FrameComponents = {};
    MaxHSampling = 0;
    MaxVSampling = 0;
    KeepCoefficients = false;
    ScanCount = 0;
    Work = 0;
    ComponentIds.clear();
    ScanComponentCount = 0;
    ScanComponents = {};
    SpectralStart = SpectralEnd = ApproxHigh = ApproxLow = 0;
    McuWidth = McuHeight = McusPerRow = McuRows = 0;
    RestartInterval = 0;
    DcConditioning = {};
    AcConditioning = {};
    ConditioningInvalid = false;
    GroupBuffer.clear();
    QuantTableData.clear();
    Quality = 0;
    QualityDone = false;
    HasJfif = HasExif = HasAdobe = HasG3Fax = HasIccProfile = false;
    AdobeTransform = 0;
    ExifFileName.clear();
    RestartDamage = false;
    NextRestartMarker = 0xD0;
    McusSinceRestart = 0;
    McuCounter = 0;
    for (auto& map : CoefficientMaps) map.reset();
}

void TkestBaseJpegParser::DoSegment(std::uint8_t, std::uint16_t, std::span<const std::uint8_t>) {}
void TkestBaseJpegParser::DoAppSegment(std::uint8_t, std::uint16_t, std::span<const std::uint8_t>) {}
void TkestBaseJpegParser::DoAppGroup(std::uint64_t, std::span<const std::uint8_t>) {}
bool TkestBaseJpegParser::WantsCoefficients() { return FrameMarker == 0xC2 || FrameMarker == 0xCA; }

// ---------------------------------------------------------------------------------------
// Reading bytes

std::size_t TkestBaseJpegParser::StreamRead(std::span<std::uint8_t> ABytes) {
    if ((Options & poReadLimit) && Position > kReadLimitBytes) return 0;
    return Stream->Read(ABytes);
}

void TkestBaseJpegParser::DiscardBuffer() {
    ReadCursor = 0;
    ReadLeft = 0;
    PendingMarker = 0;
}

bool TkestBaseJpegParser::PeekBufferedByte(std::uint8_t& AByte) const {
    if (ReadLeft == 0) return false;
    AByte = ReadBuffer[ReadCursor];
    return true;
}

bool TkestBaseJpegParser::ReadByte(std::uint8_t& AByte) {
    if (ReadLeft == 0) {
        if (ReadBuffer.empty()) {
            const std::size_t n = StreamRead(std::span<std::uint8_t>(&AByte, 1));
            Position += n;
            return n == 1;
        }
        ReadCursor = 0;
        ReadLeft = StreamRead(ReadBuffer);
        if (ReadLeft == 0) return false;
    }
    AByte = ReadBuffer[ReadCursor++];
    --ReadLeft;
    ++Position;
    return true;
}

std::size_t TkestBaseJpegParser::ReadBytes(std::span<std::uint8_t> ABytes) {
    if (ReadBuffer.empty()) {
        const std::size_t n = StreamRead(ABytes);
        Position += n;
        return n;
    }
    std::size_t done = 0;
    while (done < ABytes.size()) {
        if (ReadLeft == 0) {
            ReadCursor = 0;
            ReadLeft = StreamRead(ReadBuffer);
            if (ReadLeft == 0) break;
        }
        const std::size_t take = std::min(ReadLeft, ABytes.size() - done);
        std::memcpy(ABytes.data() + done, ReadBuffer.data() + ReadCursor, take);
        ReadCursor += take;
        ReadLeft -= take;
        done += take;
        Position += take;
    }
    return done;
}

// T.81 B.1.1.2: a marker is 0xFF and a code; any number of 0xFF fill bytes may precede the
// code. Up to two stray bytes before the 0xFF are tolerated; no longer search is made.
int TkestBaseJpegParser::ReadMarker(std::uint8_t& AMarker) {
    if (PendingMarker != 0) {
        AMarker = PendingMarker;
        PendingMarker = 0;
        return prOk;
    }
    const std::uint64_t start = Position;
    std::uint8_t b = 0;
    if (!ReadByte(b)) return prEndOfData;
    if (b != 0xFF) {
        EndAppRun();
        ReadByte(b);  // the second stray byte goes unseen
        if (!ReadByte(b)) {
            Position = start;
            return prEndOfData;
        }
        if (b != 0xFF) {
            Position = start;
            return prCorrupt;
        }
    }
    for (;;) {
        if (!ReadByte(b)) {
            EndAppRun();
            return prEndOfData;
        }
        if (b != 0x00 && b != 0xFF) break;
        EndAppRun();
    }
    AMarker = b;
    return prOk;
}

std::span<const std::uint8_t> TkestBaseJpegParser::Payload() const {
    return std::span<const std::uint8_t>(SegmentData).first(std::min<std::size_t>(SegmentLength, SegmentData.size()));
}

// ---------------------------------------------------------------------------------------
// The APP run

void TkestBaseJpegParser::AddToAppRun(std::uint8_t AMarker, std::uint16_t ALength, std::span<const std::uint8_t> AData,
                                      std::uint64_t AOffset) {
    if (!HasGroupHandler) return;
    if (GroupBuffer.empty()) {
        GroupPosition = AOffset;
        if (GroupBuffer.capacity() < kGroupFirstCapacity) GroupBuffer.reserve(kGroupFirstCapacity);
    }
    const std::uint32_t field = std::uint32_t{ALength} + 2;  // at most 65,535: the length field read
    const std::uint8_t head[4] = {0xFF, AMarker, static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field)};
    GroupBuffer.insert(GroupBuffer.end(), std::begin(head), std::end(head));
    GroupBuffer.insert(GroupBuffer.end(), AData.begin(), AData.end());
}

void TkestBaseJpegParser::EndAppRun() {
    if (GroupBuffer.empty()) return;
    DoAppGroup(GroupPosition, GroupBuffer);
    GroupBuffer.clear();
}

// ---------------------------------------------------------------------------------------
// The walk

int TkestBaseJpegParser::ParseMarkers(std::uint16_t AOptions, std::uint8_t AColorModel) {
    Options = AOptions;
    if (Options & poResumeScan) {
        DiscardBuffer();
    } else {
        Reset();
        ColorModel = AColorModel;
    }
    if (!(Options & (poNoSoi | poResumeScan))) {
        std::uint8_t marker = 0;
        if (const int r = ReadMarker(marker); r != prOk) return r;
        if (marker != kSoi) return prUnexpected;
    }
    AllowedMarkers = StartSet();

    for (;;) {
        std::uint8_t marker = kSos;
        if (!(Options & poResumeScan)) {
            if (const int r = ReadMarker(marker); r != prOk) {
                EndAppRun();
                return r;
            }
            const std::uint64_t markerOffset = Position - 2;
            SegmentIsApp = IsApp(marker);
            if (!SegmentIsApp) EndAppRun();
            SegmentLength = 0;

            if (!AllowedMarkers[marker]) {
                EndAppRun();
                return prUnexpected;
            }
            if (IsRestart(marker)) {
                DoSegment(marker, 0, {});
                continue;
            }
            if (marker == kEoi) {
                DoSegment(marker, 0, {});
                return RestartDamage ? prCorrupt : prOk;
            }
            for (std::size_t m = 0xD0; m <= 0xD7; ++m) AllowedMarkers.reset(m);

            // T.81 B.1.1.4: a two-byte length that counts itself, then the payload.
            std::uint8_t lengthField[2] = {0, 0};
            if (ReadBytes(lengthField) < 2 || ((lengthField[0] << 8) | lengthField[1]) < 2) {
                EndAppRun();
                return prEndOfData;
            }
            SegmentLength = static_cast<std::uint16_t>(((lengthField[0] << 8) | lengthField[1]) - 2);
            if (SegmentData.empty()) SegmentData.resize(kSegmentCapacity);
            const std::size_t got = ReadBytes(std::span<std::uint8_t>(SegmentData).first(SegmentLength));
            const auto data = std::span<const std::uint8_t>(SegmentData).first(got);

            if (got < SegmentLength) {
                if (SegmentIsApp) {
                    DoAppSegment(marker, SegmentLength, data);
                    AddToAppRun(marker, SegmentLength, data, markerOffset);
                    EndAppRun();
                } else {
                    DoSegment(marker, SegmentLength, data);
                }
                return prEndOfData;
            }

            if (SegmentIsApp) {
                DoAppSegment(marker, SegmentLength, data);
                AddToAppRun(marker, SegmentLength, data, markerOffset);
                if (marker != kCom) IdentifyAppSegment(marker, SegmentLength);
                continue;
            }

            DoSegment(marker, SegmentLength, data);
            int r = prOk;
            if (IsFrameMarker(marker)) {
                r = ParseFrameHeader(marker);
            } else if (marker == kDht) {
                r = ParseHuffmanTables();
            } else if (marker == kSos) {
                r = ParseScanHeader();
            } else if (marker == kDqt) {
                AppendQuantTableData();
                r = ParseQuantTables();
            } else if (marker == kDri) {
                r = ParseRestartInterval();
            } else if (marker == kDac) {
                ParseConditioning();
            } else {
                return prUnexpected;
            }
            if (r != prOk) return r;

            if (IsFrameMarker(marker)) {
                // One frame per stream: a second frame header is refused.
                for (std::size_t m = 0xC0; m <= 0xCF; ++m)
                    if (IsFrameMarker(static_cast<std::uint8_t>(m))) AllowedMarkers.reset(m);
                // Encoders write DAC after an arithmetic frame header (libjpeg between SOF9
                // and SOS); anywhere else it stays refused.
                if (IsArithmetic(FrameMarker)) AllowedMarkers.set(kDac);
                continue;
            }
            if (marker != kSos) continue;
        }

        // A scan header was parsed (or is resumed).
        if (!FrameSeen) return prUnexpected;
        EstimateQuality();
        if (Options & poHeadersOnly) return prOk;
        if (!IsDecodedDct(FrameMarker)) return prUnsupported;
        if (ColorModel == 0) ColorModel = ChooseColorModel();
        Options = static_cast<std::uint16_t>(Options & ~poResumeScan);
        AllowedMarkers = BetweenScansSet();
        // DAC may change the conditioning before any scan of an arithmetic frame.
        if (IsArithmetic(FrameMarker)) AllowedMarkers.set(kDac);
        ++ScanCount;
        if (const int r = ReadScanData(); r != prOk) return r;
        if ((Options & poStopWhenComplete) && FrameMarker != 0xC2 && FrameMarker != 0xCA) {
            bool complete = true;
            for (std::int32_t i = 0; i < ComponentCount; ++i)
                if (!FrameComponents[static_cast<std::size_t>(i)].Scanned) complete = false;
            if (complete) return prOk;
        }
        AllowedMarkers.set(kEoi);
        AllowedMarkers.set(kSos);
    }
}

// ---------------------------------------------------------------------------------------
// Segment interpretations (T.81 B.2). Every 16-bit field is most significant byte first.

// T.81 B.2.2: P, Y, X, Nf, then Nf times Ci, Hi|Vi, Tqi.
int TkestBaseJpegParser::ParseFrameHeader(std::uint8_t AMarker) {
    const ByteView p(Payload());
    FrameMarker = AMarker;
    if (p.Size() < 6) return prCorrupt;
    Precision = p.U8(0);
    Height = p.U16BE(1);
    if (Height == 0) HeightPending = true;
    Width = p.U16BE(3);
    if (Width == 0) return prCorrupt;
    const std::int32_t count = p.U8(5);
    if (count < 1 || count > 4) return prCorrupt;
    ComponentCount = count;
    MaxHSampling = 0;
    MaxVSampling = 0;
    std::size_t at = 6;
    for (auto& c : std::span(FrameComponents).first(static_cast<std::size_t>(count))) {
        if (!p.HasBytes(at, 3)) return prCorrupt;
        c.Id = p.U8(at);
        ComponentIds.push_back(static_cast<char>(c.Id));
        c.VSampling = p.U8(at + 1) & 0x0F;
        c.HSampling = p.U8(at + 1) >> 4;
        if (!IsSamplingFactor(c.VSampling) || !IsSamplingFactor(c.HSampling)) return prCorrupt;
        MaxHSampling = std::max(MaxHSampling, c.HSampling);
        MaxVSampling = std::max(MaxVSampling, c.VSampling);
        c.QuantTable = p.U8(at + 2);
        at += 3;
    }
    if (at != p.Size()) return prCorrupt;
    FrameSeen = true;
    KeepCoefficients = WantsCoefficients();
    return prOk;
}

// T.81 B.2.4.2: repeated Tc|Th, L1..L16, then the symbols.
int TkestBaseJpegParser::ParseHuffmanTables() {
    const ByteView p(Payload());
    std::size_t at = 0;
    while (at < p.Size()) {
        const std::uint8_t classAndId = p.U8(at++);
        const std::uint8_t id = classAndId & 0x0F;
        const std::uint8_t tableClass = classAndId >> 4;
        if (id > 3 || tableClass > 1) return prCorrupt;
        TkestHuffmanTable& table = (tableClass == 0 ? DcTables : AcTables)[id];
        table = TkestHuffmanTable{};
        if (!p.HasBytes(at, 16)) return prCorrupt;
        table.MinLength = 17;
        for (std::size_t l = 0; l < 16; ++l) {
            table.Counts[l] = p.U8(at + l);
            if (table.Counts[l] > 0 && table.MinLength == 17) table.MinLength = static_cast<std::int32_t>(l + 1);
        }
        at += 16;
        std::size_t symbols = 0;
        for (std::size_t l = 0; l < 16; ++l) {
            const auto n = static_cast<std::size_t>(table.Counts[l]);
            if (!p.HasBytes(at, n) || symbols + n > 256) return prCorrupt;
            for (std::size_t k = 0; k < n; ++k) table.Symbols[symbols + k] = p.U8(at + k);
            symbols += n;
            at += n;
        }
        table.Defined = true;
        table.LookupBuilt = false;
    }
    return prOk;
}

// T.81 B.2.4.1: repeated Pq|Tq, then 64 entries of 8 (Pq 0) or 16 bits (Pq 1).
int TkestBaseJpegParser::ParseQuantTables() {
    const ByteView p(Payload());
    std::size_t at = 0;
    while (at < p.Size()) {
        const std::uint8_t precisionAndId = p.U8(at++);
        const std::uint8_t id = precisionAndId & 0x0F;
        const std::uint8_t precision = precisionAndId >> 4;
        if (id > 3 || precision > 1) return prCorrupt;
        const std::size_t entrySize = precision == 0 ? 1 : 2;
        if (!p.HasBytes(at, 64 * entrySize)) return prCorrupt;
        TkestQuantTable& table = QuantTables[id];
        for (std::size_t k = 0; k < 64; ++k)
            table.Values[k] = entrySize == 1 ? p.U8(at + k) : p.U16BE(at + 2 * k);
        table.Defined = true;
        at += 64 * entrySize;
    }
    return prOk;
}

// T.81 B.2.4.4: Ri, MCUs per restart interval.
int TkestBaseJpegParser::ParseRestartInterval() {
    const ByteView p(Payload());
    if (p.Size() != 2) return prCorrupt;
    RestartInterval = p.U16BE(0);
    ClearRestartState();
    return prOk;
}

// T.81 B.2.4.3: repeated Tc|Tb, Cs; for DC tables Cs is U|L with L <= U, for AC tables Kx
// 1-63. The walk goes on past any entry; one outside these ranges (or a table selector
// above 3, which no scan can name) makes the arithmetic scans undecodable.
void TkestBaseJpegParser::ParseConditioning() {
    const ByteView p(Payload());
    if (p.Size() % 2 != 0) ConditioningInvalid = true;
    for (std::size_t at = 0; p.HasBytes(at, 2); at += 2) {
        const std::uint8_t classAndId = p.U8(at), value = p.U8(at + 1);
        const std::uint8_t id = classAndId & 0x0F, tableClass = classAndId >> 4;
        if (id > 3 || tableClass > 1) {
            ConditioningInvalid = true;
        } else if (tableClass == 0) {
            const auto lower = static_cast<std::uint8_t>(value & 0x0F), upper = static_cast<std::uint8_t>(value >> 4);
            if (lower > upper) ConditioningInvalid = true;
            DcConditioning[id].Lower = lower;
            DcConditioning[id].Upper = upper;
        } else {
            if (value < 1 || value > 63) ConditioningInvalid = true;
            AcConditioning[id].Kx = value;
        }
    }
}

// T.81 B.2.3: Ns, then Ns times Cs, Td|Ta, then Ss, Se, Ah|Al.
int TkestBaseJpegParser::ParseScanHeader() {
    const ByteView p(Payload());
    if (p.Empty()) return prCorrupt;
    const std::int32_t count = p.U8(0);
    if (count < 1 || count > 4) return prCorrupt;
    ScanComponentCount = count;
    const auto n = static_cast<std::size_t>(count);
    if (!p.HasBytes(0, 1 + 2 * n)) return prCorrupt;
    for (std::size_t i = 0; i < n; ++i) {
        TkestScanComponent& sc = ScanComponents[i];
        sc.DcPredictor = 0;
        sc.Selector = p.U8(1 + 2 * i);
        std::int32_t found = -1;
        for (std::int32_t f = 0; f < ComponentCount; ++f)
            if (FrameComponents[static_cast<std::size_t>(f)].Id == sc.Selector) {
                found = f;
                break;
            }
        if (found < 0) return prCorrupt;
        TkestFrameComponent& fc = FrameComponents[static_cast<std::size_t>(found)];
        sc.FrameIndex = found;
        sc.HSampling = fc.HSampling;
        sc.VSampling = fc.VSampling;
        sc.QuantTable = fc.QuantTable;
        fc.Scanned = true;
        const std::uint8_t tables = p.U8(2 + 2 * i);
        sc.DcTable = tables >> 4;
        sc.AcTable = tables & 0x0F;
        if (sc.DcTable > 3 || sc.AcTable > 3) return prCorrupt;
        if ((FrameMarker == 0xC0 || FrameMarker == 0xC1) &&
            (!DcTables[static_cast<std::size_t>(sc.DcTable)].Defined ||
             !AcTables[static_cast<std::size_t>(sc.AcTable)].Defined))
            return prCorrupt;
    }
    const std::size_t at = 1 + 2 * n;
    if (p.Size() - at != 3) return prCorrupt;
    SpectralStart = p.U8(at);
    SpectralEnd = p.U8(at + 1);
    ApproxHigh = p.U8(at + 2) >> 4;
    ApproxLow = p.U8(at + 2) & 0x0F;

    const auto scan = std::span(ScanComponents).first(n);
    for (auto& sc : scan) {
        sc.BlockWidth = (MaxHSampling / sc.HSampling) * 8;
        sc.BlockHeight = (MaxVSampling / sc.VSampling) * 8;
    }

    // T.81 G.1.1.1.1: the limits of progressive scans.
    if (FrameMarker == 0xC2 && !ProgressiveLimitsHold()) return prCorrupt;

    // T.81 A.2: one component is coded block by block; several are interleaved in MCUs
    // sized by the frame's largest sampling factors.
    if (count == 1) {
        McuWidth = scan[0].BlockWidth;
        McuHeight = scan[0].BlockHeight;
        scan[0].BlocksAcross = 1;
        scan[0].BlocksDown = 1;
    } else {
        McuWidth = MaxHSampling * 8;
        McuHeight = MaxVSampling * 8;
        for (auto& sc : scan) {
            sc.BlocksAcross = McuWidth / sc.BlockWidth;
            sc.BlocksDown = McuHeight / sc.BlockHeight;
        }
    }
    McusPerRow = CeilDiv(Width, McuWidth);
    McuRows = CeilDiv(Height, McuHeight);
    return prOk;
}

bool TkestBaseJpegParser::ProgressiveLimitsHold() const {
    const std::int32_t ss = SpectralStart, se = SpectralEnd, ah = ApproxHigh, al = ApproxLow;
    return !((ss == 0 && se != 0) || (se == 0 && ss != 0) || se < ss || (ss > 0 && ScanComponentCount > 1) ||
             se > 63 || ah > 13 || al > 13 || (ah > 0 && ah - al != 1));
}

// Facts from a complete APPn segment; the first matching rule applies.
void TkestBaseJpegParser::IdentifyAppSegment(std::uint8_t AMarker, std::uint16_t ALength) {
    const ByteView p(Payload().first(std::min<std::size_t>(ALength, Payload().size())));
    const std::size_t n = p.Size();
    if (AMarker == 0xE0 && n >= 14 && p.Matches(0, "JFIF\0")) {
        HasJfif = true;
    } else if (AMarker == 0xE1 && n >= 14 && p.Matches(0, "Exif\0")) {
        TakeExifFileName(p.Span());
        HasExif = true;
    } else if (AMarker == 0xEE && n == 12 && p.Matches(0, "Adobe\0")) {
        HasAdobe = true;
        AdobeTransform = p.U8(11);
    } else if (AMarker == 0xE1 && n > 5 && p.Matches(0, "G3FAX")) {
        HasG3Fax = true;
    } else if (AMarker == 0xE2 && n > 11 && p.Matches(0, "ICC_PROFILE")) {
        HasIccProfile = true;
    }
}

// The camera's file name: the letters, digits and underscores right before the first
// ".JPG" anywhere in the Exif payload.
void TkestBaseJpegParser::TakeExifFileName(std::span<const std::uint8_t> APayload) {
    const std::string_view text(reinterpret_cast<const char*>(APayload.data()), APayload.size());
    const std::size_t dot = text.find(".JPG");
    if (dot == std::string_view::npos) return;
    std::size_t begin = dot;
    while (begin > 0 && IsFileNameChar(static_cast<std::uint8_t>(text[begin - 1]))) --begin;
    if (begin == dot) return;
    ExifFileName.assign(text.substr(begin, dot - begin + 4));
}

void TkestBaseJpegParser::AppendQuantTableData() {
    if (QuantTableData.capacity() < kQuantFirstCapacity) QuantTableData.reserve(kQuantFirstCapacity);
    const auto p = Payload();
    QuantTableData.insert(QuantTableData.end(), p.begin(), p.end());
}

// Runs once per parse, at the first scan header: the estimate from the tables of that
// scan's components, each component counted once.
void TkestBaseJpegParser::EstimateQuality() {
    if (QualityDone) return;
    QualityDone = true;
    Quality = 0;
    if (!IsHuffmanDct(FrameMarker)) return;
    const auto scan = std::span(ScanComponents).first(static_cast<std::size_t>(ScanComponentCount));
    for (const auto& sc : scan)
        if (sc.QuantTable > 3 || !QuantTables[sc.QuantTable].Defined) return;
    double sum = 0;
    for (const auto& sc : scan) {
        TkestQuantTable& table = QuantTables[sc.QuantTable];
        if (!table.Estimated) {
            table.Estimated = true;
            table.Estimate = EstimateTable(table, sc.QuantTable);
        }
        sum += table.Estimate;
    }
    if (scan.empty()) return;
    Quality = static_cast<std::int32_t>(RoundHalfEven(sum / static_cast<double>(scan.size())));
}

// ---------------------------------------------------------------------------------------
// Colour model

std::uint8_t TkestBaseJpegParser::ChooseColorModel() const {
    if (!FrameSeen) return 0;
    if (ColorModel != 0) return ColorModel;
    static constexpr std::uint8_t kDefault[5] = {0, cmGray, cmGrayA, cmYCbCr, cmYCCK};
    const std::uint8_t byCount = ComponentCount >= 1 && ComponentCount <= 4 ? kDefault[ComponentCount] : 0;
    // JFIF (JFIF 1.02) is grey or YCbCr.
    if (HasJfif && (ComponentCount == 1 || ComponentCount == 3)) return byCount;
    // Adobe's APP14 transform flag, read as libjpeg reads it: it tells apart the models of
    // the frame's own component count. One component is grey whatever it says; three are
    // RGB (0) or YCbCr (1, 2, or any other value), four CMYK (0) or YCCK (1, 2, any other).
    // Other counts have no model it could name.
    if (HasAdobe && (ComponentCount == 1 || ComponentCount == 3 || ComponentCount == 4)) {
        if (ComponentCount == 1 || AdobeTransform != 0) return byCount;
        return ComponentCount == 3 ? cmRGB : cmCMYK;
    }
    if (HasG3Fax) return cmITUCieLAB;
    std::uint8_t candidate = byCount;
    if (MaxHSampling == 1 && MaxVSampling == 1) {
        if (ComponentCount == 3) candidate = cmRGB;
        if (ComponentCount == 4) candidate = cmCMYK;
    }
    const std::string_view ids = ComponentIds;
    using namespace std::string_view_literals;
    if (ComponentCount == 3) {
        if (ids == "\x00\x01\x02"sv || ids == "\x01\x02\x03"sv) return cmYCbCr;
        if (ids == "RGB"sv) return cmRGB;
        if (ids == "YCc"sv) return cmPhotoYCC;
        return candidate;
    }
    if (ComponentCount == 4) {
        if (ids == "\x01\x02\x03\x04"sv) return HasIccProfile ? cmYCbCrK : cmYCbCrA;
        if (ids == "RGBA"sv) return cmRGBA;
        if (ids == "YCcA"sv) return cmPhotoYCCA;
        return candidate;
    }
    return candidate;
}
