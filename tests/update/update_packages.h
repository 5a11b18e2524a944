#pragma once

// Update packages for the tests, made by tools/package with throwaway keys, and the ways to spoil them.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace sonaric::test
{

struct Package {
    QString folder; ///< the signed Sonaric.app
    QString image; ///< the squashfs image holding it
    QJsonObject feed; ///< the feed document tools/package wrote
};

class Packager
{
public:
    Packager();
    bool ok() const { return m_ok; }
    QString publicKey() const { return m_publicKey; }
    QString key() const { return m_dir.filePath("publisher.pem"); }
    QString otherKey() const { return m_dir.filePath("other.pem"); }

    /// Runs tools/package into a folder called `name`; `arguments` add to or override the defaults (the
    /// publisher's key, `baseURL`).
    Package make(const QString& name, const QString& baseURL, const QStringList& arguments = {});

    /// Packs `folder` into a fresh image at `image`, the folder itself at the image's top.
    static bool squash(const QString& folder, const QString& image);
    /// Signs `folder` again with `key`.
    static bool sign(const QString& folder, const QString& key);
    /// The feed document for `image` as published at `url`, with its true size and digest.
    static QJsonObject feedFor(const QString& image, qint64 build, const QString& url);
    static QByteArray json(const QJsonObject& feed);

private:
    QTemporaryDir m_dir;
    QString m_publicKey;
    bool m_ok = false;
};

/// Every entry below `root` with its type, mode and content, to compare a tree before and after.
QByteArray treeSnapshot(const QString& root);

} // namespace sonaric::test
