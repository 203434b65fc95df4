// The collection: dispatch of the segments of an APP run to the handler classes, the
// bytes a multi-segment handler collects, the records and their file ranges, and the
// check of the previews that segments point to elsewhere in the file.
#include "thumbs/registry.h"
#include "thumbs/thumbs.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr std::size_t kPostThumbRead = 65536;  // bytes read from the file at a time
constexpr std::uint32_t kPostThumbParserBuffer = 65536;
constexpr std::uint64_t kCheckFrameBlocks = std::uint64_t{1} << 26;  // a 65,535 x 65,535 grey frame

// A range of a file read as a stream of its own: each read takes at most kPostThumbRead
// bytes from the file at the range's offset plus the position, and none past the range.
class FileRangeStream final : public TStream {
public:
    FileRangeStream(TStream& AFile, std::uint64_t AOffset, std::uint64_t ASize)
        : file_(AFile), offset_(AOffset), size_(ASize) {}

    std::size_t Read(std::span<std::uint8_t> buffer) override {
        if (position_ >= size_) return 0;
        const std::uint64_t count = std::min<std::uint64_t>({buffer.size(), size_ - position_, kPostThumbRead});
        file_.Seek(offset_ + position_);
        const std::size_t got = file_.Read(buffer.first(static_cast<std::size_t>(count)));
        position_ += got;
        return got;
    }
    void Seek(std::uint64_t position) override { position_ = position; }
    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return size_; }

private:
    TStream& file_;
    const std::uint64_t offset_;
    const std::uint64_t size_;
    std::uint64_t position_ = 0;
};

}  // namespace

TkestJpegThumbs::TkestJpegThumbs() : TkestJpegThumbs(ThumbHandlers()) {}
TkestJpegThumbs::TkestJpegThumbs(std::span<const TkestJpegThumbHandlerClass> AHandlers) : Handlers(AHandlers) {}
TkestJpegThumbs::~TkestJpegThumbs() = default;

TkestBaseJpegParser& TkestJpegThumbs::SharedParser() {
    if (!Parser) Parser = std::make_unique<TkestBaseJpegParser>(0);
    return *Parser;
}

TTempMemoryStream& TkestJpegThumbs::SharedStream() {
    if (!Stream) Stream = std::make_unique<TTempMemoryStream>();
    return *Stream;
}

// Each segment of the run: 0xFF, the marker code, a length field L (most significant byte
// first, counting itself, T.81 B.1.1.4), then up to L - 2 payload bytes.
void TkestJpegThumbs::ProcessSegments(std::uint64_t AOffset, std::span<const std::uint8_t> AData) {
    const ByteView run(AData);
    CheckedBytes += AData.size();
    try {
        std::uint64_t off = AOffset;
        std::uint64_t at = 0;
        while (run.HasBytes(at, 4)) {
            const std::uint8_t marker = run.U8(at + 1);
            const std::uint32_t field = run.U16BE(at + 2);
            if (field < 2) break;  // not a segment the parser collects
            const std::uint32_t length = field - 2;
            const std::uint64_t remaining = run.Size() - (at + 4);
            const ByteView payload = run.Sub(at + 4, length);  // at most `remaining` bytes
            SegmentOffset = off + 4;
            SegmentAvailable = payload.Size();

            if (length == 0) {
                EndRun();
            } else {
                NoteXmp(marker, payload);
                bool taken = false;
                if (Handler && HandlerClass) {
                    if (HandlerClass->IsMultiSegment && Handler->CanContinue(marker, payload, length)) {
                        Handler->ProcessSegment(off, marker, payload, length);
                        taken = true;
                    } else {
                        EndRun();
                    }
                }
                for (std::size_t i = Handlers.size(); !taken && i-- > 0;) {
                    const TkestJpegThumbHandlerClass& cls = Handlers[i];
                    if (!cls.CanHandle(marker, payload, length)) continue;
                    if (&cls != HandlerClass) EndRun();
                    HandlerClass = &cls;
                    if (!Handler) Handler = cls.Create(*this);
                    Handler->ProcessSegment(off, marker, payload, length);
                    if (!cls.IsMultiSegment) EndRun();
                    taken = true;
                }
            }
            if (length > remaining) break;  // the run's last segment, cut short
            off += std::uint64_t{length} + 4;
            at += std::uint64_t{length} + 4;
        }
        EndRun();
    } catch (...) {
        // The active handler is freed without Finish: what it collected is not looked at.
        Handler.reset();
        HandlerClass = nullptr;
        Data.clear();
        Blocks.clear();
        throw;
    }
}

void TkestJpegThumbs::EndRun() {
    if (Handler) {
        Handler->Finish();
        Handler.reset();
    }
    HandlerClass = nullptr;
    Data.clear();  // keeps its allocation for the next run
    Blocks.clear();
}

bool TkestJpegThumbs::IsSignedSegment(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength) const {
    return std::any_of(Handlers.begin(), Handlers.end(), [&](const TkestJpegThumbHandlerClass& cls) {
        return cls.IsSigned && cls.CanHandle(AMarker, AData, ALength);
    });
}

void TkestJpegThumbs::AppendSegmentData(std::uint64_t AOffsetInSegment, ByteView AData) {
    Data.insert(Data.end(), AData.Span().begin(), AData.Span().end());
    Blocks.push_back({static_cast<std::int64_t>(SegmentOffset + AOffsetInSegment),
                      static_cast<std::int64_t>(AData.Size())});
}

TkestJpegThumb& TkestJpegThumbs::AddThumb(std::uint8_t AKind, std::int64_t AOffset, std::int64_t ASize,
                                          std::int32_t AWidth, std::int32_t AHeight, std::int32_t APercent,
                                          bool ACorrupted, std::string AName) {
    TkestJpegThumb& thumb = Thumbs.emplace_back();
    thumb.Kind = AKind;
    thumb.Offset = AOffset;
    thumb.Size = ASize;
    thumb.Width = AWidth;
    thumb.Height = AHeight;
    thumb.Percent = APercent;
    thumb.Corrupted = ACorrupted;
    thumb.Name = std::move(AName);

    // A handler that collected nothing examined the current segment's payload.
    if (Blocks.empty())
        Blocks.push_back({static_cast<std::int64_t>(SegmentOffset), static_cast<std::int64_t>(SegmentAvailable)});
    // Map [AOffset, AOffset + ASize) onto the collected blocks, in order.
    std::size_t b = 0;
    std::int64_t inBlock = AOffset;
    while (b < Blocks.size() && inBlock >= Blocks[b].Size) inBlock -= Blocks[b++].Size;
    std::int64_t left = ASize;
    while (left > 0 && b < Blocks.size() && inBlock >= 0) {
        const std::int64_t take = std::min(left, Blocks[b].Size - inBlock);
        thumb.Blocks.push_back({Blocks[b].Offset + inBlock, take});
        left -= take;
        ++b;
        inBlock = 0;
    }
    return thumb;
}

void TkestJpegThumbs::AddPostThumb(std::int64_t AOffset, std::int32_t ASize, std::string AName) {
    PostThumbs.push_back({AOffset, ASize, std::move(AName)});
}

void TkestJpegThumbs::ProcessPostThumbs(TStream& AStream) {
    if (PostThumbs.empty()) return;
    TkestBaseJpegParser parser(kPostThumbParserBuffer);
    const std::uint64_t fileSize = AStream.Size();
    CheckedBytes = std::max(CheckedBytes, fileSize);
    // The offsets post thumbs were listed from, and the record of a preview in the segments
    // whose first byte lies at file offset AOffset.
    std::vector<std::int64_t> listed;
    auto recordAt = [&](std::int64_t AOffset) {
        return std::find_if(Thumbs.begin(), Thumbs.end(), [&](const TkestJpegThumb& t) {
            return !t.FromFile && t.Kind == tkCompressed && !t.Blocks.empty() && t.Blocks.front().Offset == AOffset;
        });
    };
    for (const TkestJpegPostThumb& post : PostThumbs) {
        if (!MayCheck()) break;
        if (post.Offset < 0 || static_cast<std::uint64_t>(post.Offset) >= fileSize || post.Size <= 0) continue;
        if (std::find(listed.begin(), listed.end(), post.Offset) != listed.end()) continue;
        auto found = recordAt(post.Offset);
        if (found != Thumbs.end() && !found->FoundByScan) continue;  // its own handler listed it
        // A size reaching past the end of the file stands for the bytes the file holds, so
        // that the stream's size (which bounds the decoding work of the check) is true.
        const std::uint64_t size = std::min<std::uint64_t>(static_cast<std::uint64_t>(post.Size),
                                                           fileSize - static_cast<std::uint64_t>(post.Offset));
        FileRangeStream range(AStream, static_cast<std::uint64_t>(post.Offset), size);
        const TkestStreamCheck check = CheckJpegStream(parser, range, 0, 0);  // a full check
        CountCheck(parser);
        if (check.Percent == 0) continue;
        if (found != Thumbs.end()) Thumbs.erase(found);  // the scan's find of the same bytes
        listed.push_back(post.Offset);
        TkestJpegThumb& thumb = Thumbs.emplace_back();
        thumb.Kind = tkCompressed;
        thumb.Offset = static_cast<std::int64_t>(static_cast<std::uint32_t>(post.Offset));
        thumb.Size = post.Size;
        thumb.Width = check.Width;
        thumb.Height = check.Height;
        thumb.Percent = check.Percent;
        thumb.Corrupted = check.Corrupted;
        thumb.FromFile = true;
        thumb.Name = post.Name;
    }
}

bool TkestJpegThumbs::MayCheck() const {
    return CheckWork <= TkestBaseJpegParser::WorkBudgetFor(CheckedBytes, kCheckFrameBlocks);
}

void TkestJpegThumbs::CountCheck(const TkestBaseJpegParser& AParser) { CheckWork += AParser.Work + AParser.Position; }

void TkestJpegThumbs::SortThumbs() {
    std::stable_sort(Thumbs.begin(), Thumbs.end(),
                     [](const TkestJpegThumb& a, const TkestJpegThumb& b) { return a.Area() > b.Area(); });
}
