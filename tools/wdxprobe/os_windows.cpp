// Windows: LoadLibraryW / GetProcAddress, 8-bit plugin text in the ANSI code page, UTF-16
// file names, _isatty.
#include "os.h"
#include "text.h"

#include <windows.h>

#include <io.h>

#include <cstdio>

#include <string>

namespace wdxprobe {
namespace {

std::u16string ToU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// The system's message for an error code, without the trailing line break.
std::string ErrorText(DWORD code) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text;
    if (length != 0 && message != nullptr) text.assign(message, length);
    if (message != nullptr) LocalFree(message);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    std::string out = Utf16ToUtf8(ToU16(text));
    // Messages are written for an insert naming the file ("%1 is not a valid Win32 application.").
    for (std::size_t at = out.find("%1"); at != std::string::npos; at = out.find("%1", at)) {
        out.replace(at, 2, "the file");
    }
    if (!out.empty()) out += ' ';
    out += "(error " + std::to_string(code) + ")";
    return out;
}

}  // namespace

struct Library::Handle {
    HMODULE library = nullptr;
    ~Handle() {
        if (library != nullptr) FreeLibrary(library);
    }
};

Library::Library(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
Library::~Library() = default;

std::unique_ptr<Library> Library::Open(const std::filesystem::path& path, std::string& error) {
    auto handle = std::make_unique<Handle>();
    handle->library = LoadLibraryW(path.c_str());
    if (handle->library == nullptr) {
        error = ErrorText(GetLastError());
        return nullptr;
    }
    return std::make_unique<Library>(std::move(handle));
}

AnyProc Library::Symbol(const char* name) const {
    // FARPROC goes through void* so that no function-type cast is warned about; the caller
    // casts to the real type of the entry point.
    void* symbol = reinterpret_cast<void*>(GetProcAddress(handle_->library, name));
    return reinterpret_cast<AnyProc>(symbol);
}

std::string PluginTextToUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return SanitizeUtf8(text);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return Utf16ToUtf8(ToU16(wide));
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(ToWide(Utf8ToUtf16(utf8)));
}

std::string PathToUtf8(const std::filesystem::path& path) { return Utf16ToUtf8(ToU16(path.native())); }

std::string PathToPluginText(const std::filesystem::path& path) { return Utf8ToPluginText(PathToUtf8(path)); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::string Utf8ToPluginText(std::string_view utf8) {
    const std::wstring wide = ToWide(Utf8ToUtf16(utf8));
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

}  // namespace wdxprobe
