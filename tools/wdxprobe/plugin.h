// A WDX content plugin loaded as a host loads it: by path, through its exports only.
#pragma once

#include "frame/wdx.h"
#include "os.h"
#include "report.h"
#include "value.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wdxprobe {

// Called by Double Commander before it unloads a plugin, when exported.
extern "C" {
using ContentPluginUnloadingProc = void WDX_CALL();
}

// A file name in both forms the value entries take.
struct PluginFileName {
    std::u16string wide;  // for ContentGetValueW
    std::string narrow;   // for ContentGetValue: 8-bit plugin text
};

class WdxPlugin {
public:
    // nullptr when the library cannot be loaded or lacks the required exports
    // (ContentGetSupportedField and one of ContentGetValueW / ContentGetValue); `error` says which.
    static std::unique_ptr<WdxPlugin> Load(const std::filesystem::path& path, std::string& error);

    // Calls ContentPluginUnloading, when exported, before the library goes.
    ~WdxPlugin();
    WdxPlugin(const WdxPlugin&) = delete;
    WdxPlugin& operator=(const WdxPlugin&) = delete;

    const Exports& Exported() const { return exports_; }

    // ContentSetDefaultParams with a 272-byte record; false when not exported.
    bool SetDefaultParams(std::uint32_t version_high, std::uint32_t version_low);

    // ContentGetDetectString with a 2048-byte buffer, as UTF-8; nullopt when not exported.
    std::optional<std::string> DetectString() const;

    // ContentGetSupportedField from index 0 until it answers 0, with 256-byte buffers.
    // `truncated` is set when a plugin never answers 0 and the list was cut.
    std::vector<FieldInfo> Fields(bool& truncated) const;

    // One value call through ContentGetValueW (`wide`) or ContentGetValue.
    RawValue GetValue(const PluginFileName& name, bool wide, int field, int unit, int maxlen, int flags) const;

    // A full-text field the way Double Commander reads it: unit index 0, then the number of
    // bytes delivered so far, until the plugin answers -3; chunks of `chunk` bytes, flags 0.
    Value FullText(const PluginFileName& name, bool wide, int field, int chunk) const;

    struct Entries {
        ContentGetDetectStringProc* detect_string = nullptr;
        ContentGetSupportedFieldProc* supported_field = nullptr;
        ContentGetValueProc* get_value = nullptr;
        ContentGetValueWProc* get_value_w = nullptr;
        ContentSetDefaultParamsProc* set_default_params = nullptr;
        ContentPluginUnloadingProc* unloading = nullptr;
    };
    WdxPlugin(std::unique_ptr<Library> library, const Entries& entries);  // made by Load

private:
    std::unique_ptr<Library> library_;
    Entries entries_;
    Exports exports_;
};

}  // namespace wdxprobe
