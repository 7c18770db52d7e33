#include "journal/keyprotect.h"

// windows.h before dpapi.h.
// clang-format off
#ifdef _WIN32
#include <windows.h>
#include <dpapi.h>
#endif
// clang-format on

namespace sorna::keyprotect {

#ifdef _WIN32

namespace {

// Told apart from other protected data of the same account.
const wchar_t kDescription[] = L"sorna journal key";
const char kEntropy[] = "sorna journal key v1";

bool run(bool sealing, const std::string& in, std::string* out)
{
    DATA_BLOB input{DWORD(in.size()), reinterpret_cast<BYTE*>(const_cast<char*>(in.data()))};
    DATA_BLOB entropy{DWORD(sizeof kEntropy - 1), reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
    DATA_BLOB output{0, nullptr};
    const BOOL ok = sealing ? CryptProtectData(&input, kDescription, &entropy, nullptr, nullptr,
                                               CRYPTPROTECT_UI_FORBIDDEN, &output)
                            : CryptUnprotectData(&input, nullptr, &entropy, nullptr, nullptr,
                                                 CRYPTPROTECT_UI_FORBIDDEN, &output);
    if (!ok)
        return false;
    out->assign(reinterpret_cast<const char*>(output.pbData), output.cbData);
    SecureZeroMemory(output.pbData, output.cbData);
    LocalFree(output.pbData);
    return true;
}

} // namespace

bool protectsKey()
{
    return true;
}

bool protect(const std::string& key, std::string* stored)
{
    return run(true, key, stored);
}

bool unprotect(const std::string& stored, std::string* key)
{
    return run(false, stored, key);
}

#else

bool protectsKey()
{
    return false;
}

bool protect(const std::string& key, std::string* stored)
{
    *stored = key;
    return true;
}

bool unprotect(const std::string& stored, std::string* key)
{
    *key = stored;
    return true;
}

#endif

} // namespace sorna::keyprotect
