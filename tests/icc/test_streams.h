// Streams that show what a reader did with them: the size of every read it asked for, and
// streams whose data ends before their size says (a file cut while it is read).
#pragma once

#include "platform/stream.h"
#include "support/temp_files.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace icctest {

// A stream over `bytes` that is not a memory stream (Memory() gives nothing), so readers
// take their stream paths. It records every Read request. Bytes from `readable` on cannot
// be read although Size() counts them.
class TracingStream final : public TStream {
public:
    explicit TracingStream(Bytes bytes, std::uint64_t readable = UINT64_MAX)
        : bytes_(std::move(bytes)), readable_(std::min<std::uint64_t>(readable, bytes_.size())) {}

    std::size_t Read(std::span<std::uint8_t> buffer) override {
        requests.push_back(buffer.size());
        if (position_ >= readable_) return 0;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), readable_ - position_));
        if (count > 0) std::memcpy(buffer.data(), bytes_.data() + position_, count);
        position_ += count;
        return count;
    }
    void Seek(std::uint64_t position) override { position_ = position; }
    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return bytes_.size(); }

    std::size_t LargestRequest() const {
        return requests.empty() ? 0 : *std::max_element(requests.begin(), requests.end());
    }

    std::vector<std::size_t> requests;

private:
    Bytes bytes_;
    std::uint64_t readable_;
    std::uint64_t position_ = 0;
};

// A stream whose every read fails as a device would.
class FailingStream final : public TStream {
public:
    explicit FailingStream(std::uint64_t size) : size_(size) {}
    std::size_t Read(std::span<std::uint8_t>) override { throw platform::IoError("device error"); }
    void Seek(std::uint64_t position) override { position_ = position; }
    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return size_; }

private:
    std::uint64_t size_;
    std::uint64_t position_ = 0;
};

}  // namespace icctest
