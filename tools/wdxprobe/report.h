// What the probe found out, kept apart from how it is printed: the plugin's description
// (exports, detect string, fields) and one record per file.
#pragma once

#include "value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wdxprobe {

struct FieldInfo {
    int index = 0;
    std::string name;                // UTF-8
    int type = 0;                    // as ContentGetSupportedField answered
    std::vector<std::string> units;  // the "|"-separated unit names, UTF-8
};

// The exports a host looks for; `unloading` is called before the library is unloaded.
struct Exports {
    bool detect_string = false;
    bool supported_field = false;
    bool get_value = false;
    bool get_value_w = false;
    bool set_default_params = false;
    bool unloading = false;
};

struct PluginReport {
    std::string path;  // as given on the command line
    Exports exports;
    bool params_sent = false;
    std::uint32_t version_high = 0;
    std::uint32_t version_low = 0;
    bool wide = true;  // values through ContentGetValueW
    int maxlen = 0;
    int flags = 0;
    bool fulltext = false;  // full-text fields fetched whole
    bool show_chunks = false;
    int chunk = 0;
    std::optional<std::string> detect_string;  // nullopt when not exported
    std::string detect_error;                  // why it cannot be evaluated, or empty
    std::vector<FieldInfo> fields;
    bool fields_truncated = false;  // the enumeration never ended and was stopped
    std::vector<int> selected;      // indices into `fields` whose values are shown
};

enum class Detection { Accepted, Rejected, CannotEvaluate, NoDetectString };

struct FieldValue {
    int field = 0;  // index into PluginReport::fields
    Value value;
};

struct FileReport {
    std::string name;   // as given on the command line
    std::string error;  // why the file was not probed ("no such file"), or empty
    std::uint64_t size = 0;
    Detection detection = Detection::NoDetectString;
    std::vector<FieldValue> values;
};

}  // namespace wdxprobe
