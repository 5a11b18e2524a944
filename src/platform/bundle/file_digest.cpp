#include "platform/bundle/file_digest.h"

#include <QFile>

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace sonaric
{

void Sha256::Free::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new())
{
    if (m_context)
        m_ok = EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::add(const char* data, size_t length)
{
    if (m_ok)
        m_ok = EVP_DigestUpdate(m_context.get(), data, length) == 1;
}

std::optional<QByteArray> Sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = m_ok && EVP_DigestFinal_ex(m_context.get(), digest, &length) == 1;
    m_ok = false;
    if (!ok)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

std::optional<QByteArray> Sha256::ofFile(const QString& path, qint64* bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    Sha256 hash;
    qint64 total = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return std::nullopt;
        }
        if (got == 0)
            break;
        hash.add(buffer.data(), size_t(got));
        total += got;
    }
    ::close(fd);
    if (bytes)
        *bytes = total;
    return hash.hex();
}

} // namespace sonaric
