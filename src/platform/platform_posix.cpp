// Linux implementation of the platform services: POSIX files, std::shared_mutex, OpenSSL's
// MD5 and a UTF-8 codec of its own for file names and texts.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <shared_mutex>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Seconds from 1601-01-01 (the epoch of file times) to 1970-01-01 (the Unix epoch).
constexpr std::uint64_t kUnixEpochInFileTimeSeconds = 11644473600u;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000u;

// The name as the kernel wants it: UTF-8 bytes, no NUL inside. A name whose bytes do not
// turn back into exactly that name (a lone surrogate outside the escapes below, which would
// become '?', or escapes that spell a UTF-8 character) names no file: those bytes are
// another file's name.
bool NativeName(const std::u16string& name, std::string& native) {
    if (name.find(u'\0') != std::u16string::npos) return false;
    native = WideToAnsi(name);
    return AnsiToWide(native) == name;
}

// The low surrogates U+DC80..U+DCFF stand for bytes 0x80..0xFF that are not part of valid
// UTF-8, so that every byte string survives the trip to UTF-16 and back.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kEscapeFirst = 0xDC80;
constexpr char16_t kEscapeLast = 0xDCFF;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

void AppendUtf8(std::string& out, char32_t code) {
    const auto put = [&out](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xC0 | (code >> 6));
        put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        put(0xE0 | (code >> 12));
        put(0x80 | ((code >> 6) & 0x3F));
        put(0x80 | (code & 0x3F));
    } else {
        put(0xF0 | (code >> 18));
        put(0x80 | ((code >> 12) & 0x3F));
        put(0x80 | ((code >> 6) & 0x3F));
        put(0x80 | (code & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
    } else {
        out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
}

// Windows-1252 bytes 0x80-0x9F; the five it leaves undefined (81, 8D, 8F, 90, 9D) read as
// the C1 controls of the same value, as Windows' own conversion reads them. Bytes A0-FF are
// U+00A0-U+00FF.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t Windows1252(std::uint8_t byte) {
    return byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : char16_t{byte};
}

// Decodes the well-formed UTF-8 sequence at the start of `bytes` (Unicode 15, Table 3-7:
// no overlong forms, no surrogates, nothing above U+10FFFF). Returns its length, or 0 when
// the first byte does not begin one.
std::size_t DecodeUtf8(std::string_view bytes, char32_t& code) {
    const auto at = [&bytes](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = at(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80;   // range of the second byte, narrower after E0, ED, F0, F4
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!IsContinuation(at(i))) return 0;
        code = (code << 6) | (at(i) & 0x3Fu);
    }
    return length;
}

// The UTF-16 of `text`: its well-formed UTF-8 sequences decoded, every other byte turned
// into one unit by `stray`.
template <typename Stray>
std::u16string Utf8ToWide(std::string_view text, Stray stray) {
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, code);
        if (length == 0) {
            out.push_back(stray(static_cast<std::uint8_t>(text[0])));
            text.remove_prefix(1);
            continue;
        }
        AppendUtf16(out, code);
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace

// --- File ------------------------------------------------------------------------------

struct File::Handle {
    explicit Handle(int descriptor) : fd(descriptor) {}
    ~Handle() { ::close(fd); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    int fd;
};

File::File(std::unique_ptr<Handle> handle, std::uint64_t size)
    : handle_(std::move(handle)), size_(size) {}

File::~File() = default;

std::unique_ptr<File> File::OpenRead(const std::u16string& name) {
    std::string native;
    if (!NativeName(name, native)) return nullptr;
    // O_NONBLOCK keeps a FIFO from blocking the open until a writer comes; it is refused
    // below, as is everything else that is not a regular file.
    int fd = -1;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    auto handle = std::make_unique<Handle>(fd);

    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return nullptr;
    // Regular files ignore O_NONBLOCK; clear it all the same so that reads are plain.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
    return std::unique_ptr<File>(new File(std::move(handle), static_cast<std::uint64_t>(info.st_size)));
}

std::size_t File::Read(std::span<std::uint8_t> buffer) {
    // The file is read as it was when opened: nothing beyond the size seen then, so that
    // Position() never passes Size() through reading even if the file grows meanwhile.
    if (position_ >= size_) return 0;
    const std::uint64_t available = size_ - position_;
    std::size_t wanted = buffer.size();
    if (wanted > available) wanted = static_cast<std::size_t>(available);

    std::size_t done = 0;
    while (done < wanted) {
        // Linux transfers at most 0x7ffff000 bytes per call; ask for no more than that.
        const std::size_t chunk = std::min<std::size_t>(wanted - done, 0x40000000u);
        const ssize_t got = ::pread(handle_->fd, buffer.data() + done, chunk,
                                    static_cast<off_t>(position_ + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw IoError(std::string("file read error: ") + std::strerror(errno));
        }
        if (got == 0) break;  // the file shrank since it was opened
        done += static_cast<std::size_t>(got);
    }
    position_ += done;
    return done;
}

void File::Seek(std::uint64_t position) { position_ = position; }

// --- File times ------------------------------------------------------------------------

std::uint64_t FileWriteTime(const std::u16string& name) {
    std::string native;
    if (!NativeName(name, native)) return 0;
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0) return 0;

    // Seconds since 1601 as an unsigned count; times before 1601 or too far in the future
    // to count in 64 bits read as unreadable.
    const auto seconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    constexpr auto kEpoch = static_cast<std::int64_t>(kUnixEpochInFileTimeSeconds);
    if (seconds < -kEpoch) return 0;
    const std::uint64_t since1601 = static_cast<std::uint64_t>(seconds + kEpoch);
    constexpr std::uint64_t kMaxSeconds =
        (std::numeric_limits<std::uint64_t>::max() - kFileTimeUnitsPerSecond) / kFileTimeUnitsPerSecond;
    if (since1601 > kMaxSeconds) return 0;
    const auto nanoseconds = static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
    return since1601 * kFileTimeUnitsPerSecond + nanoseconds / 100u;
}

// --- Names and text --------------------------------------------------------------------

bool SameFileName(std::u16string_view a, std::u16string_view b) { return a == b; }

std::string WideToAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            const char32_t code = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            AppendUtf8(out, code);
            ++i;
        } else if (unit >= kEscapeFirst && unit <= kEscapeLast) {
            out.push_back(static_cast<char>(unit - kEscapeBase));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            // A lone surrogate names no character; like an unmappable character in a
            // Windows code page it becomes the default character.
            out.push_back('?');
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string AnsiToWide(std::string_view text) {
    return Utf8ToWide(text, [](std::uint8_t byte) { return static_cast<char16_t>(kEscapeBase + byte); });
}

std::size_t AnsiPrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    // A byte that begins no well-formed sequence stands alone, as AnsiToWide reads it.
    std::size_t length = 0;
    while (length < text.size()) {
        char32_t code = 0;
        const std::size_t next = std::max<std::size_t>(DecodeUtf8(text.substr(length), code), 1);
        if (length + next > maxBytes) break;
        length += next;
    }
    return length;
}

std::u16string FileTextToWide(std::string_view bytes) { return Utf8ToWide(bytes, Windows1252); }

std::string FileTextToAnsi(std::string_view bytes) { return WideToAnsi(FileTextToWide(bytes)); }

// --- SharedMutex -----------------------------------------------------------------------

struct SharedMutex::State {
    std::shared_mutex mutex;
};

SharedMutex::SharedMutex() : state_(std::make_unique<State>()) {}
SharedMutex::~SharedMutex() = default;
void SharedMutex::lock() { state_->mutex.lock(); }
void SharedMutex::unlock() { state_->mutex.unlock(); }
void SharedMutex::lock_shared() { state_->mutex.lock_shared(); }
void SharedMutex::unlock_shared() { state_->mutex.unlock_shared(); }

// --- Md5 -------------------------------------------------------------------------------

struct Md5::State {
    struct ContextFree {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> context;
};

Md5::Md5(std::unique_ptr<State> state) : state_(std::move(state)) {}
Md5::~Md5() = default;

namespace {

// The MD5 implementation, fetched from the default provider once: an implicit fetch on
// every initialisation costs more than hashing the small inputs here. Freed at unload.
const EVP_MD* Md5Algorithm() {
    struct Free {
        void operator()(EVP_MD* md) const { EVP_MD_free(md); }
    };
    static const std::unique_ptr<EVP_MD, Free> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
    return md.get();
}

}  // namespace

std::unique_ptr<Md5> Md5::Create() {
    // Null where MD5 is not offered, for instance under a FIPS-only provider.
    const EVP_MD* algorithm = Md5Algorithm();
    if (!algorithm) return nullptr;
    auto state = std::make_unique<State>();
    state->context.reset(EVP_MD_CTX_new());
    if (!state->context) return nullptr;
    if (EVP_DigestInit_ex(state->context.get(), algorithm, nullptr) != 1) return nullptr;
    return std::unique_ptr<Md5>(new Md5(std::move(state)));
}

void Md5::Update(std::span<const std::uint8_t> data) {
    if (data.empty()) return;
    EVP_DigestUpdate(state_->context.get(), data.data(), data.size());
}

Md5Value Md5::Final() {
    Md5Value value{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->context.get(), value.data(), &length);
    return value;
}

}  // namespace platform
