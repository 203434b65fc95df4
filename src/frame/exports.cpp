// The five entry points a WDX host calls. Each is a thin shell over the global root that
// turns every escaping error into the interface's fixed answer: no exception ever crosses
// into the host.
#include "frame/buffer.h"
#include "frame/root.h"
#include "frame/wdx.h"
#include "platform/platform.h"

#include <cstring>
#include <string>

namespace {

// Cuts `text` by whole alternatives, last first, until it fits in `limit` bytes; empty
// when even the first alternative does not fit.
std::string ShortenDetectString(std::string text, std::size_t limit) {
    while (!text.empty() && text.size() > limit) {
        const auto bar = text.rfind('|');
        if (bar == std::string::npos) return {};
        text.erase(bar);
    }
    return text;
}

}  // namespace

WDX_EXPORT void WDX_CALL ContentGetDetectString(char* ADetectString, int AMaxLen) {
    if (!ADetectString || AMaxLen < 1) return;
    const auto size = static_cast<std::size_t>(AMaxLen);
    std::memset(ADetectString, 0, size);
    try {
        TkestWDXRoot* root = GlobalRoot();
        if (!root) return;
        const std::string text = ShortenDetectString(root->GetDetectString(AMaxLen - 1), size - 1);
        std::memcpy(ADetectString, text.data(), text.size());
    } catch (...) {
        std::memset(ADetectString, 0, size);
    }
}

WDX_EXPORT int WDX_CALL ContentGetSupportedField(int AFieldIndex, char* AFieldName, char* AUnits, int AMaxLen) {
    try {
        TkestWDXRoot* root = GlobalRoot();
        if (!root || AFieldIndex < 0 || AFieldIndex >= root->FieldCount() || !AFieldName || !AUnits) return 0;
        const TkestWDXField& field = root->GetField(AFieldIndex);
        std::u16string units;
        for (int unit = 0; unit < field.GetUnitCount(); ++unit) {
            if (unit > 0) units += u'|';
            units += field.GetUnitName(unit);
        }
        CopyAnsiToBuffer(platform::WideToAnsi(field.GetName()), AFieldName, AMaxLen);
        CopyAnsiToBuffer(platform::WideToAnsi(units), AUnits, AMaxLen);
        return field.GetReportedType();
    } catch (...) {
        return 0;
    }
}

WDX_EXPORT int WDX_CALL ContentGetValue(const char* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                        int AMaxLen, int AFlags) {
    try {
        TkestWDXRoot* root = GlobalRoot();
        if (!root || !AFileName || !AValue) return ft_fileerror;
        return root->GetFieldValue(platform::AnsiToWide(AFileName), AFieldIndex, AUnitIndex, AValue, AMaxLen,
                                   AFlags, false);
    } catch (...) {
        return ft_fileerror;
    }
}

WDX_EXPORT int WDX_CALL ContentGetValueW(const WdxChar* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                         int AMaxLen, int AFlags) {
    try {
        TkestWDXRoot* root = GlobalRoot();
        if (!root || !AFileName || !AValue) return ft_fileerror;
        return root->GetFieldValue(std::u16string(AFileName), AFieldIndex, AUnitIndex, AValue, AMaxLen, AFlags, true);
    } catch (...) {
        return ft_fileerror;
    }
}

WDX_EXPORT void WDX_CALL ContentSetDefaultParams(const TkestWDXDefaultParams* AParams) {
    try {
        if (TkestWDXRoot* root = GlobalRoot(); root && AParams) root->SetDefaultParams(*AParams);
    } catch (...) {
    }
}
