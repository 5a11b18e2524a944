#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QUrl>

#include <optional>

namespace sonaric
{

/// One update the feed advertises.
struct UpdateInfo {
    Q_GADGET
    Q_PROPERTY(QString version MEMBER version)
    Q_PROPERTY(qint64 build MEMBER build)
    Q_PROPERTY(QUrl url MEMBER url)
    Q_PROPERTY(QString sha256 MEMBER sha256)
    Q_PROPERTY(qint64 size MEMBER size)

public:
    QString version; ///< the version shown to the user
    qint64 build = 0; ///< compared with the running build
    QUrl url; ///< where the image is downloaded from
    QString sha256; ///< the image's SHA-256, 64 hexadecimal digits in either case
    qint64 size = 0; ///< the image's exact size in bytes

    /// Decodes the feed document: a JSON object with all five keys ("version", "build", "url", "sha256",
    /// "size"); other keys are ignored. None when a key is missing or holds the wrong type ("build" and
    /// "size" are whole numbers, "url" a string that reads as a URL).
    static std::optional<UpdateInfo> decode(const QByteArray& json);

    bool operator==(const UpdateInfo&) const = default;
};

} // namespace sonaric
