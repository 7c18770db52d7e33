#include "journal/cardcipher.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <openssl/evp.h>

#include <memory>

namespace sorna {
namespace {

constexpr int kNonceBytes = 12;
constexpr int kTagBytes = 16;
const QString kPrefix = QStringLiteral("g1:");

QByteArray cipherKey(const QByteArray& journalKey)
{
    // A key of its own, so that the card hash and the row seals (made with
    // the journal's key) never share one with the cipher.
    return QMessageAuthenticationCode::hash(QByteArrayLiteral("sorna card number cipher"), journalKey,
                                            QCryptographicHash::Sha256);
}

using Context = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

} // namespace

QString SealCardNumber(const QByteArray& journalKey, const QString& cardNumber)
{
    const QByteArray key = cipherKey(journalKey);
    const QByteArray plain = cardNumber.toUtf8();
    QByteArray nonce(kNonceBytes, '\0');
    QRandomGenerator::system()->generate(nonce.begin(), nonce.end());
    QByteArray out(plain.size(), '\0');
    QByteArray tag(kTagBytes, '\0');
    Context ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int n = 0, last = 0;
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.constData()),
                           reinterpret_cast<const unsigned char*>(nonce.constData())) != 1 ||
        EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                          reinterpret_cast<const unsigned char*>(plain.constData()),
                          int(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &last) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, tag.data()) != 1)
        return {};
    out.resize(n + last);
    return kPrefix + QString::fromLatin1((nonce + out + tag).toBase64());
}

QString OpenCardNumber(const QByteArray& journalKey, const QString& sealed)
{
    if (!sealed.startsWith(kPrefix))
        return {};
    const QByteArray bytes = QByteArray::fromBase64(sealed.mid(kPrefix.size()).toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (bytes.size() < kNonceBytes + kTagBytes)
        return {};
    const QByteArray key = cipherKey(journalKey);
    const QByteArray nonce = bytes.left(kNonceBytes);
    const QByteArray body = bytes.mid(kNonceBytes, bytes.size() - kNonceBytes - kTagBytes);
    QByteArray tag = bytes.right(kTagBytes);
    QByteArray out(body.size() + 16, '\0');
    Context ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int n = 0, last = 0;
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.constData()),
                           reinterpret_cast<const unsigned char*>(nonce.constData())) != 1 ||
        EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                          reinterpret_cast<const unsigned char*>(body.constData()), int(body.size())) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &last) != 1)
        return {};
    out.resize(n + last);
    return QString::fromUtf8(out);
}

} // namespace sorna
