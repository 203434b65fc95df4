// The operating-system services of the probe, one implementation per OS (os_posix.cpp,
// os_windows.cpp, chosen by CMake): loading a shared library, the 8-bit text of plugins,
// file names as UTF-8 and whether stderr is a terminal.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace wdxprobe {

// The generic function pointer that symbols are handed out as; callers cast it to the
// entry point's real type.
using AnyProc = void (*)();

// A shared library loaded with its own symbols kept local; unloaded by the destructor.
class Library {
public:
    // nullptr when the library cannot be loaded; `error` then holds the system's reason.
    static std::unique_ptr<Library> Open(const std::filesystem::path& path, std::string& error);

    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The exported function `name`, or nullptr.
    AnyProc Symbol(const char* name) const;

    struct Handle;
    explicit Library(std::unique_ptr<Handle> handle);  // made by Open

private:
    std::unique_ptr<Handle> handle_;
};

// 8-bit text as plugins exchange it (UTF-8 on Linux, the ANSI code page on Windows) to
// well-formed UTF-8, and UTF-8 to that 8-bit text.
std::string PluginTextToUtf8(std::string_view text);
std::string Utf8ToPluginText(std::string_view utf8);

// A path from UTF-8 text and back. A name that is not well-formed (bytes that are no UTF-8 on
// Linux, unpaired surrogates on Windows) comes back with U+FFFD in place of the bad parts.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);
// A path as 8-bit plugin text, for ContentGetValue: on Linux its bytes as they are.
std::string PathToPluginText(const std::filesystem::path& path);

// Whether the process's standard error stream is a terminal.
bool StderrIsTerminal();

}  // namespace wdxprobe
