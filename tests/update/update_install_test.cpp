// Installing updates end to end: packages made by tools/package with throwaway keys, served over HTTPS on
// loopback, verified and swapped in by the real Linux bundle services, and every refusal on the way.

#include "https_server.h"
#include "support/event_loop.h"
#include "update_packages.h"

#include "platform/bundle/file_digest.h"
#include "platform/bundle/file_tree.h"
#include "platform/bundle/linux/linux_bundle_services.h"
#include "platform/bundle/sim/simulated_bundle_services.h"
#include "platform/workspace/sim/simulated_workspace.h"
#include "update/update_error.h"
#include "update/updater.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

const QString kFeedPath = QStringLiteral("/downloads/latest.json");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class UpdateInstallTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        authority = new TestAuthority;
        authority->trustOnlyThis();
        server = new HttpsServer(*authority);
        packager = new Packager;
        const QString base = server->url("/downloads");
        const QStringList probe { "--add", SONARIC_PROBE, "--executable", "sonaric-update-probe" };
        installed = packager->make("installed", base, probe + QStringList { "--build-number", "41" });
        next = packager->make("next", base, probe + QStringList { "--build-number", "42", "--version", "4.2" });
        otherIdentifier = packager->make("other-identifier", base,
            probe + QStringList { "--build-number", "42", "--identifier", "org.example.Other" });
        build43 = packager->make("build-43", base, probe + QStringList { "--build-number", "43" });
        otherKey = packager->make(
            "other-key", base, probe + QStringList { "--build-number", "42", "--key", packager->otherKey() });
    }
    static void TearDownTestSuite()
    {
        delete packager;
        delete server;
        delete authority;
    }

    void SetUp() override
    {
        ASSERT_TRUE(authority->ok());
        ASSERT_TRUE(packager->ok());
        ASSERT_FALSE(next.image.isEmpty());
        work = std::make_unique<QTemporaryDir>();
        opt = work->filePath("opt");
        app = opt + "/Sonaric.app";
        temporary = work->filePath("tmp");
        ASSERT_TRUE(QDir().mkpath(opt) && QDir().mkpath(temporary));
        ASSERT_TRUE(FileTree::copy(installed.folder, app));
        before = treeSnapshot(app);
        // Downloads land in the temporary folder; each test has its own to find leftovers in.
        savedTemporary = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary));
    }
    void TearDown() override { qputenv("TMPDIR", savedTemporary); }

    /// Publishes `image` under `name` with `feed` advertising it.
    QString publish(const QString& name, const QByteArray& image, QJsonObject feed)
    {
        const QString path = "/downloads/" + name;
        feed["url"] = server->url(path);
        server->serve(path, { 200, image });
        server->serve(kFeedPath, { 200, Packager::json(feed) });
        return path;
    }

    /// A feed document with the true size and digest of `image`.
    QJsonObject feedForBytes(const QByteArray& image, qint64 build = 42)
    {
        const QString file = work->filePath("candidate");
        writeFile(file, image);
        const QJsonObject feed = Packager::feedFor(file, build, {});
        QFile::remove(file);
        return feed;
    }

    struct Outcome {
        Updater::Phase phase;
        QString error;
        int terminated = 0;
    };

    /// Checks, installs what the feed offers, and waits until the installation ends.
    Outcome update(BundleServices& bundles, const QString& shell = "/bin/true")
    {
        int terminated = 0;
        Updater::Options options;
        options.feed = UpdateFeed::forHost(server->host(), packager->publicKey());
        options.shell = shell;
        options.terminate = [&] { ++terminated; };
        Updater updater(bundles, workspace, options);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.check();
        if (!waitUntil([&] { return finished.count() > 0; }) || !updater.updateAvailable())
            return { updater.phase(), "nothing offered" };
        updater.install();
        waitUntil([&] { return updater.phase() != Updater::Phase::Updating || terminated; }, 30000);
        return { updater.phase(), updater.errorText(), terminated };
    }

    /// The installed copy as it was, and nothing left beside it or in the temporary folder.
    void expectUntouched(const char* what)
    {
        EXPECT_EQ(treeSnapshot(app), before) << what;
        EXPECT_EQ(entries(opt), QStringList { "Sonaric.app" }) << what;
        EXPECT_EQ(entries(temporary), QStringList {}) << what;
    }

    static inline TestAuthority* authority = nullptr;
    static inline HttpsServer* server = nullptr;
    static inline Packager* packager = nullptr;
    static inline Package installed, next, otherIdentifier, build43, otherKey;

    std::unique_ptr<QTemporaryDir> work;
    QString opt, app, temporary;
    QByteArray before, savedTemporary;
    SimulatedWorkspace workspace { Scene {} };
};

TEST_F(UpdateInstallTest, EveryRefusalLeavesTheInstalledCopyAsItWas)
{
    const QByteArray good = readFile(next.image);
    const QJsonObject goodFeed = next.feed;
    auto variant = [&](const char* name, auto change) {
        const QString folder = work->filePath(name) + "/Sonaric.app";
        EXPECT_TRUE(QDir().mkpath(work->filePath(name)) && FileTree::copy(next.folder, folder));
        change(folder);
        const QString image = work->filePath(name) + "/image.squashfs";
        EXPECT_TRUE(Packager::squash(folder, image));
        return readFile(image);
    };
    const QByteArray changed = variant("changed", [](const QString& folder) {
        QFile file(folder + "/org.sonaric.Sonaric.desktop");
        file.open(QIODevice::Append);
        file.write("NoDisplay=true\n");
    });
    const QByteArray unsigned_
        = variant("unsigned", [](const QString& folder) { FileTree::remove(folder + "/_CodeSignature"); });
    ASSERT_TRUE(QDir().mkpath(work->filePath("empty/Other.app")));
    writeFile(work->filePath("empty/Other.app/readme"), "not Sonaric");
    ASSERT_TRUE(Packager::squash(work->filePath("empty/Other.app"), work->filePath("empty/image.squashfs")));
    const QByteArray noApp = readFile(work->filePath("empty/image.squashfs"));
    QByteArray noise(300000, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 2654435761u) >> 13);

    auto feedFor = [&](const QByteArray& image, qint64 build = 42) { return feedForBytes(image, build); };
    struct Row {
        const char* what;
        QByteArray image;
        QJsonObject feed;
        std::optional<HttpsServer::Answer> answer; // none: the image itself
        const char* error;
    };
    const std::vector<Row> rows {
        { "one byte short", good.chopped(1), goodFeed, {}, UpdateError::damaged },
        { "another digest", good,
            [&] {
                auto f = goodFeed;
                f["sha256"] = QString(64, u'0');
                return f;
            }(),
            {}, UpdateError::damaged },
        { "not found", good, goodFeed, HttpsServer::Answer { 404, "gone" }, UpdateError::downloadRefused },
        { "dropped connection", good, goodFeed, HttpsServer::Answer { 200, good, good.size() / 2 },
            UpdateError::downloadFailed },
        { "not squashfs", noise, feedFor(noise), {}, UpdateError::cannotOpen },
        { "no Sonaric.app in the image", noApp, feedFor(noApp), {}, UpdateError::noSonaric },
        { "another bundle identifier", readFile(otherIdentifier.image), otherIdentifier.feed, {},
            UpdateError::wrongVersion },
        { "another build than advertised", readFile(build43.image), feedFor(readFile(build43.image), 42), {},
            UpdateError::wrongVersion },
        { "a file changed after signing", changed, feedFor(changed), {}, UpdateError::notSigned },
        { "signed by another key", readFile(otherKey.image), otherKey.feed, {}, UpdateError::notSigned },
        { "an unsigned folder", unsigned_, feedFor(unsigned_), {}, UpdateError::notSigned },
    };
    LinuxBundleServices bundles(app);
    int row = 0;
    for (const Row& r : rows) {
        const QString path = publish(QStringLiteral("refused-%1.squashfs").arg(++row), r.image, r.feed);
        if (r.answer)
            server->serve(path, *r.answer);
        const Outcome outcome = update(bundles);
        EXPECT_EQ(outcome.phase, Updater::Phase::Failed) << r.what;
        EXPECT_EQ(outcome.error, r.error) << r.what;
        EXPECT_EQ(outcome.terminated, 0) << r.what;
        expectUntouched(r.what);
    }
}

TEST_F(UpdateInstallTest, ATriedAgainUpdateReplacesTheFolderWithTheSignedOne)
{
    LinuxBundleServices bundles(app);
    QJsonObject feed = next.feed;
    feed["sha256"] = feed["sha256"].toString().toUpper();
    const QString path = publish("next.squashfs", readFile(next.image), feed);
    server->serve(path, { 404, "not yet" });
    EXPECT_EQ(update(bundles).error, UpdateError::downloadRefused);
    expectUntouched("not yet published");

    server->serve(path, { 200, readFile(next.image) });
    const Outcome outcome = update(bundles);
    EXPECT_TRUE(outcome.error.isEmpty()) << outcome.error.toStdString();
    EXPECT_EQ(outcome.terminated, 1);
    EXPECT_EQ(treeSnapshot(app), treeSnapshot(next.folder));
    EXPECT_EQ(bundles.mainBundle().string("CFBundleVersion"), "42");
    EXPECT_EQ(entries(opt), QStringList { "Sonaric.app" });
    EXPECT_EQ(entries(temporary), QStringList {});
}

TEST_F(UpdateInstallTest, ADistributionCopyOpensTheDownloadInTheBrowser)
{
    const QString usr = work->filePath("usr/lib/sonaric");
    ASSERT_TRUE(QDir().mkpath(usr));
    LinuxBundleServices bundles(usr);
    const QString path = publish("next.squashfs", readFile(next.image), next.feed);
    const int downloads = server->requests(path);
    const Outcome outcome = update(bundles);
    EXPECT_EQ(outcome.error, UpdateError::cannotReplace);
    EXPECT_EQ(workspace.openedURLs(), std::vector { QUrl(server->url(path)) });
    EXPECT_EQ(server->requests(path), downloads);
}

// Faults the real tools cannot be made to show on demand, on the simulated bundle services.
TEST_F(UpdateInstallTest, AFailingDetachNeverChangesTheOutcome)
{
    const QByteArray image("simulated image");
    const QByteArray digest = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
    QJsonObject info { { "CFBundleIdentifier", "org.sonaric.Sonaric" }, { "CFBundleVersion", "42" } };
    SimulatedBundleServices::App newer { info, { { "sonaric", "new program" } },
        Updater::requirement("org.sonaric.Sonaric", packager->publicKey()) };
    struct Row {
        const char* what;
        SimulatedBundleServices::Call fails;
        int exitStatus;
        const char* shell;
        const char* error;
        bool replaced;
    };
    const std::vector<Row> rows {
        { "attach exits with 1", SimulatedBundleServices::Call::attach, 1, "/bin/true", UpdateError::cannotOpen,
            false },
        { "detach fails after a refusal", SimulatedBundleServices::Call::detach, 0, "/bin/true", UpdateError::notSigned,
            false },
        { "detach fails, then the relaunch cannot start", SimulatedBundleServices::Call::detach, 0, "/nonexistent/sh",
            UpdateError::relaunchFailed, true },
    };
    for (const Row& row : rows) {
        SimulatedBundleServices bundles(*BundleInfo::read(app));
        auto app_ = newer;
        if (row.error == UpdateError::notSigned)
            app_.signedFor = "someone else";
        bundles.addImage(digest, app_);
        bundles.failNext(row.fails, 1, row.exitStatus);
        publish("simulated.squashfs", image, feedForBytes(image));
        const Outcome outcome = update(bundles, row.shell);
        EXPECT_EQ(outcome.error, row.error) << row.what;
        EXPECT_EQ(entries(temporary), QStringList {}) << row.what;
        EXPECT_EQ(entries(opt), QStringList { "Sonaric.app" }) << row.what;
        if (row.replaced) {
            EXPECT_EQ(readFile(app + "/sonaric"), "new program") << row.what;
        } else {
            expectUntouched(row.what);
        }
    }
}

// The whole road with the real program flow: the installed copy (build 41) runs the probe standing in for
// sonaric, finds build 42, installs it, quits, and the relaunch command starts the new copy.
TEST_F(UpdateInstallTest, TheOldProcessEndsAndTheNewBuildStarts)
{
    publish("next.squashfs", readFile(next.image), next.feed);
    const QString log = work->filePath("probe.log");
    QProcess old;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SONARIC_PROBE_FEED", server->url(kFeedPath));
    environment.insert("SONARIC_PROBE_KEY", packager->publicKey());
    environment.insert("SONARIC_PROBE_CA", authority->caFile());
    environment.insert("SONARIC_PROBE_LOG", log);
    environment.insert("TMPDIR", temporary);
    old.setProcessEnvironment(environment);
    // What the probe says on its way out (a sanitizer's report among it) belongs in the test's output.
    old.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    old.start(app + "/sonaric-update-probe", { "--update" });
    ASSERT_TRUE(old.waitForStarted());
    const qint64 oldPid = old.processId();
    ASSERT_TRUE(waitUntil([&] { return old.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(old.exitCode(), 0) << readFile(log).toStdString();
    ASSERT_TRUE(waitUntil([&] { return readFile(log).contains("started build 42"); }, 10000))
        << readFile(log).toStdString();

    const QStringList lines = QString::fromUtf8(readFile(log)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << readFile(log).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("started build 41 pid %1").arg(oldPid));
    EXPECT_EQ(lines[1], "quitting build 41");
    EXPECT_TRUE(lines[2].startsWith("started build 42 pid ")) << lines[2].toStdString();
    EXPECT_NE(lines[2], QStringLiteral("started build 42 pid %1").arg(oldPid));
    EXPECT_EQ(treeSnapshot(app), treeSnapshot(next.folder));
    EXPECT_EQ(entries(opt), QStringList { "Sonaric.app" });
    EXPECT_EQ(entries(temporary), QStringList {});
}

// A copy in a folder the user cannot write to sends the download to the browser and keeps its folder. As
// root every folder is writable, so there the probe runs as nobody.
TEST_F(UpdateInstallTest, ACopyInAReadOnlyFolderOpensTheDownloadInTheBrowser)
{
    const QString path = publish("next.squashfs", readFile(next.image), next.feed);
    const int downloads = server->requests(path);
    const QString log = work->filePath("probe.log");
    const QString ca = work->filePath("ca.pem");
    ASSERT_TRUE(writeFile(log, {}) && QFile::copy(authority->caFile(), ca));
    ::chmod(QFile::encodeName(log).constData(), 0666);
    ::chmod(QFile::encodeName(ca).constData(), 0644);
    ::chmod(QFile::encodeName(work->path()).constData(), 0755);
    ::chmod(QFile::encodeName(temporary).constData(), 0777);
    ::chmod(QFile::encodeName(opt).constData(), 0555);
    QStringList command { app + "/sonaric-update-probe", "--update" };
    if (::geteuid() == 0)
        command = QStringList { "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" } + command;

    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SONARIC_PROBE_FEED", server->url(kFeedPath));
    environment.insert("SONARIC_PROBE_KEY", packager->publicKey());
    environment.insert("SONARIC_PROBE_CA", ca);
    environment.insert("SONARIC_PROBE_LOG", log);
    environment.insert("TMPDIR", temporary);
    probe.setProcessEnvironment(environment);
    probe.start(command.takeFirst(), command);
    ASSERT_TRUE(waitUntil([&] { return probe.state() == QProcess::NotRunning; }, 60000));
    ::chmod(QFile::encodeName(opt).constData(), 0755);
    EXPECT_EQ(probe.exitCode(), 1) << readFile(log).toStdString();
    const QString text = QString::fromUtf8(readFile(log));
    EXPECT_TRUE(text.contains(QStringLiteral("failed: ") + UpdateError::cannotReplace)) << text.toStdString();
    EXPECT_TRUE(text.contains("opened " + server->url(path))) << text.toStdString();
    EXPECT_EQ(server->requests(path), downloads);
    EXPECT_EQ(treeSnapshot(app), before);
    EXPECT_EQ(entries(temporary), QStringList {});
}
