// The update check: which advertisements are offered, and what checks do to the updater's state, against a
// real HTTPS server on loopback.

#include "https_server.h"
#include "support/event_loop.h"

#include "platform/bundle/sim/simulated_bundle_services.h"
#include "platform/workspace/sim/simulated_workspace.h"
#include "update/update_error.h"
#include "update/updater.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

const QString kFeedPath = QStringLiteral("/downloads/latest.json");

QJsonObject advert(qint64 build, const QString& url)
{
    return { { "version", QStringLiteral("2.%1").arg(build) }, { "build", build }, { "url", url },
        { "sha256", QString(64, u'a') }, { "size", 1000 } };
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

BundleInfo mainBundle(const QString& path, std::optional<QJsonValue> build)
{
    QJsonObject info { { "CFBundleIdentifier", "org.sonaric.Sonaric" }, { "CFBundleShortVersionString", "2.0" } };
    if (build)
        info.insert("CFBundleVersion", *build);
    return { path, info };
}

} // namespace

TEST(UpdateAdvertisement, IsOfferedOnlyWhenItPassesEveryRule)
{
    const QUrl feed("https://updates.example.org/downloads/latest.json");
    const QString image = "https://updates.example.org/downloads/Sonaric.squashfs";
    struct Row {
        const char* what;
        std::function<void(QJsonObject&)> change;
        bool offered;
    };
    const std::vector<Row> rows {
        { "a strictly newer build", [](QJsonObject&) {}, true },
        { "the running build", [](QJsonObject& o) { o["build"] = 5; }, false },
        { "an older build", [](QJsonObject& o) { o["build"] = 4; }, false },
        { "plain HTTP", [](QJsonObject& o) { o["url"] = "http://updates.example.org/downloads/S.squashfs"; }, false },
        { "an upper-case scheme", [](QJsonObject& o) { o["url"] = "HTTPS://updates.example.org/d/S.squashfs"; },
            false },
        { "another host", [](QJsonObject& o) { o["url"] = "https://mirror.example.org/downloads/S.squashfs"; }, false },
        { "the same host on another port",
            [](QJsonObject& o) { o["url"] = "https://updates.example.org:8443/downloads/S.squashfs"; }, true },
        { "63 digits", [](QJsonObject& o) { o["sha256"] = QString(63, u'a'); }, false },
        { "65 digits", [](QJsonObject& o) { o["sha256"] = QString(65, u'a'); }, false },
        { "a non-hexadecimal digit", [](QJsonObject& o) { o["sha256"] = QString(63, u'a') + u'g'; }, false },
        { "upper-case digits", [](QJsonObject& o) { o["sha256"] = QString(64, u'F'); }, true },
        { "size 0", [](QJsonObject& o) { o["size"] = 0; }, false },
        { "size 1", [](QJsonObject& o) { o["size"] = 1; }, true },
        { "size 500000000", [](QJsonObject& o) { o["size"] = 500000000; }, true },
        { "size 500000001", [](QJsonObject& o) { o["size"] = 500000001; }, false },
        { "no url", [](QJsonObject& o) { o.remove("url"); }, false },
        { "no version", [](QJsonObject& o) { o.remove("version"); }, false },
        { "a build written as text", [](QJsonObject& o) { o["build"] = "6"; }, false },
        { "a build with a fraction", [](QJsonObject& o) { o["build"] = 6.5; }, false },
        { "an unknown key besides", [](QJsonObject& o) { o["notes"] = "faster"; }, true },
    };
    for (const Row& row : rows) {
        QJsonObject document = advert(6, image);
        row.change(document);
        const std::optional<UpdateInfo> offered = Updater::newer(json(document), 5, feed);
        EXPECT_EQ(offered.has_value(), row.offered) << row.what;
        if (offered)
            EXPECT_EQ(offered->url, QUrl(document["url"].toString())) << row.what;
    }
    EXPECT_FALSE(Updater::newer("[1]", 5, feed));
    EXPECT_FALSE(Updater::newer("{\"build\": ", 5, feed));
}

TEST(UpdateAdvertisement, RunningBuildComesFromTheInfoFile)
{
    SimulatedWorkspace workspace { Scene {} };
    const std::vector<std::pair<std::optional<QJsonValue>, qint64>> rows {
        { QJsonValue("7"), 7 },
        { QJsonValue("+7"), 7 },
        { QJsonValue("-3"), -3 },
        { QJsonValue("7a"), 0 },
        { QJsonValue(""), 0 },
        { QJsonValue(7), 0 }, // a number, not a string
        { std::nullopt, 0 },
    };
    for (const auto& [value, build] : rows) {
        SimulatedBundleServices bundles(mainBundle("/opt/Sonaric.app", value));
        EXPECT_EQ(Updater(bundles, workspace).currentBuild(), build)
            << QJsonDocument(QJsonArray { value.value_or(QJsonValue()) }).toJson().toStdString();
    }
}

class UpdateCheckTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        authority = new TestAuthority;
        authority->trustOnlyThis();
    }
    static void TearDownTestSuite() { delete authority; }

    void SetUp() override
    {
        ASSERT_TRUE(authority->ok());
        server = std::make_unique<HttpsServer>(*authority);
        imageURL = server->url("/downloads/Sonaric-6.squashfs");
    }

    std::unique_ptr<Updater> updater(BundleServices& services, const QString& host = {})
    {
        Updater::Options options;
        options.feed = UpdateFeed::forHost(host.isEmpty() ? server->host() : host, QString(64, u'0'));
        options.now = [this] { return clock; };
        options.shell = QStringLiteral("/bin/true");
        options.terminate = [] {};
        return std::make_unique<Updater>(services, workspace, options);
    }

    /// Checks and waits until the check has ended.
    static bool checkNow(Updater& updater)
    {
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.check();
        return waitUntil([&] { return finished.count() > 0; });
    }

    static inline TestAuthority* authority = nullptr;
    std::unique_ptr<HttpsServer> server;
    QString imageURL;
    SimulatedWorkspace workspace { Scene {} };
    QDateTime clock = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
};

TEST_F(UpdateCheckTest, AMissingBuildNumberIsZeroSoBuildOneIsOffered)
{
    SimulatedBundleServices bundles(mainBundle("/opt/Sonaric.app", std::nullopt));
    auto subject = updater(bundles);
    server->serve(kFeedPath, { 200, json(advert(1, imageURL)) });
    QSignalSpy availableChanged(subject.get(), &Updater::availableChanged);
    ASSERT_TRUE(checkNow(*subject));
    ASSERT_TRUE(subject->available());
    EXPECT_EQ(subject->available()->build, 1);
    EXPECT_EQ(subject->available()->url, QUrl(imageURL));
    EXPECT_EQ(availableChanged.count(), 1);
    EXPECT_EQ(subject->lastCheck(), clock);
}

TEST_F(UpdateCheckTest, TheSameAdvertisementTwiceLeavesTheStateAndItsFailure)
{
    // A folder the program cannot replace: installing opens the browser and fails with the folder message.
    SimulatedBundleServices bundles(mainBundle("/usr/lib/sonaric", QJsonValue("5")));
    auto subject = updater(bundles);
    server->serve(kFeedPath, { 200, json(advert(6, imageURL)) });
    ASSERT_TRUE(checkNow(*subject));
    subject->install();
    ASSERT_EQ(subject->phase(), Updater::Phase::Failed);
    EXPECT_EQ(subject->errorText(), UpdateError::cannotReplace);
    ASSERT_EQ(workspace.openedURLs(), std::vector { QUrl(imageURL) });
    EXPECT_EQ(server->requests("/downloads/Sonaric-6.squashfs"), 0);

    QSignalSpy availableChanged(subject.get(), &Updater::availableChanged);
    QSignalSpy phaseChanged(subject.get(), &Updater::phaseChanged);
    ASSERT_TRUE(checkNow(*subject));
    EXPECT_EQ(availableChanged.count(), 0);
    EXPECT_EQ(phaseChanged.count(), 0);
    EXPECT_EQ(subject->errorText(), UpdateError::cannotReplace);

    // A failed request changes nothing; a feed that no longer offers a valid update clears the offer.
    server->serve(kFeedPath, { 500, "busy" });
    ASSERT_TRUE(checkNow(*subject));
    EXPECT_EQ(availableChanged.count(), 0);
    EXPECT_EQ(subject->errorText(), UpdateError::cannotReplace);
    server->serve(kFeedPath, { 200, "not json" });
    ASSERT_TRUE(checkNow(*subject));
    EXPECT_FALSE(subject->updateAvailable());
    EXPECT_EQ(subject->phase(), Updater::Phase::Idle);

    // A new advertisement is offered with a clean phase.
    subject->install(); // nothing to install: stays idle
    EXPECT_EQ(subject->phase(), Updater::Phase::Idle);
    server->serve(kFeedPath, { 200, json(advert(7, imageURL)) });
    ASSERT_TRUE(checkNow(*subject));
    EXPECT_EQ(subject->available()->build, 7);
    EXPECT_EQ(availableChanged.count(), 2);
}

TEST_F(UpdateCheckTest, AServerTheProgramDoesNotTrustOffersNothing)
{
    TestAuthority stranger;
    ASSERT_TRUE(stranger.ok());
    HttpsServer impostor(stranger);
    impostor.serve(kFeedPath, { 200, json(advert(6, impostor.url("/downloads/Sonaric-6.squashfs"))) });
    SimulatedBundleServices bundles(mainBundle("/opt/Sonaric.app", QJsonValue("5")));
    auto subject = updater(bundles, impostor.host());
    ASSERT_TRUE(checkNow(*subject));
    EXPECT_FALSE(subject->updateAvailable());
}

TEST_F(UpdateCheckTest, NothingChecksWhileAnInstallationRuns)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir().mkpath(root.filePath("Sonaric.app")));
    SimulatedBundleServices bundles(mainBundle(root.filePath("Sonaric.app"), QJsonValue("5")));
    auto subject = updater(bundles);
    const QByteArray notAnImage(1000, 'x');
    QJsonObject offer = advert(6, imageURL);
    offer["sha256"] = QString::fromLatin1(QCryptographicHash::hash(notAnImage, QCryptographicHash::Sha256).toHex());
    server->serve(kFeedPath, { 200, json(offer) });
    ASSERT_TRUE(checkNow(*subject));

    // A check already on its way when the installation starts, and the download held back.
    server->serve(kFeedPath, { 200, json(advert(7, imageURL)), -1, true });
    QSignalSpy finished(subject.get(), &Updater::checkFinished);
    subject->check();
    ASSERT_TRUE(waitUntil([&] { return server->requests(kFeedPath) == 2; }));
    server->serve("/downloads/Sonaric-6.squashfs", { 200, notAnImage, -1, true });
    subject->install();
    ASSERT_EQ(subject->phase(), Updater::Phase::Updating);
    EXPECT_TRUE(subject->busy());

    server->release(kFeedPath);
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(subject->phase(), Updater::Phase::Updating);
    EXPECT_EQ(subject->available()->build, 6);

    clock = clock.addSecs(7200);
    subject->check();
    subject->settingsWindowOpened();
    subject->install();
    EXPECT_EQ(subject->lastCheck(), clock.addSecs(-7200));
    // The one download asked for can take a while to arrive on a loaded machine; a second check would have
    // reached the feed by then.
    ASSERT_TRUE(waitUntil([&] { return server->requests("/downloads/Sonaric-6.squashfs") == 1; }));
    spin(100);
    EXPECT_EQ(server->requests(kFeedPath), 2);
    EXPECT_EQ(server->requests("/downloads/Sonaric-6.squashfs"), 1);

    // The held image is no image: the installation fails, and can be tried again.
    server->release("/downloads/Sonaric-6.squashfs");
    ASSERT_TRUE(waitUntil([&] { return subject->phase() == Updater::Phase::Failed; }));
    EXPECT_EQ(subject->errorText(), UpdateError::cannotOpen);
    subject->install();
    EXPECT_EQ(subject->phase(), Updater::Phase::Updating);
}

TEST_F(UpdateCheckTest, OpeningTheSettingsWindowChecksAfterAnHour)
{
    SimulatedBundleServices bundles(mainBundle("/opt/Sonaric.app", QJsonValue("5")));
    auto subject = updater(bundles);
    server->serve(kFeedPath, { 200, json(advert(6, imageURL)) });
    subject->settingsWindowOpened(); // never checked: the distant past
    ASSERT_TRUE(waitUntil([&] { return server->requests(kFeedPath) == 1; }));
    clock = clock.addSecs(3600);
    subject->settingsWindowOpened();
    clock = clock.addSecs(1);
    subject->settingsWindowOpened();
    ASSERT_TRUE(waitUntil([&] { return server->requests(kFeedPath) == 2; }));
    spin(100);
    EXPECT_EQ(server->requests(kFeedPath), 2);
    EXPECT_EQ(subject->lastCheck(), clock);
}

TEST_F(UpdateCheckTest, ABuildWithoutAnUpdateHostNeverChecks)
{
    SimulatedBundleServices bundles(mainBundle("/opt/Sonaric.app", QJsonValue("5")));
    Updater subject(bundles, workspace, Updater::Options { UpdateFeed {}, {}, {}, "/bin/true" });
    subject.start();
    subject.check();
    subject.settingsWindowOpened();
    spin(100);
    EXPECT_FALSE(subject.lastCheck().isValid());
    EXPECT_EQ(server->requests(kFeedPath), 0);
}
