// What connecting a browser puts on disk (the unpacked extension, the host manifest in the right profile), how a
// running browser's profile and sandbox are told, and the table of Linux application ids as the workspace and
// the connectors use it.

#include "native/native_volume_source.h"
#include "platform/scripting/linux/browser_extension_setup.h"
#include "platform/workspace/linux/linux_workspace.h"
#include "platform/workspace/linux_application_ids.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace sonaric;

namespace
{

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(BrowserExtensionSetup, TheExtensionIsUnpackedAndOnlyChangedFilesAreRewritten)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("share/sonaric/browser-extension");
    QString error;
    ASSERT_TRUE(BrowserExtensionSetup::writeExtension(folder, &error)) << error.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
        (QStringList { "background.js", "manifest.json", "page_media_script.js" }));
    const QJsonObject manifest = QJsonDocument::fromJson(read(folder + "/manifest.json")).object();
    EXPECT_EQ(manifest["manifest_version"].toInt(), 3);
    EXPECT_EQ(manifest["background"].toObject()["service_worker"].toString(), "background.js");
    // The id browsers give the extension comes from its key; the host manifest allows that id alone.
    const QByteArray key = QByteArray::fromBase64(manifest["key"].toString().toLatin1());
    QString id;
    for (const char hex : QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32))
        id += QChar(u'a' + QByteArray(1, hex).toInt(nullptr, 16));
    EXPECT_EQ(id, BrowserExtensionSetup::extensionID());

    const QDateTime longAgo(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    QFile unchanged(folder + "/manifest.json");
    ASSERT_TRUE(unchanged.open(QIODevice::ReadWrite));
    ASSERT_TRUE(unchanged.setFileTime(longAgo, QFileDevice::FileModificationTime));
    unchanged.close();
    QFile stale(folder + "/page_media_script.js");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("old");
    stale.close();
    ASSERT_TRUE(BrowserExtensionSetup::writeExtension(folder, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(folder + "/manifest.json").lastModified(), longAgo);
    EXPECT_TRUE(read(folder + "/page_media_script.js").contains("export function pageMediaScript(pageWorld, want)"));
}

TEST(BrowserExtensionSetup, TheHostManifestAllowsOnlySonaricsExtension)
{
    QTemporaryDir profile;
    QString error;
    ASSERT_TRUE(
        BrowserExtensionSetup::installHostManifest(profile.path(), "/opt/sonaric/sonaric-browser-host", &error));
    const QJsonObject manifest
        = QJsonDocument::fromJson(read(profile.filePath("NativeMessagingHosts/org.sonaric.browser_bridge.json")))
              .object();
    EXPECT_EQ(manifest["name"].toString(), "org.sonaric.browser_bridge");
    EXPECT_EQ(manifest["path"].toString(), "/opt/sonaric/sonaric-browser-host");
    EXPECT_EQ(manifest["type"].toString(), "stdio");
    EXPECT_EQ(manifest["allowed_origins"].toArray(),
        (QJsonArray { "chrome-extension://" + BrowserExtensionSetup::extensionID() + "/" }));
    // A profile folder that cannot be written into gives the reason.
    EXPECT_FALSE(BrowserExtensionSetup::installHostManifest("/proc/no-such-profile", "/x", &error));
    EXPECT_TRUE(error.contains("/proc/no-such-profile")) << error.toStdString();
}

TEST(BrowserExtensionSetup, ProfileFolderOfARunningBrowser)
{
    const LinuxApplication& chrome = *LinuxApplicationIds::builtIn().forBundleID("com.google.Chrome");
    const LinuxApplication& brave = *LinuxApplicationIds::builtIn().forBundleID("com.brave.Browser");
    qputenv("XDG_CONFIG_HOME", "/home/someone/.config");
    QProcess plain;
    plain.start("sleep", { "30" });
    ASSERT_TRUE(plain.waitForStarted());
    EXPECT_EQ(BrowserExtensionSetup::profileFolder(pid_t(plain.processId()), chrome, "google-chrome-beta"),
        "/home/someone/.config/google-chrome-beta");
    EXPECT_EQ(BrowserExtensionSetup::profileFolder(pid_t(plain.processId()), chrome, "com.google.Chrome"),
        "/home/someone/.config/google-chrome");
    EXPECT_EQ(BrowserExtensionSetup::profileFolder(pid_t(plain.processId()), brave, "brave-browser"),
        "/home/someone/.config/BraveSoftware/Brave-Browser");
    plain.kill();
    plain.waitForFinished();

    for (const QStringList& arguments :
        { QStringList { "--user-data-dir=/tmp/profile one" }, QStringList { "--user-data-dir", "/tmp/profile one" } }) {
        QProcess browser;
        browser.start("sh", QStringList { "-c", "sleep 30; true", "sh" } + arguments);
        ASSERT_TRUE(browser.waitForStarted());
        // Started means forked: the arguments show once the shell itself runs.
        const QString cmdline = QStringLiteral("/proc/%1/cmdline").arg(browser.processId());
        for (int i = 0; i < 200 && !read(cmdline).contains("--user-data-dir"); ++i)
            QThread::msleep(10);
        EXPECT_EQ(BrowserExtensionSetup::profileFolder(pid_t(browser.processId()), chrome, "google-chrome"),
            "/tmp/profile one");
        browser.kill();
        browser.waitForFinished();
    }

    // A browser that rewrote its title: one line, its arguments joined by spaces (Chromium's browser process in
    // its new headless mode). The folder's own spaces stay; the next switch or a page address does not.
    QTemporaryDir profiles;
    const QString spaced = profiles.filePath("profile two");
    ASSERT_TRUE(QDir().mkpath(spaced));
    const struct {
        QString title;
        QString folder;
    } retitled[] = {
        { "chromium --headless=new --user-data-dir=" + spaced + " --load-extension=/x http://127.0.0.1:1/a b", spaced },
        { "chromium --user-data-dir=" + spaced + " http://127.0.0.1:1/", spaced },
        { "chromium --user-data-dir=/tmp/gone one --no-sandbox", "/tmp/gone" },
        { "chromium --no-sandbox --data=--user-data-dir=/nowhere", "/home/someone/.config/google-chrome" },
    };
    for (const auto& [title, folder] : retitled) {
        QProcess browser;
        // exec -a names the program with the whole line and gives it no other: /proc shows one argument.
        browser.start("bash", { "-c", "exec -a \"$0\" cat", title }); // cat waits on its open input
        ASSERT_TRUE(browser.waitForStarted());
        const QString cmdline = QStringLiteral("/proc/%1/cmdline").arg(browser.processId());
        for (int i = 0; i < 200 && !read(cmdline).startsWith("chromium "); ++i)
            QThread::msleep(10);
        EXPECT_EQ(BrowserExtensionSetup::profileFolder(pid_t(browser.processId()), chrome, "google-chrome"), folder)
            << title.toStdString();
        browser.kill();
        browser.waitForFinished();
    }
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(BrowserExtensionSetup, FlatpakAndSnapBrowsersAreTold)
{
    const LinuxApplicationIds& ids = LinuxApplicationIds::builtIn();
    const auto sandbox = [&](const char* bundle, const char* desktopID) {
        return BrowserExtensionSetup::sandboxOf(getpid(), *ids.forBundleID(bundle), desktopID);
    };
    using Sandbox = BrowserExtensionSetup::Sandbox;
    EXPECT_EQ(sandbox("org.chromium.Chromium", "org.chromium.Chromium"), Sandbox::flatpak);
    EXPECT_EQ(sandbox("com.microsoft.edgemac", "com.microsoft.Edge"), Sandbox::flatpak);
    EXPECT_EQ(sandbox("org.chromium.Chromium", "chromium_chromium"), Sandbox::snap);
    EXPECT_EQ(sandbox("org.chromium.Chromium", "chromium"), Sandbox::none);
    EXPECT_EQ(sandbox("com.google.Chrome", "google-chrome"), Sandbox::none);

    const LinuxApplication& chromium = *ids.forBundleID("org.chromium.Chromium");
    EXPECT_EQ(BrowserExtensionSetup::sandboxMessage(chromium, Sandbox::snap),
        "Chromium from Snap can't start Sonaric's browser helper.");
    EXPECT_TRUE(BrowserExtensionSetup::sandboxSteps(chromium, Sandbox::flatpak)
                    .first()
                    .startsWith("Install Chromium from your distribution's packages"));
}

TEST(LinuxApplicationIds, EveryConnectorApplicationOfTheTableIsASource)
{
    for (const LinuxApplication& application : LinuxApplicationIds::builtIn().applications()) {
        const auto source = NativeVolumeSource::connector(application.bundleID);
        ASSERT_TRUE(source) << application.bundleID.toStdString();
        EXPECT_EQ(source->isBrowser(), application.isBrowser()) << application.bundleID.toStdString();
        for (const QString& id : application.allDesktopIDs())
            EXPECT_EQ(NativeVolumeSource::connector(id), source) << id.toStdString();
    }
    // Music and TV have no Linux build.
    EXPECT_FALSE(LinuxApplicationIds::builtIn().forBundleID("com.apple.Music"));
}

TEST(LinuxApplicationIds, TheWorkspaceFindsAConnectorsApplicationByItsBundleIdentifier)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("applications"));
    for (const char* name : { "chromium.desktop", "com.spotify.Client.desktop" }) {
        QFile entry(dir.filePath(QStringLiteral("applications/") + name));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Something\nIcon=some-icon\nExec=something\n");
    }
    const LinuxWorkspace workspace(DesktopEntries::load({ dir.filePath("applications") }, {}));
    EXPECT_EQ(workspace.urlForApplication("org.chromium.Chromium"), dir.filePath("applications/chromium.desktop"));
    EXPECT_EQ(
        workspace.urlForApplication("com.spotify.client"), dir.filePath("applications/com.spotify.Client.desktop"));
    EXPECT_EQ(workspace.iconForApplication("org.chromium.Chromium"), "some-icon");
    EXPECT_EQ(workspace.urlForApplication("chromium"), dir.filePath("applications/chromium.desktop"));
    EXPECT_EQ(workspace.urlForApplication("com.google.Chrome"), QString());
    EXPECT_TRUE(NativeVolumeSource(NativeVolumeSource::chromium).isInstalled(workspace));
    EXPECT_FALSE(NativeVolumeSource(NativeVolumeSource::brave).isInstalled(workspace));
}

} // namespace
