// Windows only, internal to the platform layer and its tests: acquiring a CryptoAPI
// provider context for MD5 hashing.
#pragma once

#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>
#include <wincrypt.h>

namespace platform::win32 {

// The provider asked for MD5: the user's default key container, no user interface.
inline constexpr const wchar_t* kMd5ProviderName = L"Microsoft Base Cryptographic Provider v1.0";
inline constexpr DWORD kMd5ProviderType = PROV_RSA_FULL;
inline constexpr DWORD kMd5AcquireFlags = CRYPT_SILENT;

// Calls `acquire` (shaped like CryptAcquireContextW) with the given arguments. When it fails
// because the user's default key container does not exist yet (NTE_BAD_KEYSET,
// NTE_KEYSET_NOT_DEF), calls it once more with CRYPT_NEWKEYSET added, which creates the
// container, and returns that result. When another thread or process created the container
// between the two calls (NTE_EXISTS), the plain call is made once more instead. Any other
// failure returns false at once.
template <typename Acquire>
bool AcquireProviderContext(Acquire&& acquire, HCRYPTPROV* provider, LPCWSTR container,
                            LPCWSTR providerName, DWORD type, DWORD flags) {
    if (acquire(provider, container, providerName, type, flags)) return true;
    const DWORD error = GetLastError();
    if (error != static_cast<DWORD>(NTE_BAD_KEYSET) && error != static_cast<DWORD>(NTE_KEYSET_NOT_DEF)) {
        return false;
    }
    if (acquire(provider, container, providerName, type, flags | CRYPT_NEWKEYSET)) return true;
    if (GetLastError() != static_cast<DWORD>(NTE_EXISTS)) return false;
    return acquire(provider, container, providerName, type, flags) != FALSE;
}

// The same with the real CryptAcquireContextW.
inline bool AcquireProviderContext(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR providerName,
                                   DWORD type, DWORD flags) {
    return AcquireProviderContext(
        [](HCRYPTPROV* p, LPCWSTR c, LPCWSTR n, DWORD t, DWORD f) { return CryptAcquireContextW(p, c, n, t, f); },
        provider, container, providerName, type, flags);
}

}  // namespace platform::win32
