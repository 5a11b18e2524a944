#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sonaric::BundleManifest
{

/// Where a folder's signature lives, relative to the folder. The manifest leaves this folder out; the check
/// insists that it holds the signature file and nothing else.
inline constexpr char signatureFolder[] = "_CodeSignature";
inline constexpr char signatureFile[] = "signature";

/// The text an application folder's signature covers: a header line, then one line per entry below the
/// folder (the signature folder left out), sorted by path byte by byte:
///
///     sonaric-bundle-manifest 1
///     d 0755 bin
///     f 0755 <sha-256 of the content> bin/sonaric
///     l <sha-256 of the link's target text> share/icon.svg
///
/// Modes are the permission bits in octal; owners and times are not covered (unpacking as another user
/// changes them). None, with `error` set, when the folder holds anything else (a device, a socket, a pipe),
/// a name with a line break, or something that cannot be read. Files are hashed in chunks, so memory stays
/// flat whatever their size.
std::optional<QByteArray> of(const QString& folder, QString* error = nullptr);

} // namespace sonaric::BundleManifest
