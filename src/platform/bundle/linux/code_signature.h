#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sonaric::CodeSignature
{

/// Ed25519 signatures over a folder's manifest, through OpenSSL's EVP interface.

/// The signature of `message` by the Ed25519 private key in the PEM file `privateKeyFile` (as
/// `openssl genpkey -algorithm ed25519` writes it); none, with `error` set, when the key cannot be used.
std::optional<QByteArray> sign(const QByteArray& message, const QString& privateKeyFile, QString* error = nullptr);

/// The raw 32-byte public key that belongs to the private key in `privateKeyFile`.
std::optional<QByteArray> publicKey(const QString& privateKeyFile, QString* error = nullptr);

/// Whether `signature` is `message` signed by the private key of the raw 32-byte Ed25519 `publicKey`.
bool verify(const QByteArray& message, const QByteArray& signature, const QByteArray& publicKey);

} // namespace sonaric::CodeSignature
