#include "platform/bundle/linux/code_signature.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace sonaric::CodeSignature
{

namespace
{

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Context = std::unique_ptr<EVP_MD_CTX, Free>;

QString openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

Key privateKey(const QString& file, QString* error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(file, in.errorString());
        return nullptr;
    }
    const QByteArray pem = in.readAll();
    std::unique_ptr<BIO, Free> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        if (error)
            *error = QStringLiteral("%1 holds no private key (%2)").arg(file, openSslError());
        return nullptr;
    }
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        if (error)
            *error = QStringLiteral("%1 is not an Ed25519 key").arg(file);
        return nullptr;
    }
    return key;
}

} // namespace

std::optional<QByteArray> sign(const QByteArray& message, const QString& privateKeyFile, QString* error)
{
    const Key key = privateKey(privateKeyFile, error);
    if (!key)
        return std::nullopt;
    const Context context(EVP_MD_CTX_new());
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    // Ed25519 signs the message itself in one call; there is no separate digest.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
               reinterpret_cast<const unsigned char*>(message.constData()), size_t(message.size()))
            != 1) {
        if (error)
            *error = QStringLiteral("signing failed (%1)").arg(openSslError());
        return std::nullopt;
    }
    signature.truncate(qsizetype(length));
    return signature;
}

std::optional<QByteArray> publicKey(const QString& privateKeyFile, QString* error)
{
    const Key key = privateKey(privateKeyFile, error);
    if (!key)
        return std::nullopt;
    QByteArray raw(32, '\0');
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length) != 1
        || length != 32) {
        if (error)
            *error = QStringLiteral("no public key (%1)").arg(openSslError());
        return std::nullopt;
    }
    return raw;
}

bool verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey)
{
    if (publicKey.size() != 32 || signature.size() != 64)
        return false;
    const Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
        reinterpret_cast<const unsigned char*>(publicKey.constData()), size_t(publicKey.size())));
    const Context context(EVP_MD_CTX_new());
    const bool valid = key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
               size_t(signature.size()), reinterpret_cast<const unsigned char*>(message.constData()),
               size_t(message.size()))
            == 1;
    ERR_clear_error();
    return valid;
}

} // namespace sonaric::CodeSignature
