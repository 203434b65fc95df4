// Windows: acquiring the CryptoAPI provider, including a user whose default key container
// does not exist yet.
#include "platform/platform.h"
#include "platform/win32_crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::win32::AcquireProviderContext;

struct Call {
    LPCWSTR container;
    std::wstring provider;
    DWORD type;
    DWORD flags;
};

// Stands in for CryptAcquireContextW: answers from a script and records every call.
struct FakeAcquire {
    struct Answer {
        bool ok;
        DWORD error;
    };
    std::vector<Answer> script;
    std::vector<Call> calls;

    BOOL operator()(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR name, DWORD type, DWORD flags) {
        calls.push_back({container, name, type, flags});
        const Answer answer = calls.size() <= script.size() ? script[calls.size() - 1] : Answer{false, 0};
        if (answer.ok) {
            *provider = 42;
            return TRUE;
        }
        SetLastError(answer.error);
        return FALSE;
    }
};

constexpr DWORD kBadKeyset = static_cast<DWORD>(NTE_BAD_KEYSET);
constexpr DWORD kKeysetNotDefined = static_cast<DWORD>(NTE_KEYSET_NOT_DEF);

TEST(AcquireProviderContext, RetriesWithNewKeysetOnlyForAMissingContainer) {
    struct Case {
        const char* what;
        std::vector<FakeAcquire::Answer> script;
        bool result;
        std::size_t calls;
    };
    const Case cases[] = {
        {"first try works", {{true, 0}}, true, 1},
        {"no container yet, made by the retry", {{false, kBadKeyset}, {true, 0}}, true, 2},
        {"container not defined, made by the retry", {{false, kKeysetNotDefined}, {true, 0}}, true, 2},
        {"retry fails too", {{false, kBadKeyset}, {false, kBadKeyset}}, false, 2},
        {"made meanwhile by another caller, then opened",
         {{false, kBadKeyset}, {false, static_cast<DWORD>(NTE_EXISTS)}, {true, 0}}, true, 3},
        {"made meanwhile, and opening it fails",
         {{false, kBadKeyset}, {false, static_cast<DWORD>(NTE_EXISTS)}, {false, kBadKeyset}}, false, 3},
        {"other error, no retry", {{false, static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF)}, {true, 0}}, false, 1},
        {"access denied, no retry", {{false, ERROR_ACCESS_DENIED}, {true, 0}}, false, 1},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        FakeAcquire fake{test.script, {}};
        HCRYPTPROV provider = 0;
        EXPECT_EQ(AcquireProviderContext(fake, &provider, nullptr, L"Provider", PROV_RSA_FULL, CRYPT_SILENT),
                  test.result);
        ASSERT_EQ(fake.calls.size(), test.calls);
        for (std::size_t i = 0; i < fake.calls.size(); ++i) {
            EXPECT_EQ(fake.calls[i].container, nullptr);
            EXPECT_EQ(fake.calls[i].provider, L"Provider");
            EXPECT_EQ(fake.calls[i].type, DWORD{PROV_RSA_FULL});
            EXPECT_EQ(fake.calls[i].flags, i == 1 ? DWORD{CRYPT_SILENT | CRYPT_NEWKEYSET} : DWORD{CRYPT_SILENT});
        }
        if (test.result) {
            EXPECT_EQ(provider, HCRYPTPROV{42});
        }
    }
}

bool AcquirePlain(DWORD& error) {
    HCRYPTPROV provider = 0;
    if (CryptAcquireContextW(&provider, nullptr, platform::win32::kMd5ProviderName, PROV_RSA_FULL, CRYPT_SILENT)) {
        CryptReleaseContext(provider, 0);
        return true;
    }
    error = GetLastError();
    return false;
}

TEST(Md5, WorksForAUserWithoutAKeyContainer) {
    // Delete the user's default container (CRYPT_DELETEKEYSET hands back no handle); then
    // a plain acquire fails, and only the retry with CRYPT_NEWKEYSET gets a context.
    HCRYPTPROV ignored = 0;
    ASSERT_TRUE(CryptAcquireContextW(&ignored, nullptr, platform::win32::kMd5ProviderName, PROV_RSA_FULL,
                                     CRYPT_DELETEKEYSET) ||
                GetLastError() == kBadKeyset);
    DWORD error = 0;
    ASSERT_FALSE(AcquirePlain(error));
    ASSERT_EQ(error, kBadKeyset);

    auto md5 = platform::Md5::Create();
    ASSERT_NE(md5, nullptr);
    const std::string abc = "abc";
    md5->Update({reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()});
    EXPECT_EQ(md5->Final(), (platform::Md5Value{0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f,
                                                0x7d, 0x28, 0xe1, 0x7f, 0x72}));
    EXPECT_TRUE(AcquirePlain(error)) << "the retry made the container";
}

}  // namespace
