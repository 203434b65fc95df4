// Byte streams the parsers read from: a file, an owned memory block, or a borrowed one.
// Reads past the end yield fewer bytes (or none); seeking past the end is allowed.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to `buffer.size()` bytes; fewer at the end of the data.
    virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;
    virtual void Seek(std::uint64_t position) = 0;
    virtual std::uint64_t Position() const = 0;
    virtual std::uint64_t Size() const = 0;

    // The whole content when it lies in one addressable block (a memory stream).
    virtual std::optional<std::span<const std::uint8_t>> Memory() const { return std::nullopt; }

    // Reads exactly `buffer.size()` bytes or throws platform::IoError.
    void ReadExact(std::span<std::uint8_t> buffer);
};

// A file opened for reading with read sharing.
class TFileStream final : public TStream {
public:
    // nullptr when the file cannot be opened.
    static std::unique_ptr<TFileStream> Open(const std::u16string& name);

    std::size_t Read(std::span<std::uint8_t> buffer) override { return file_->Read(buffer); }
    void Seek(std::uint64_t position) override { file_->Seek(position); }
    std::uint64_t Position() const override { return file_->Position(); }
    std::uint64_t Size() const override { return file_->Size(); }

    explicit TFileStream(std::unique_ptr<platform::File> file) : file_(std::move(file)) {}

private:
    std::unique_ptr<platform::File> file_;
};

// A stream over a block of memory it owns.
class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::size_t Read(std::span<std::uint8_t> buffer) override;
    void Seek(std::uint64_t position) override { position_ = position; }
    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return bytes_.size(); }
    std::optional<std::span<const std::uint8_t>> Memory() const override { return bytes_; }

    std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};

// A read-only stream over memory that the caller owns and keeps alive; never copies it.
class TTempMemoryStream final : public TStream {
public:
    TTempMemoryStream() = default;

    // Points the stream at `bytes` and rewinds it.
    void SetPointer(std::span<const std::uint8_t> bytes) {
        bytes_ = bytes;
        position_ = 0;
    }

    std::size_t Read(std::span<std::uint8_t> buffer) override;
    void Seek(std::uint64_t position) override { position_ = position; }
    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return bytes_.size(); }
    std::optional<std::span<const std::uint8_t>> Memory() const override { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};
