// Windows implementation of the platform services: Win32 files, code-page conversions and
// locale-aware comparison, an SRW lock and CryptoAPI's MD5.
#include "platform/platform.h"
#include "platform/win32_crypto.h"

#include <algorithm>
#include <climits>
#include <string>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the API as wchar_t");

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
const wchar_t* Wide(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

// A name the API can take: no NUL inside, which would silently cut it short.
bool UsableName(const std::u16string& name) { return name.find(u'\0') == std::u16string::npos; }

class HandleOwner {
public:
    explicit HandleOwner(HANDLE handle) : handle_(handle) {}
    ~HandleOwner() {
        if (Valid()) CloseHandle(handle_);
    }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// Opens an existing file for reading; others may read it, none may write it meanwhile.
HANDLE OpenShared(const std::u16string& name) {
    return CreateFileW(Wide(name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::uint64_t FromFileTime(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// The API counts characters and bytes in int.
int ApiLength(std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    return static_cast<int>(length);
}

}  // namespace

// --- File ------------------------------------------------------------------------------

struct File::Handle {
    explicit Handle(HANDLE handle) : owner(handle) {}

    HandleOwner owner;
    // Where the system's file pointer stands, so that a read seeks only after a Seek.
    std::uint64_t pointer = 0;
};

File::File(std::unique_ptr<Handle> handle, std::uint64_t size)
    : handle_(std::move(handle)), size_(size) {}

File::~File() = default;

std::unique_ptr<File> File::OpenRead(const std::u16string& name) {
    if (!UsableName(name)) return nullptr;
    // Folders do not open this way (that takes FILE_FLAG_BACKUP_SEMANTICS), and devices
    // that do open have no size: both give nullptr.
    auto handle = std::make_unique<Handle>(OpenShared(name));
    if (!handle->owner.Valid()) return nullptr;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle->owner.Get(), &size) || size.QuadPart < 0) return nullptr;
    return std::unique_ptr<File>(new File(std::move(handle), static_cast<std::uint64_t>(size.QuadPart)));
}

std::size_t File::Read(std::span<std::uint8_t> buffer) {
    // Nothing beyond the size seen at opening is read, so that reading never takes
    // Position() past Size(); with writers shut out the size does not change anyway.
    if (position_ >= size_) return 0;
    const std::uint64_t available = size_ - position_;
    std::size_t wanted = buffer.size();
    if (wanted > available) wanted = static_cast<std::size_t>(available);
    if (wanted == 0) return 0;

    const HANDLE file = handle_->owner.Get();
    if (handle_->pointer != position_) {
        LARGE_INTEGER target{};
        target.QuadPart = static_cast<LONGLONG>(position_);  // below size_, so in range
        if (!SetFilePointerEx(file, target, nullptr, FILE_BEGIN)) {
            throw IoError("file seek error " + std::to_string(GetLastError()));
        }
        handle_->pointer = position_;
    }

    std::size_t done = 0;
    while (done < wanted) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wanted - done, 0x40000000u));
        DWORD got = 0;
        if (!ReadFile(file, buffer.data() + done, chunk, &got, nullptr)) {
            const DWORD error = GetLastError();
            handle_->pointer = ~std::uint64_t{0};  // unknown after a failed read
            throw IoError("file read error " + std::to_string(error));
        }
        if (got == 0) break;
        done += got;
        handle_->pointer += got;
    }
    position_ += done;
    return done;
}

void File::Seek(std::uint64_t position) { position_ = position; }

// --- File times ------------------------------------------------------------------------

std::uint64_t FileWriteTime(const std::u16string& name) {
    if (!UsableName(name)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(Wide(name), GetFileExInfoStandard, &attributes)) {
        return FromFileTime(attributes.ftLastWriteTime);
    }
    const HandleOwner file(OpenShared(name));
    if (!file.Valid()) return 0;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file.Get(), &information)) return 0;
    return FromFileTime(information.ftLastWriteTime);
}

// --- Names and text --------------------------------------------------------------------

// Ordinal comparison with case folded by the system's upper-case table, as NTFS and FAT
// compare names. The linguistic CompareStringW would also treat as equal names that are
// different files: "Strasse.jpg" and "Stra\u00dfe.jpg", a precomposed and a decomposed
// "\u00e9", a name with a soft hyphen and one without.
bool SameFileName(std::u16string_view a, std::u16string_view b) {
    if (a.size() > static_cast<std::size_t>(INT_MAX) || b.size() > static_cast<std::size_t>(INT_MAX)) {
        return a == b;
    }
    if (a.empty() || b.empty()) return a.size() == b.size();  // an empty view may have no data
    return CompareStringOrdinal(Wide(a), static_cast<int>(a.size()), Wide(b), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::string WideToAnsi(std::u16string_view text) {
    if (text.empty()) return {};
    const int length = ApiLength(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, Wide(text), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, Wide(text), length, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(std::max(written, 0)));
    return out;
}

std::u16string AnsiToWide(std::string_view text) {
    if (text.empty()) return {};
    const int length = ApiLength(text.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (size <= 0) return {};
    std::u16string out(static_cast<std::size_t>(size), u'\0');
    const int written =
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()), size);
    out.resize(static_cast<std::size_t>(std::max(written, 0)));
    return out;
}

std::size_t AnsiPrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    // In a double-byte code page a lead byte takes the byte after it along; in any other
    // code page every byte is a character of its own.
    std::size_t length = 0;
    while (length < text.size()) {
        const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[length])) && length + 1 < text.size();
        const std::size_t next = lead ? 2 : 1;
        if (length + next > maxBytes) break;
        length += next;
    }
    return length;
}

std::u16string FileTextToWide(std::string_view bytes) { return AnsiToWide(bytes); }

// The bytes are in the code page already.
std::string FileTextToAnsi(std::string_view bytes) { return std::string(bytes); }

// --- SharedMutex -----------------------------------------------------------------------

struct SharedMutex::State {
    SRWLOCK lock;
};

SharedMutex::SharedMutex() : state_(std::make_unique<State>()) { InitializeSRWLock(&state_->lock); }
SharedMutex::~SharedMutex() = default;
void SharedMutex::lock() { AcquireSRWLockExclusive(&state_->lock); }
void SharedMutex::unlock() { ReleaseSRWLockExclusive(&state_->lock); }
void SharedMutex::lock_shared() { AcquireSRWLockShared(&state_->lock); }
void SharedMutex::unlock_shared() { ReleaseSRWLockShared(&state_->lock); }

// --- Md5 -------------------------------------------------------------------------------

namespace {

class ProviderOwner {
public:
    ProviderOwner() = default;
    ~ProviderOwner() {
        if (provider_ != 0) CryptReleaseContext(provider_, 0);
    }
    ProviderOwner(const ProviderOwner&) = delete;
    ProviderOwner& operator=(const ProviderOwner&) = delete;

    HCRYPTPROV* Out() { return &provider_; }
    HCRYPTPROV Get() const { return provider_; }

private:
    HCRYPTPROV provider_ = 0;
};

class HashOwner {
public:
    HashOwner() = default;
    ~HashOwner() {
        if (hash_ != 0) CryptDestroyHash(hash_);
    }
    HashOwner(const HashOwner&) = delete;
    HashOwner& operator=(const HashOwner&) = delete;

    HCRYPTHASH* Out() { return &hash_; }
    HCRYPTHASH Get() const { return hash_; }

private:
    HCRYPTHASH hash_ = 0;
};

}  // namespace

struct Md5::State {
    // Members are destroyed in reverse order: the hash object first, then the context.
    ProviderOwner provider;
    HashOwner hash;
};

Md5::Md5(std::unique_ptr<State> state) : state_(std::move(state)) {}
Md5::~Md5() = default;

std::unique_ptr<Md5> Md5::Create() {
    auto state = std::make_unique<State>();
    HCRYPTPROV* provider = state->provider.Out();
    if (!win32::AcquireProviderContext(provider, nullptr, win32::kMd5ProviderName, win32::kMd5ProviderType,
                                       win32::kMd5AcquireFlags)) {
        *provider = 0;
        return nullptr;
    }
    if (!CryptCreateHash(state->provider.Get(), CALG_MD5, 0, 0, state->hash.Out())) {
        *state->hash.Out() = 0;
        return nullptr;
    }
    DWORD hashSize = 0;
    DWORD length = sizeof(hashSize);
    if (!CryptGetHashParam(state->hash.Get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&hashSize), &length, 0) ||
        hashSize != Md5Value{}.size()) {
        return nullptr;
    }
    return std::unique_ptr<Md5>(new Md5(std::move(state)));
}

void Md5::Update(std::span<const std::uint8_t> data) {
    // CryptHashData counts in DWORD; feed larger blocks in pieces.
    while (!data.empty()) {
        const std::size_t chunk = std::min<std::size_t>(data.size(), 0x40000000u);
        CryptHashData(state_->hash.Get(), data.data(), static_cast<DWORD>(chunk), 0);
        data = data.subspan(chunk);
    }
}

Md5Value Md5::Final() {
    Md5Value value{};
    DWORD length = static_cast<DWORD>(value.size());
    CryptGetHashParam(state_->hash.Get(), HP_HASHVAL, value.data(), &length, 0);
    return value;
}

}  // namespace platform
