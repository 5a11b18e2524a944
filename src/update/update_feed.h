#pragma once

#include <QString>
#include <QUrl>

namespace sonaric
{

/// Where updates come from and who must have signed them: build settings, never user settings.
struct UpdateFeed {
    QUrl url; ///< the feed document; empty: this build never checks
    QString publisherKey; ///< the publisher's Ed25519 public key, 64 hexadecimal digits

    bool enabled() const { return !url.isEmpty(); }

    /// The feed of `host` (a name or address, optionally with ":port"): "https://<host>/downloads/latest.json".
    static UpdateFeed forHost(const QString& host, const QString& publisherKey);
    /// This build's feed: the host and key set with SONARIC_UPDATE_HOST and SONARIC_UPDATE_PUBLIC_KEY; not
    /// enabled when the build has no host.
    static UpdateFeed fromBuild();

    bool operator==(const UpdateFeed&) const = default;
};

} // namespace sonaric
