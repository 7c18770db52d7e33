#include "hostlink/zseed.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <memory>
#include <mutex>

#ifdef Q_OS_WIN
#include <QDir>
#include <QFileInfo>
#include <qt_windows.h>

#include <iterator>
#endif

namespace sorna {
namespace {

// C43F98474450C960562C638CE68BB529
constexpr unsigned char kKey[16] = {0xC4, 0x3F, 0x98, 0x47, 0x44, 0x50, 0xC9, 0x60,
                                    0x56, 0x2C, 0x63, 0x8C, 0xE6, 0x8B, 0xB5, 0x29};
// AF702B8E081F86D69FA143847850C422
constexpr unsigned char kIv[16] = {0xAF, 0x70, 0x2B, 0x8E, 0x08, 0x1F, 0x86, 0xD6,
                                   0x9F, 0xA1, 0x43, 0x84, 0x78, 0x50, 0xC4, 0x22};

struct CipherFree
{
    void operator()(EVP_CIPHER* c) const { EVP_CIPHER_free(c); }
};
struct CtxFree
{
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

struct ProviderUnload
{
    void operator()(OSSL_PROVIDER* p) const { OSSL_PROVIDER_unload(p); }
};

// SEED lives in OpenSSL's legacy provider; the default provider stays loaded
// beside it for everything else.  Loaded once per process, and given back at
// its end (before OpenSSL's own clean-up, which was registered first) so that
// nothing of it outlives the program.
struct Ciphers
{
    // Members go in reverse order: the ciphers before their providers.
    std::unique_ptr<OSSL_PROVIDER, ProviderUnload> legacy, standard;
    std::unique_ptr<EVP_CIPHER, CipherFree> cbc, ecb;
};

#ifdef Q_OS_WIN
// The Windows program ships OpenSSL's provider modules (legacy.dll) in
// ossl-modules beside the executable; OpenSSL itself would look in the folder
// named when it was built, which does not exist on the counter PC.
// OPENSSL_MODULES still overrides it.
void findModulesBesideProgram()
{
    if (qEnvironmentVariableIsSet("OPENSSL_MODULES"))
        return;
    wchar_t exe[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, exe, DWORD(std::size(exe)));
    if (n == 0 || n >= std::size(exe))
        return;
    const QString dir = QFileInfo(QString::fromWCharArray(exe, int(n))).absolutePath();
    // OpenSSL opens modules with the ANSI functions.
    const QByteArray path = QDir::toNativeSeparators(dir + QStringLiteral("/ossl-modules")).toLocal8Bit();
    OSSL_PROVIDER_set_default_search_path(nullptr, path.constData());
}
#endif

const Ciphers& ciphers()
{
    static const Ciphers c = [] {
        Ciphers out;
#ifdef Q_OS_WIN
        findModulesBesideProgram();
#endif
        out.legacy.reset(OSSL_PROVIDER_load(nullptr, "legacy"));
        out.standard.reset(OSSL_PROVIDER_load(nullptr, "default"));
        out.cbc.reset(EVP_CIPHER_fetch(nullptr, "SEED-CBC", nullptr));
        out.ecb.reset(EVP_CIPHER_fetch(nullptr, "SEED-ECB", nullptr));
        return out;
    }();
    return c;
}

bool run(const EVP_CIPHER* cipher, const unsigned char* key, const unsigned char* iv, bool encrypt, bool pad,
         QByteArrayView in, QByteArray* out)
{
    if (!cipher)
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex2(ctx.get(), cipher, key, iv, encrypt ? 1 : 0, nullptr) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0);
    out->resize(in.size() + 32);
    int n1 = 0, n2 = 0;
    auto* o = reinterpret_cast<unsigned char*>(out->data());
    if (EVP_CipherUpdate(ctx.get(), o, &n1, reinterpret_cast<const unsigned char*>(in.data()),
                         int(in.size())) != 1)
        return false;
    if (EVP_CipherFinal_ex(ctx.get(), o + n1, &n2) != 1)
        return false;
    out->resize(n1 + n2);
    return true;
}

} // namespace

namespace seed {

bool available()
{
    return ciphers().cbc && ciphers().ecb;
}

QByteArray ecbEncryptBlocks(QByteArrayView key, QByteArrayView plain)
{
    QByteArray out;
    if (key.size() != 16 || plain.size() % 16 != 0 ||
        !run(ciphers().ecb.get(), reinterpret_cast<const unsigned char*>(key.data()), nullptr, true, false,
             plain, &out))
        return {};
    return out;
}

QByteArray cbcEncrypt(QByteArrayView plain)
{
    QByteArray out;
    if (!run(ciphers().cbc.get(), kKey, kIv, true, true, plain, &out))
        return {};
    return out;
}

bool cbcDecrypt(QByteArrayView cipher, QByteArray* plain)
{
    if (cipher.isEmpty() || cipher.size() % 16 != 0)
        return false;
    return run(ciphers().cbc.get(), kKey, kIv, false, true, cipher, plain);
}

} // namespace seed

int ZSeedEncrypt(const char* plain, int length, char* buffer)
{
    if (!plain || !buffer || length < 0)
        return -1;
    const QByteArray cipher = seed::cbcEncrypt(QByteArrayView(plain, length));
    if (cipher.isEmpty())
        return -1;
    const QByteArray text = cipher.toBase64();
    if (text.size() + 1 > kZSeedBufferSize)
        return -1;
    std::memcpy(buffer, text.constData(), size_t(text.size()));
    buffer[text.size()] = '\0';
    return int(text.size());
}

int ZSeedDecrypt(const char* cipher, int length, char* buffer)
{
    if (!cipher || !buffer || length <= 0)
        return -1;
    const auto decoded =
        QByteArray::fromBase64Encoding(QByteArray(cipher, length), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return -1;
    QByteArray plain;
    if (!seed::cbcDecrypt(decoded.decoded, &plain) || plain.size() > kZSeedBufferSize)
        return -1;
    std::memcpy(buffer, plain.constData(), size_t(plain.size()));
    return int(plain.size());
}

} // namespace sorna
