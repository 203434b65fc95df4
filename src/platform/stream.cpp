#include "platform/stream.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies from `source` at `position` into `buffer`; both stay within their bounds.
std::size_t CopyOut(std::span<const std::uint8_t> source, std::uint64_t& position,
                    std::span<std::uint8_t> buffer) {
    if (position >= source.size()) return 0;
    const std::size_t offset = static_cast<std::size_t>(position);
    const std::size_t count = std::min(buffer.size(), source.size() - offset);
    if (count > 0) std::memcpy(buffer.data(), source.data() + offset, count);
    position += count;
    return count;
}

}  // namespace

void TStream::ReadExact(std::span<std::uint8_t> buffer) {
    if (Read(buffer) != buffer.size()) throw platform::IoError("stream read error");
}

std::unique_ptr<TFileStream> TFileStream::Open(const std::u16string& name) {
    auto file = platform::File::OpenRead(name);
    if (!file) return nullptr;
    return std::make_unique<TFileStream>(std::move(file));
}

std::size_t TMemoryStream::Read(std::span<std::uint8_t> buffer) {
    return CopyOut(bytes_, position_, buffer);
}

std::size_t TTempMemoryStream::Read(std::span<std::uint8_t> buffer) {
    return CopyOut(bytes_, position_, buffer);
}
