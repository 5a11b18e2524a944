#include "platform/bundle/linux/linux_bundle_services.h"

#include "platform/bundle/file_tree.h"
#include "platform/bundle/linux/bundle_manifest.h"
#include "platform/bundle/linux/code_signature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

namespace sonaric
{

namespace
{

struct Requirement {
    QString identifier;
    QByteArray publicKey; // raw, 32 bytes
};

std::optional<Requirement> parseRequirement(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral(R"re(^identifier "([^"\\]+)" and publisher key "([0-9A-Fa-f]{64})"$)re"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return Requirement { match.captured(1), QByteArray::fromHex(match.captured(2).toLatin1()) };
}

bool isRealFolder(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRealFile(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool fail(QString* reason, const QString& why)
{
    if (reason)
        *reason = why;
    return false;
}

} // namespace

LinuxBundleServices::LinuxBundleServices(QString mainBundlePath)
    : m_mainBundlePath(std::move(mainBundlePath))
{
}

BundleInfo LinuxBundleServices::mainBundle() const
{
    const QString path = m_mainBundlePath.isEmpty() ? QCoreApplication::applicationDirPath() : m_mainBundlePath;
    if (QFileInfo::exists(QDir(path).filePath(QLatin1String(BundleInfo::infoFileName))))
        return BundleInfo::read(path).value_or(BundleInfo { QDir(path).absolutePath(), {} });
    return BundleInfo::builtIn(path);
}

std::optional<BundleInfo> LinuxBundleServices::bundle(const QString& path) const
{
    if (!isRealFolder(path))
        return std::nullopt;
    return BundleInfo::read(path);
}

ToolStatus LinuxBundleServices::attach(const QString& image, const QString& mountPoint)
{
    // Extended attributes are never part of our images. unsquashfs queues up to 512 MB of blocks by default;
    // 8 MB queues unpack as fast here and keep its memory flat whatever the image's size.
    return runTool(QLatin1String(unsquashfs),
        { QStringLiteral("-no-xattrs"), QStringLiteral("-quiet"), QStringLiteral("-no-progress"),
            QStringLiteral("-data-queue"), QStringLiteral("8"), QStringLiteral("-frag-queue"), QStringLiteral("8"),
            QStringLiteral("-dest"), mountPoint, image });
}

bool LinuxBundleServices::detach(const QString& mountPoint)
{
    return FileTree::remove(mountPoint);
}

bool LinuxBundleServices::checkValidity(const QString& path, const QString& requirement, QString* reason) const
{
    const std::optional<Requirement> wanted = parseRequirement(requirement);
    if (!wanted)
        return fail(reason, QStringLiteral("the requirement cannot be read"));
    const std::optional<BundleInfo> info = bundle(path);
    if (!info)
        return fail(reason, QStringLiteral("%1 is not a bundle").arg(path));
    if (info->identifier() != wanted->identifier)
        return fail(reason,
            QStringLiteral("the bundle identifier is \"%1\", not \"%2\"").arg(info->identifier(), wanted->identifier));

    const QDir folder(path);
    const QString signatureFolder = folder.filePath(QLatin1String(BundleManifest::signatureFolder));
    const QString signatureFile = signatureFolder + u'/' + QLatin1String(BundleManifest::signatureFile);
    if (!isRealFolder(signatureFolder) || !isRealFile(signatureFile))
        return fail(reason, QStringLiteral("the bundle is not signed"));
    // The manifest leaves the signature folder out, so nothing else may hide in it.
    const QStringList inSignatureFolder
        = QDir(signatureFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (inSignatureFolder != QStringList { QLatin1String(BundleManifest::signatureFile) })
        return fail(reason, QStringLiteral("the signature folder holds other files"));
    QFile file(signatureFile);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024)
        return fail(reason, QStringLiteral("the signature cannot be read"));
    const auto decoded
        = QByteArray::fromBase64Encoding(file.readAll().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return fail(reason, QStringLiteral("the signature cannot be read"));

    QString why;
    const std::optional<QByteArray> manifest = BundleManifest::of(path, &why);
    if (!manifest)
        return fail(reason, why);
    if (!CodeSignature::verify(*manifest, *decoded, wanted->publicKey))
        return fail(reason, QStringLiteral("the signature does not match the bundle and the publisher key"));
    return true;
}

} // namespace sonaric
