// The WDX content-plugin interface as this plugin and the wdxprobe host speak it: the five
// entry points, the codes they exchange and the host's parameter record.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Field-type codes: the type of a field and of a delivered value.
inline constexpr int ft_numeric_32 = 1;   // signed 32-bit, little-endian
inline constexpr int ft_numeric_64 = 2;   // signed 64-bit, little-endian
inline constexpr int ft_boolean = 6;      // 32-bit: 0 false, -1 true
inline constexpr int ft_string = 8;       // zero-terminated 8-bit text
inline constexpr int ft_fulltext = 9;     // a chunk of searchable 8-bit text
inline constexpr int ft_stringw = 11;     // zero-terminated UTF-16 text

// Result codes of the value entries when no typed value is delivered.
inline constexpr int ft_delayed = 0;      // slow value: the buffer holds a placeholder text
inline constexpr int ft_nosuchfield = -1;
inline constexpr int ft_fileerror = -2;
inline constexpr int ft_fieldempty = -3;

// Bit 0 of the flags of a value request: the host accepts a delayed answer.
inline constexpr int CONTENT_DELAYIFSLOW = 1;

// The parameter record the host hands over once, 272 bytes, little-endian.
struct TkestWDXDefaultParams {
    std::int32_t Size;
    std::uint32_t VersionLow;
    std::uint32_t VersionHigh;  // the host's interface major version
    char IniFileName[260];
};
static_assert(sizeof(TkestWDXDefaultParams) == 272);

// UTF-16 code unit of the wide entry points (WCHAR on every platform).
using WdxChar = char16_t;

extern "C" {
using ContentGetDetectStringProc = void WDX_CALL(char* ADetectString, int AMaxLen);
using ContentGetSupportedFieldProc = int WDX_CALL(int AFieldIndex, char* AFieldName, char* AUnits, int AMaxLen);
using ContentGetValueProc = int WDX_CALL(const char* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                         int AMaxLen, int AFlags);
using ContentGetValueWProc = int WDX_CALL(const WdxChar* AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                          int AMaxLen, int AFlags);
using ContentSetDefaultParamsProc = void WDX_CALL(const TkestWDXDefaultParams* AParams);
}
