// Helpers shared by the parser tests: parse bytes in memory, record the hooks, count reads.
#pragma once

#include "jpeg/catalogue.h"
#include "jpeg/parser.h"
#include "platform/stream.h"
#include "support/jpeg_builder.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One call of a hook, as the parser made it.
struct HookCall {
    std::string hook;  // "segment", "app", "group"
    std::uint8_t marker = 0;
    std::uint16_t length = 0;
    std::uint64_t offset = 0;
    Bytes data;
};

// A parser that records every hook call.
class RecordingParser : public TkestBaseJpegParser {
public:
    explicit RecordingParser(std::uint32_t bufferSize = 65536, bool groups = true)
        : TkestBaseJpegParser(bufferSize, groups) {}
    std::vector<HookCall> calls;

    std::vector<HookCall> Calls(const std::string& hook) const {
        std::vector<HookCall> out;
        for (const HookCall& c : calls)
            if (c.hook == hook) out.push_back(c);
        return out;
    }

protected:
    void DoSegment(std::uint8_t m, std::uint16_t len, std::span<const std::uint8_t> data) override {
        calls.push_back({"segment", m, len, Position, Bytes(data.begin(), data.end())});
    }
    void DoAppSegment(std::uint8_t m, std::uint16_t len, std::span<const std::uint8_t> data) override {
        calls.push_back({"app", m, len, Position, Bytes(data.begin(), data.end())});
    }
    void DoAppGroup(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        calls.push_back({"group", 0, 0, offset, Bytes(data.begin(), data.end())});
    }
};

// A stream that counts the bytes it hands out and the reads asked of it.
class CountingStream : public TStream {
public:
    explicit CountingStream(TStream& inner) : inner_(inner) {}
    std::size_t Read(std::span<std::uint8_t> buffer) override {
        ++reads;
        const std::size_t n = inner_.Read(buffer);
        bytes += n;
        return n;
    }
    void Seek(std::uint64_t position) override { inner_.Seek(position); }
    std::uint64_t Position() const override { return inner_.Position(); }
    std::uint64_t Size() const override { return inner_.Size(); }

    std::uint64_t bytes = 0;
    std::uint64_t reads = 0;

private:
    TStream& inner_;
};

// A stream that hides where its bytes are: no Memory(), so a parser without read buffer
// reads it one Read at a time, as it reads a file.
class PlainStream : public TStream {
public:
    explicit PlainStream(TStream& inner) : inner_(inner) {}
    std::size_t Read(std::span<std::uint8_t> buffer) override { return inner_.Read(buffer); }
    void Seek(std::uint64_t position) override { inner_.Seek(position); }
    std::uint64_t Position() const override { return inner_.Position(); }
    std::uint64_t Size() const override { return inner_.Size(); }

private:
    TStream& inner_;
};

// Parses `bytes` with the given options; the parser keeps its findings.
template <typename Parser>
int ParseBytes(Parser& parser, const Bytes& bytes, std::uint16_t options = poHeadersOnly, std::uint8_t colorModel = 0) {
    TMemoryStream stream(bytes);
    return parser.Parse(stream, options, colorModel);
}

inline int ParseBytes(const Bytes& bytes, std::uint16_t options = poHeadersOnly) {
    TkestBaseJpegParser parser(65536);
    return ParseBytes(parser, bytes, options);
}

// The headers of a small baseline image up to and including its scan header.
inline jpeg_fixture::JpegBuilder BaselineHeaders(std::uint16_t width = 16, std::uint16_t height = 16) {
    jpeg_fixture::JpegBuilder b;
    b.Soi().DqtAnnexK(75).DhtAnnexK().Sof(0xC0, width, height, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}});
    b.Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}});
    return b;
}
