// The few operating-system services the plugin needs. One implementation per OS:
// platform_windows.cpp (Win32 API) and platform_posix.cpp (Linux).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

// Calling convention and visibility of the exported WDX entry points: stdcall on 32-bit
// Windows (callee pops the arguments), the platform's only convention elsewhere.
#if defined(_WIN32)
#  if defined(__i386__)
#    define WDX_CALL __stdcall
#  else
#    define WDX_CALL
#  endif
#  define WDX_EXPORT extern "C" __declspec(dllexport)
#else
#  define WDX_CALL
#  define WDX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace platform {

// A read or seek that the operating system refused. Bad data is never reported this way;
// only the failure of the device or handle itself.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file opened for reading that others may read but not write while it is open.
class File {
public:
    // Opens an existing regular file; nullptr when it cannot be opened (missing, no access,
    // a folder, a device or pipe, held open for writing by someone else on Windows).
    static std::unique_ptr<File> OpenRead(const std::u16string& name);

    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads up to `buffer.size()` bytes at the current position; fewer only at the end of
    // the file, which is where it was when opened (Size()). Throws IoError when the read fails.
    std::size_t Read(std::span<std::uint8_t> buffer);
    void Seek(std::uint64_t position);
    std::uint64_t Position() const { return position_; }
    std::uint64_t Size() const { return size_; }

private:
    struct Handle;
    File(std::unique_ptr<Handle> handle, std::uint64_t size);

    std::unique_ptr<Handle> handle_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// The file's last-write time in 100-nanosecond units; 0 when it cannot be read.
std::uint64_t FileWriteTime(const std::u16string& name);

// Whether two file names name the same cache entry: ignoring letter case and nothing else
// on Windows, as its file systems do; exactly on Linux, where such names are different files.
bool SameFileName(std::u16string_view a, std::u16string_view b);

// Conversions between UTF-16 and the 8-bit code page: the ANSI code page on Windows,
// UTF-8 on Linux. Bytes 0-127 always keep their values. On Linux every byte string survives
// the trip to UTF-16 and back (bytes that are not UTF-8 travel as U+DC80..U+DCFF), so these
// two also carry file names.
std::string WideToAnsi(std::u16string_view text);
std::u16string AnsiToWide(std::string_view text);

// The longest start of the 8-bit `text`, at most `maxBytes` bytes, that ends on a whole
// character: never inside a UTF-8 sequence (Linux) or a double-byte character (Windows).
std::size_t AnsiPrefixLength(std::string_view text, std::size_t maxBytes);

// 8-bit text stored in a file (ICC ASCII texts and header signatures) as UTF-16, and as the
// system's 8-bit text. Windows reads it in the ANSI code page, as every other 8-bit text.
// Linux reads what is valid UTF-8 as UTF-8 and every other byte as Windows-1252, the code
// page such files are written in; the result is always valid UTF-16 and valid UTF-8.
std::u16string FileTextToWide(std::string_view bytes);
std::string FileTextToAnsi(std::string_view bytes);

// Many readers or one writer. Meets the SharedLockable requirements, so std::unique_lock
// and std::shared_lock work with it.
class SharedMutex {
public:
    SharedMutex();
    ~SharedMutex();
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock();
    void unlock();
    void lock_shared();
    void unlock_shared();

private:
    struct State;
    std::unique_ptr<State> state_;
};

using Md5Value = std::array<std::uint8_t, 16>;

// One MD5 computation through the platform's cryptographic service.
class Md5 {
public:
    // nullptr when the service cannot give an MD5 hash object.
    static std::unique_ptr<Md5> Create();

    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void Update(std::span<const std::uint8_t> data);
    // The digest of everything fed so far; call once.
    Md5Value Final();

private:
    struct State;
    explicit Md5(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace platform
