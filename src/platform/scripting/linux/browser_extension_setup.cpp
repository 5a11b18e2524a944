#include "platform/scripting/linux/browser_extension_setup.h"

#include "platform/scripting/linux/native_messaging.h"
#include "platform/workspace/linux_application_ids.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace sonaric
{

namespace
{

QByteArray readAll(const QString& path, qint64 limit = 1 << 20)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(limit);
}

/// Writes `content` to `path` unless it holds exactly that already.
bool writeIfDifferent(const QString& path, const QByteArray& content, QString* error)
{
    if (QFileInfo(path).isFile() && readAll(path, content.size() + 1) == content)
        return true;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

/// The --user-data-dir of a browser that rewrote its process title: Chromium's browser process may replace its
/// arguments with one line of them joined by spaces (it does in its new headless mode), so the value ends at the
/// next switch or, since a folder's name may hold spaces too, at the longest run of words that is a folder.
QByteArray retitledUserDataDir(const QByteArray& commandLine)
{
    const QByteArray title = commandLine.endsWith('\0') ? commandLine.chopped(1) : commandLine;
    if (title.contains('\0'))
        return {}; // the arguments as started, each on its own
    const qsizetype start = title.indexOf(" --user-data-dir=");
    if (start < 0)
        return {};
    QByteArray value = title.mid(start + 17);
    if (const qsizetype next = value.indexOf(" --"); next >= 0)
        value.truncate(next);
    for (QByteArray words = value; !words.isEmpty();) {
        if (QFileInfo(QString::fromLocal8Bit(words)).isDir())
            return words;
        const qsizetype space = words.lastIndexOf(' ');
        if (space < 0)
            break;
        words.truncate(space);
    }
    const qsizetype space = value.indexOf(' ');
    return space < 0 ? value : value.left(space);
}

QString configHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    return configured.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : configured;
}

} // namespace

QString BrowserExtensionSetup::extensionID()
{
    return QStringLiteral("nffjohpklfnkhekejnajopkdkkfeehfm");
}

QString BrowserExtensionSetup::extensionOrigin()
{
    return QStringLiteral("chrome-extension://") + extensionID() + u'/';
}

QString BrowserExtensionSetup::defaultExtensionFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/sonaric/browser-extension");
}

bool BrowserExtensionSetup::writeExtension(const QString& folder, QString* error)
{
    const QDir root(QStringLiteral(":/extension"));
    if (!root.exists()) {
        if (error)
            *error = QStringLiteral("the browser extension is not built into this program");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    QDirIterator it(root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString resource = it.next();
        const QString target = QDir(folder).filePath(root.relativeFilePath(resource));
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !writeIfDifferent(target, readAll(resource), error))
            return false;
    }
    return true;
}

QString BrowserExtensionSetup::findHost()
{
    const QString beside = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    for (const QString& candidate : {
             QFileInfo(beside).absolutePath() + QStringLiteral("/sonaric-browser-host"),
             QFileInfo(beside).absolutePath() + QStringLiteral("/../libexec/sonaric/sonaric-browser-host"),
#ifdef SONARIC_BROWSER_HOST_BUILD_PATH
             QStringLiteral(SONARIC_BROWSER_HOST_BUILD_PATH),
#endif
         }) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

QByteArray BrowserExtensionSetup::hostManifest(const QString& hostPath)
{
    const QJsonObject manifest {
        { QStringLiteral("name"), QString::fromLatin1(NativeMessaging::hostName) },
        { QStringLiteral("description"), QStringLiteral("Sonaric: a volume for every playing tab") },
        { QStringLiteral("path"), hostPath },
        { QStringLiteral("type"), QStringLiteral("stdio") },
        { QStringLiteral("allowed_origins"), QJsonArray { extensionOrigin() } },
    };
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

bool BrowserExtensionSetup::installHostManifest(const QString& profile, const QString& hostPath, QString* error)
{
    const QString folder = QDir(profile).filePath(QStringLiteral("NativeMessagingHosts"));
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    return writeIfDifferent(
        QDir(folder).filePath(QString::fromLatin1(NativeMessaging::hostName) + ".json"), hostManifest(hostPath), error);
}

QString BrowserExtensionSetup::profileFolder(
    pid_t browser, const LinuxApplication& application, const QString& desktopID)
{
    const QByteArray commandLine = readAll(QStringLiteral("/proc/%1/cmdline").arg(browser));
    const QList<QByteArray> arguments = commandLine.split('\0');
    QByteArray value = retitledUserDataDir(commandLine);
    for (qsizetype i = 1; i < arguments.size() && value.isEmpty(); ++i) {
        const QByteArray& argument = arguments[i];
        if (argument.startsWith("--user-data-dir="))
            value = argument.mid(16);
        else if (argument == "--user-data-dir" && i + 1 < arguments.size())
            value = arguments[i + 1];
    }
    if (!value.isEmpty()) {
        const QString folder = QString::fromLocal8Bit(value);
        if (QDir::isAbsolutePath(folder))
            return QDir::cleanPath(folder);
        // A relative folder is the browser's own working directory's.
        const QString cwd = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(browser)).symLinkTarget();
        return cwd.isEmpty() ? QString() : QDir(cwd).filePath(folder);
    }
    QString folder;
    for (const LinuxBrowserFlavour& flavour : application.browserFlavours) {
        if (folder.isEmpty() || flavour.desktopID == desktopID)
            folder = flavour.configFolder;
        if (flavour.desktopID == desktopID)
            break;
    }
    return folder.isEmpty() ? QString() : QDir(configHome()).filePath(folder);
}

BrowserExtensionSetup::Sandbox BrowserExtensionSetup::sandboxOf(
    pid_t browser, const LinuxApplication& application, const QString& desktopID)
{
    if (application.flatpakIDs.contains(desktopID))
        return Sandbox::flatpak;
    if (application.snapDesktopIDs.contains(desktopID))
        return Sandbox::snap;
    // Flatpak puts its info file at the root of every sandbox; Snap runs programs from below /snap.
    if (QFileInfo::exists(QStringLiteral("/proc/%1/root/.flatpak-info").arg(browser)))
        return Sandbox::flatpak;
    const QString executable = QFileInfo(QStringLiteral("/proc/%1/exe").arg(browser)).symLinkTarget();
    if (executable.startsWith(QStringLiteral("/snap/")))
        return Sandbox::snap;
    return Sandbox::none;
}

QString BrowserExtensionSetup::notAnsweringMessage(const LinuxApplication& application)
{
    return QStringLiteral("Sonaric's extension in %1 isn't answering.").arg(application.name);
}

QString BrowserExtensionSetup::timedOutMessage(const LinuxApplication& application)
{
    return QStringLiteral("Sonaric's extension in %1 did not answer in time.").arg(application.name);
}

QStringList BrowserExtensionSetup::addExtensionSteps(
    const LinuxApplication& application, const QString& extensionFolder)
{
    return {
        QStringLiteral("In %1, open %2.").arg(application.name, application.extensionsPage),
        QStringLiteral("Turn on Developer mode."),
        QStringLiteral("Click Load unpacked and choose the folder %1.").arg(extensionFolder),
        QStringLiteral("If Sonaric is already listed there, click its reload button instead."),
    };
}

QString BrowserExtensionSetup::sandboxMessage(const LinuxApplication& application, Sandbox sandbox)
{
    return QStringLiteral("%1 from %2 can't start Sonaric's browser helper.")
        .arg(application.name, sandbox == Sandbox::snap ? QStringLiteral("Snap") : QStringLiteral("Flatpak"));
}

QStringList BrowserExtensionSetup::sandboxSteps(const LinuxApplication& application, Sandbox sandbox)
{
    const QString kind = sandbox == Sandbox::snap ? QStringLiteral("Snap") : QStringLiteral("Flatpak");
    return {
        QStringLiteral("Install %1 from your distribution's packages or from its maker's website: %2 keeps the "
                       "browser in a sandbox that does not let it start other programs.")
            .arg(application.name, kind),
        QStringLiteral("Open that %1; Sonaric then shows how to add its extension.").arg(application.name),
    };
}

QString BrowserExtensionSetup::outdatedMessage(const LinuxApplication& application)
{
    return QStringLiteral("%1 runs an older copy of Sonaric's extension.").arg(application.name);
}

QStringList BrowserExtensionSetup::reloadExtensionSteps(const LinuxApplication& application)
{
    return {
        QStringLiteral("In %1, open %2.").arg(application.name, application.extensionsPage),
        QStringLiteral("Click the reload button on Sonaric's card."),
    };
}

QString BrowserExtensionSetup::noAccessMessage(const LinuxApplication& application)
{
    return QStringLiteral("%1 doesn't let Sonaric's extension into this tab's site.").arg(application.name);
}

QStringList BrowserExtensionSetup::siteAccessSteps(const LinuxApplication& application)
{
    return {
        QStringLiteral("In %1, open %2 and click Details on Sonaric's card.")
            .arg(application.name, application.extensionsPage),
        QStringLiteral("Under Site access, choose On all sites."),
    };
}

} // namespace sonaric
