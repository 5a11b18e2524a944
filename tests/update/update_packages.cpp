#include "update_packages.h"

#include "platform/bundle/file_digest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>

namespace sonaric::test
{

namespace
{

const QString kSign = QStringLiteral(SONARIC_BUILD_DIR "/src/platform/bundle/sonaric-sign");

QByteArray run(const QString& program, const QStringList& arguments, bool* ok)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    *ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return process.readAllStandardOutput();
}

} // namespace

Packager::Packager()
{
    bool made = false;
    run("openssl", { "genpkey", "-algorithm", "ed25519", "-out", key() }, &made);
    bool other = false;
    run("openssl", { "genpkey", "-algorithm", "ed25519", "-out", otherKey() }, &other);
    bool shown = false;
    m_publicKey = QString::fromLatin1(run(kSign, { "public-key", key() }, &shown).trimmed());
    m_ok = made && other && shown && m_publicKey.size() == 64;
}

Package Packager::make(const QString& name, const QString& baseURL, const QStringList& arguments)
{
    const QString out = m_dir.filePath(name);
    QStringList all { "--build-dir", SONARIC_BUILD_DIR, "--out", out, "--key", key(), "--base-url", baseURL };
    all += arguments;
    bool ok = false;
    run(SONARIC_SOURCE_DIR "/tools/package", all, &ok);
    if (!ok)
        return {};
    QFile feed(out + "/latest.json");
    feed.open(QIODevice::ReadOnly);
    const QJsonObject document = QJsonDocument::fromJson(feed.readAll()).object();
    const QString image = out + '/' + QUrl(document.value("url").toString()).fileName();
    return { out + "/Sonaric.app", image, document };
}

bool Packager::squash(const QString& folder, const QString& image)
{
    QFile::remove(image);
    bool ok = false;
    run("mksquashfs", { folder, image, "-keep-as-directory", "-all-root", "-no-xattrs", "-noappend", "-quiet" }, &ok);
    return ok;
}

bool Packager::sign(const QString& folder, const QString& key)
{
    bool ok = false;
    run(kSign, { "sign", key, folder }, &ok);
    return ok;
}

QJsonObject Packager::feedFor(const QString& image, qint64 build, const QString& url)
{
    qint64 size = 0;
    const QByteArray digest = Sha256::ofFile(image, &size).value_or(QByteArray());
    return { { "version", QStringLiteral("9.%1").arg(build) }, { "build", build }, { "url", url },
        { "sha256", QString::fromLatin1(digest) }, { "size", size } };
}

QByteArray Packager::json(const QJsonObject& feed)
{
    return QJsonDocument(feed).toJson(QJsonDocument::Compact);
}

QByteArray treeSnapshot(const QString& root)
{
    QStringList lines;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QString line = QDir(root).relativeFilePath(path) + QStringLiteral(" %1 ").arg(int(info.permissions()), 0, 16);
        if (info.isSymLink())
            line += "link " + info.symLinkTarget();
        else if (info.isFile())
            line += QString::fromLatin1(Sha256::ofFile(path).value_or("unreadable"));
        else
            line += "folder";
        lines.append(line);
    }
    lines.sort();
    return lines.join('\n').toUtf8();
}

} // namespace sonaric::test
