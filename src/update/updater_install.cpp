// The installation's blocking half: it runs on the updater's verification thread and touches no updater
// state; everything it needs comes in as arguments.

#include "update/update_error.h"
#include "update/updater.h"

#include "platform/bundle/file_digest.h"
#include "platform/bundle/file_tree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace sonaric
{

namespace
{

/// Runs its action when the scope ends, however it ends. Scopes end in reverse order, so the actions run
/// in reverse order of their setting up.
template <typename Action> class Deferred
{
public:
    explicit Deferred(Action action)
        : m_action(std::move(action))
    {
    }
    ~Deferred() { m_action(); }
    Deferred(const Deferred&) = delete;
    Deferred& operator=(const Deferred&) = delete;

private:
    Action m_action;
};

[[noreturn]] void systemError(const QString& what, int error)
{
    throw UpdateError { QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error))) };
}

/// Size and digest, in one pass over the file. A file of the wrong size is not hashed at all.
void verifyDownload(const QString& dmg, const UpdateInfo& update)
{
    struct stat st;
    if (::stat(QFile::encodeName(dmg).constData(), &st) != 0)
        systemError(QStringLiteral("Couldn't read the download"), errno);
    if (st.st_size != update.size)
        throw UpdateError { QLatin1String(UpdateError::damaged) };
    qint64 bytes = 0;
    const std::optional<QByteArray> digest = Sha256::ofFile(dmg, &bytes);
    if (!digest)
        systemError(QStringLiteral("Couldn't read the download"), errno ? errno : EIO);
    if (bytes != update.size || QString::fromLatin1(*digest) != update.sha256.toLower())
        throw UpdateError { QLatin1String(UpdateError::damaged) };
}

/// A fresh folder beside `app`, on the same file system, so that the swap is one rename.
QString itemReplacementDirectory(const QString& app)
{
    const QFileInfo info(app);
    QByteArray pattern
        = QFile::encodeName(info.absolutePath() + QStringLiteral("/.%1.update-XXXXXX").arg(info.fileName()));
    if (!::mkdtemp(pattern.data()))
        systemError(QStringLiteral("Couldn't make a folder for the update in %1").arg(info.absolutePath()), errno);
    return QFile::decodeName(pattern);
}

/// A tool that cannot be started passes its launch error on; one that exits with another status than 0
/// means the download cannot be opened.
void throwIfFailed(const ToolStatus& status)
{
    if (!status.launched())
        throw UpdateError { status.launchError };
    if (status.exitStatus != 0)
        throw UpdateError { QLatin1String(UpdateError::cannotOpen) };
}

} // namespace

bool Updater::canReplace(const QString& app)
{
    const QFileInfo info(app);
    if (!info.fileName().endsWith(QLatin1String(".app")))
        return false;
    return ::access(QFile::encodeName(info.absoluteFilePath()).constData(), W_OK) == 0
        && ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) == 0;
}

void Updater::install(BundleServices& bundles, const QString& dmg, const UpdateInfo& update, const QString& app,
    const QString& bundleID, const QString& publisherKey)
{
    const Deferred removeDownload([&] { QFile::remove(dmg); });
    verifyDownload(dmg, update);

    const QString temporary = itemReplacementDirectory(app);
    const Deferred removeTemporary([&] { FileTree::remove(temporary); });
    const QString mount = temporary + QStringLiteral("/mount");
    if (::mkdir(QFile::encodeName(mount).constData(), 0700) != 0)
        systemError(QStringLiteral("Couldn't make %1").arg(mount), errno);

    throwIfFailed(bundles.attach(dmg, mount));
    // A failing detach never changes the outcome: the temporary folder goes with everything in it.
    const Deferred detach([&] { bundles.detach(mount); });

    const QString copy = temporary + u'/' + QFileInfo(app).fileName();
    if (!FileTree::copy(mount + QStringLiteral("/Sonaric.app"), copy))
        throw UpdateError { QLatin1String(UpdateError::noSonaric) };

    const std::optional<BundleInfo> bundle = bundles.bundle(copy);
    const QJsonValue version = bundle ? bundle->info.value("CFBundleVersion") : QJsonValue();
    const std::optional<qint64> build = version.isString() ? parseBuildNumber(version.toString()) : std::nullopt;
    if (!bundle || bundle->identifier().isNull() || bundle->identifier() != bundleID || build != update.build)
        throw UpdateError { QLatin1String(UpdateError::wrongVersion) };

    if (!bundles.checkValidity(copy, requirement(bundleID, publisherKey)))
        throw UpdateError { QLatin1String(UpdateError::notSigned) };

    // The old folder ends up where the copy was and goes with the temporary folder.
    QString error;
    if (!FileTree::exchange(app, copy, &error))
        throw UpdateError { error };
}

QString Updater::requirement(const QString& bundleID, const QString& publisherKey)
{
    return QStringLiteral("identifier \"") + bundleID + QStringLiteral("\" and publisher key \"") + publisherKey + u'"';
}

} // namespace sonaric
