// Linux: dlopen, 8-bit plugin text and file names that are already UTF-8, isatty.
#include "os.h"
#include "text.h"

#include <dlfcn.h>
#include <unistd.h>

namespace wdxprobe {

struct Library::Handle {
    void* library = nullptr;
    ~Handle() {
        if (library != nullptr) dlclose(library);
    }
};

Library::Library(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
Library::~Library() = default;

std::unique_ptr<Library> Library::Open(const std::filesystem::path& path, std::string& error) {
    // A name without a slash would make dlopen search the library path instead of the
    // file the user named; the caller passes an absolute path.
    auto handle = std::make_unique<Handle>();
    dlerror();
    handle->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle->library == nullptr) {
        const char* reason = dlerror();
        error = SanitizeUtf8(reason != nullptr ? reason : "unknown reason");
        return nullptr;
    }
    return std::make_unique<Library>(std::move(handle));
}

AnyProc Library::Symbol(const char* name) const {
    void* symbol = dlsym(handle_->library, name);
    return reinterpret_cast<AnyProc>(symbol);
}

std::string PluginTextToUtf8(std::string_view text) { return SanitizeUtf8(text); }

std::string Utf8ToPluginText(std::string_view utf8) { return std::string(utf8); }

std::filesystem::path PathFromUtf8(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string PathToUtf8(const std::filesystem::path& path) { return SanitizeUtf8(path.native()); }

std::string PathToPluginText(const std::filesystem::path& path) { return path.native(); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace wdxprobe
