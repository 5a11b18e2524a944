#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct evp_md_ctx_st;

namespace sonaric
{

/// A SHA-256 fed piece by piece (OpenSSL's EVP interface underneath).
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, size_t length);
    /// The digest in lower-case hexadecimal; none when OpenSSL failed. Ends the hash.
    std::optional<QByteArray> hex();

    /// The digest of a file's content, read in 1 MiB chunks so memory stays flat whatever its size; none when
    /// it cannot be read. `bytes` receives the number of bytes hashed.
    static std::optional<QByteArray> ofFile(const QString& path, qint64* bytes = nullptr);

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
    bool m_ok = false;
};

} // namespace sonaric
