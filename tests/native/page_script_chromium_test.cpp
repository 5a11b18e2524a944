// The page media script in a real browser: the script as BrowserMediaVolume builds it, evaluated by a headless
// Chromium that the test starts (own empty profile, DevTools on loopback) on the fixture pages, which a loopback
// server of the test serves under the sites' host names. `pageWorld` true runs in the page's own world, as
// Safari does; false runs in an isolated world, as Chromium browsers do (and, for the guards, in the page world).

#include "chromium/fixture_server.h"
#include "chromium/headless_chromium.h"
#include "native/browser_media_volume.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

enum class World {
    page, ///< pageWorld true in the page's own world (Safari)
    isolated, ///< pageWorld false in an isolated world (Chrome, Edge, Brave)
    pageWithoutPageWorld, ///< pageWorld false, yet evaluated where page globals are visible: the guards alone decide
};

class PageScriptInChromium : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "page_script_chromium_tests";
        static char* argv[] = { name, nullptr };
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        server = new FixtureServer(QStringLiteral(SONARIC_FIXTURES "/pages"));
        server->add("/media/tone.wav", sineWav(2.0), "audio/wav");
        if (!server->start()) {
            startError = "the fixture server cannot listen on 127.0.0.1";
            return;
        }
        chromium = new HeadlessChromium;
        chromium->setFixtureOrigin(server->origin());
        if (!chromium->start(&startError)) {
            delete chromium;
            chromium = nullptr;
        }
    }

    static void TearDownTestSuite()
    {
        delete chromium;
        chromium = nullptr;
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        if (chromium)
            return;
        if (qEnvironmentVariableIsSet("CI"))
            FAIL() << "Chromium is needed in CI: " << startError.toStdString();
        GTEST_SKIP() << startError.toStdString();
    }

    void TearDown() override
    {
        if (m_page && chromium)
            chromium->close(*m_page);
    }

    /// Opens `url` and, unless `waitForPlayback` is false, waits until its first media element really plays.
    HeadlessChromium::Page open(const QString& url, bool waitForPlayback = true)
    {
        const auto page = chromium->open(url);
        EXPECT_TRUE(page) << "cannot open " << url.toStdString();
        if (!page)
            throw std::runtime_error("no page");
        m_page = page;
        if (waitForPlayback) {
            EXPECT_TRUE(chromium->waitUntil(*page,
                "(() => { const m = document.querySelector('video, audio'); return !!m && !m.paused && m.currentTime > "
                "0; })()"))
                << "media never started on " << url.toStdString();
        }
        return *page;
    }

    /// Evaluates the page script and returns its reply text.
    QString run(
        const HeadlessChromium::Page& page, const NativeVolumeChanges& changes = {}, World world = World::isolated)
    {
        const NativeVolumeSource source
            = world == World::page ? NativeVolumeSource::safari : NativeVolumeSource::chrome;
        std::optional<int> context;
        if (world == World::isolated) {
            context = chromium->isolatedWorld(page);
            EXPECT_TRUE(context);
        }
        const auto reply = chromium->evaluateString(page, BrowserMediaVolume::javaScript(source, changes), context);
        EXPECT_TRUE(reply) << "the page script did not return a string";
        return reply.value_or(QString());
    }

    /// The reply as JSON, checked to decode as BrowserMediaVolume decodes it.
    QJsonObject runJson(
        const HeadlessChromium::Page& page, const NativeVolumeChanges& changes = {}, World world = World::isolated)
    {
        const QString reply = run(page, changes, world);
        const auto tabs = BrowserMediaVolume::parse(u'[' + reply + u']');
        EXPECT_TRUE(tabs && tabs->size() == 1) << "reply: " << reply.toStdString();
        return QJsonDocument::fromJson(reply.toUtf8()).object();
    }

    QJsonValue value(const HeadlessChromium::Page& page, const QString& expression)
    {
        return chromium->evaluateValue(page, expression);
    }

    static void settle() { QThread::msleep(350); } // past the site control's 250 ms correction

    static QString url(const QString& site, const QString& path) { return QStringLiteral("https://") + site + path; }

    static inline FixtureServer* server = nullptr;
    static inline HeadlessChromium* chromium = nullptr;
    static inline QString startError;
    std::optional<HeadlessChromium::Page> m_page;
};

// Replies and keys.

TEST_F(PageScriptInChromium, PlainAudioReplies)
{
    const auto page = open(server->origin() + "/audio.html");
    const QString reply = run(page);
    EXPECT_TRUE(reply.startsWith("{\"key\":\"")) << reply.toStdString();
    const QJsonObject tab = runJson(page);
    EXPECT_EQ(tab.keys(), (QStringList { "key", "muted", "playing", "title", "url", "visible", "volume" }));
    EXPECT_TRUE(BrowserMediaVolume::isTabKey(tab["key"].toString()));
    EXPECT_EQ(tab["title"].toString(), "Plain audio");
    EXPECT_EQ(tab["url"].toString(), server->origin() + "/audio.html");
    EXPECT_TRUE(tab["playing"].toBool());
    EXPECT_EQ(tab["volume"].toInt(), 100);
    EXPECT_FALSE(tab["muted"].toBool());
    // The key lives in the document and survives later evaluations; the members keep their documented order.
    EXPECT_EQ(runJson(page)["key"], tab["key"]);
    EXPECT_EQ(value(page, "document.documentElement.dataset.velorithTab").toString(), tab["key"].toString());
    EXPECT_TRUE(QRegularExpression("^\\{\"key\":.*,\"title\":.*,\"url\":.*,\"playing\":true,\"visible\":(true|false),"
                                   "\"volume\":100,\"muted\":false\\}$")
                    .match(run(page))
                    .hasMatch());
}

TEST_F(PageScriptInChromium, PlainVideoSetsTheElementDirectly)
{
    const auto page = open(server->origin() + "/video.html");
    const QString key = runJson(page)["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.3f, true } } });
    EXPECT_EQ(tab["volume"].toInt(), 30);
    EXPECT_TRUE(tab["muted"].toBool());
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 0.3);
    EXPECT_TRUE(value(page, "document.querySelector('video').muted").toBool());
    EXPECT_EQ(value(page, "document.querySelector('video').dataset.velorithMedia").toString(), "1");
    EXPECT_EQ(tab["title"].toString(), "Left | Right"); // a bar between two other words stays
    EXPECT_TRUE(tab["playing"].toBool());
}

TEST_F(PageScriptInChromium, InvalidTabKeysAreReplaced)
{
    const auto page = open(server->origin() + "/audio.html");
    for (const QString& bad : { QString(41, u'a'), QString("ABCD1234"), QString("abc"), QString("abcd-1234") }) {
        chromium->evaluate(page, "document.documentElement.dataset.velorithTab = '" + bad + "'");
        const QString key = runJson(page)["key"].toString();
        EXPECT_NE(key, bad);
        EXPECT_TRUE(BrowserMediaVolume::isTabKey(key)) << key.toStdString();
    }
    chromium->evaluate(page, "document.documentElement.dataset.velorithTab = '" + QString(40, u'z') + "'");
    EXPECT_EQ(runJson(page)["key"].toString(), QString(40, u'z'));
}

TEST_F(PageScriptInChromium, WantedStatesForOtherKeysAreIgnored)
{
    const auto page = open(server->origin() + "/audio.html");
    const QString key = runJson(page)["key"].toString();
    const QJsonObject tab = runJson(page, { { "otherkey1", { 0.1f, true } }, { "zzzz", { 0.2f, true } } });
    EXPECT_EQ(tab["key"].toString(), key);
    EXPECT_EQ(tab["volume"].toInt(), 100);
    EXPECT_FALSE(tab["muted"].toBool());
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('audio').volume").toDouble(), 1.0);
}

TEST_F(PageScriptInChromium, MutedLoopingBackgroundVideoIsSkipped)
{
    const auto page = open(server->origin() + "/background.html");
    EXPECT_EQ(run(page), "skip");
    EXPECT_EQ(run(page, {}, World::page), "skip");
}

TEST_F(PageScriptInChromium, MediaThatNeverStartedIsSkippedUnlessMarked)
{
    const auto page = open(server->origin() + "/not-started.html", false);
    ASSERT_TRUE(chromium->waitUntil(page, "document.querySelector('audio').readyState >= 2"));
    EXPECT_TRUE(value(page, "document.querySelector('audio').paused").toBool());
    EXPECT_EQ(run(page), "skip");
    chromium->evaluate(page, "document.querySelector('audio').dataset.velorithMedia = '1'");
    const QJsonObject tab = runJson(page);
    EXPECT_FALSE(tab["playing"].toBool());
    EXPECT_EQ(tab["volume"].toInt(), 100);
}

// The site's own controls.

TEST_F(PageScriptInChromium, SiteSliderFromZeroToOneIsSetToTheTextHalf)
{
    const auto page = open(url("www.example-player.test", "/site-slider.html"));
    const QString key = runJson(page)["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.5f, false } } });
    EXPECT_EQ(tab["volume"].toInt(), 50);
    EXPECT_EQ(value(page, "document.getElementById('volume').value").toString(), "0.5");
    EXPECT_EQ(value(page, "window.siteLog.join(' ')").toString(), "input:0.5 change:0.5");
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 0.5);
    EXPECT_EQ(value(page, "document.getElementById('seek').value").toString(), "10"); // not a volume slider
    EXPECT_EQ(value(page, "document.querySelector('video').dataset.velorithVolume").toString(), "0.5");
    settle();
    EXPECT_EQ(runJson(page)["volume"].toInt(), 50);
}

TEST_F(PageScriptInChromium, SiteMuteButtonIsClickedAfterTheVolume)
{
    const auto page = open(url("www.example-player.test", "/site-slider.html"));
    const QString key = runJson(page)["key"].toString();
    const QJsonObject muted = runJson(page, { { key, { 0.4f, true } } });
    EXPECT_TRUE(muted["muted"].toBool());
    EXPECT_EQ(value(page, "window.siteLog.join(' ')").toString(), "input:0.4 change:0.4 mute-click");
    EXPECT_EQ(value(page, "document.getElementById('mute').getAttribute('aria-label')").toString(), "Unmute");
    // Unmuting clicks first, then moves the slider.
    chromium->evaluate(page, "window.siteLog = []");
    const QJsonObject unmuted = runJson(page, { { key, { 0.8f, false } } });
    EXPECT_FALSE(unmuted["muted"].toBool());
    EXPECT_EQ(value(page, "window.siteLog.join(' ')").toString(), "mute-click input:0.8 change:0.8");
}

TEST_F(PageScriptInChromium, SiteThatIgnoresItsSliderIsCorrectedAfter250ms)
{
    const auto page = open(url("www.example-player.test", "/site-slider.html?ignore"));
    const QString key = runJson(page)["key"].toString();
    runJson(page, { { key, { 0.3f, false } } });
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 1.0);
    settle();
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 0.3);
}

TEST_F(PageScriptInChromium, TwitchReportsTheRememberedLevelWhileItZeroesTheVolumeUnderMute)
{
    const auto page = open(url("www.twitch.tv", "/twitch.html"));
    const QJsonObject first = runJson(page);
    EXPECT_EQ(first["title"].toString(), "Streamer");
    EXPECT_EQ(first["volume"].toInt(), 80);
    const QString key = first["key"].toString();
    const QJsonObject muted = runJson(page, { { key, { 0.8f, true } } });
    EXPECT_TRUE(muted["muted"].toBool());
    EXPECT_EQ(muted["volume"].toInt(), 80);
    // The site holds the element at volume 0 while muted; every later read reports the remembered level.
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 0.0);
    settle();
    for (int i = 0; i < 2; ++i) {
        const QJsonObject later = runJson(page);
        EXPECT_TRUE(later["muted"].toBool());
        EXPECT_EQ(later["volume"].toInt(), 80);
    }
    const QJsonObject unmuted = runJson(page, { { key, { 0.8f, false } } });
    EXPECT_FALSE(unmuted["muted"].toBool());
    EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 0.8);
}

TEST_F(PageScriptInChromium, KickMutesWithTheKeyOnTheBody)
{
    const auto page = open(url("kick.com", "/kick.html"));
    const QString key = runJson(page)["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.6f, true } } });
    EXPECT_TRUE(tab["muted"].toBool());
    EXPECT_EQ(value(page, "window.keyLog.join(' ')").toString(), "m");
    EXPECT_TRUE(value(page, "document.querySelector('video').muted").toBool());
    EXPECT_EQ(tab["title"].toString(), "Channel | Kick");
}

// YouTube, YouTube Music, Netflix.

TEST_F(PageScriptInChromium, YouTubeArrowKeysReachTheWantedLevel)
{
    const auto page = open(url("www.youtube.com", "/youtube.html?v=fixture"));
    // The page believes it is on YouTube; its requests were served by the loopback fixture server.
    EXPECT_EQ(value(page, "location.hostname").toString(), "www.youtube.com");
    EXPECT_GT(server->requestCount(), 0);
    const QJsonObject first = runJson(page);
    EXPECT_EQ(first["title"].toString(), "Fixture video");
    const QString key = first["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.52f, true } } });
    EXPECT_EQ(tab["volume"].toInt(), 50);
    EXPECT_TRUE(tab["muted"].toBool());
    const QJsonArray keys = value(page, "window.keyLog").toArray();
    ASSERT_EQ(keys.size(), 11); // ten steps of 5 down, then the mute key
    EXPECT_EQ(keys.first().toString(), "ArrowDown:ArrowDown:40:40");
    EXPECT_EQ(keys.last().toString(), "m:KeyM:77:77");
    EXPECT_EQ(value(page, "window.apiCalls.length").toInt(), 0);
}

TEST_F(PageScriptInChromium, YouTubeThatDoesNotMoveGetsOnePress)
{
    const auto page = open(url("www.youtube.com", "/youtube.html?v=fixture&stuck"));
    const QString key = runJson(page)["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.2f, false } } });
    EXPECT_EQ(tab["volume"].toInt(), 100);
    EXPECT_EQ(value(page, "window.keyLog.join(' ')").toString(), "ArrowDown:ArrowDown:40:40");
}

TEST_F(PageScriptInChromium, YouTubePlayerAPIInThePageWorld)
{
    const auto page = open(url("www.youtube.com", "/youtube.html?v=fixture"));
    const QString key = runJson(page, {}, World::page)["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.35f, true } } }, World::page);
    EXPECT_EQ(tab["volume"].toInt(), 35);
    EXPECT_TRUE(tab["muted"].toBool());
    EXPECT_EQ(
        value(page, "window.apiCalls.filter((c) => !c.startsWith('get') && c !== 'isMuted').join(' ')").toString(),
        "setVolume:35 mute");
    EXPECT_EQ(value(page, "window.keyLog.length").toInt(), 0);
}

TEST_F(PageScriptInChromium, YouTubePlayerAPINeverUsedWithoutPageWorld)
{
    const auto page = open(url("www.youtube.com", "/youtube.html?v=fixture"));
    // Even where the page's globals and the player's functions are visible, pageWorld false keeps them unused.
    const QString key = runJson(page, {}, World::pageWithoutPageWorld)["key"].toString();
    const QJsonObject tab = runJson(page, { { key, { 0.9f, false } } }, World::pageWithoutPageWorld);
    EXPECT_EQ(tab["volume"].toInt(), 90);
    EXPECT_EQ(value(page, "window.apiCalls.length").toInt(), 0);
    EXPECT_EQ(value(page, "window.keyLog.length").toInt(), 2);
}

TEST_F(PageScriptInChromium, YouTubeMusicStopsAtTheNearestStepAndDropsTheTitleSuffix)
{
    const auto page = open(url("music.youtube.com", "/youtube-music.html"));
    const QJsonObject first = runJson(page);
    EXPECT_EQ(first["title"].toString(), "Song Name");
    const QJsonObject tab = runJson(page, { { first["key"].toString(), { 0.5f, false } } });
    // 100 → 74 → 55 → 40 overshoots by more than it was off, so one step back: 55.
    EXPECT_EQ(tab["volume"].toInt(), 55);
    EXPECT_EQ(value(page, "window.keyLog.join(' ')").toString(), "- - - =");
}

TEST_F(PageScriptInChromium, NetflixPlayerAPIInThePageWorld)
{
    const auto page = open(url("www.netflix.com", "/netflix.html"));
    const QJsonObject first = runJson(page, {}, World::page);
    EXPECT_EQ(first["volume"].toInt(), 70);
    const QJsonObject tab = runJson(page, { { first["key"].toString(), { 0.4f, true } } }, World::page);
    EXPECT_EQ(tab["volume"].toInt(), 40);
    EXPECT_TRUE(tab["muted"].toBool());
    EXPECT_TRUE(value(page, "window.netflixCalls.join(' ')")
                    .toString()
                    .contains("session:watch-2 setVolume:0.4 setMuted:true"));
}

TEST_F(PageScriptInChromium, NetflixPlayerAPINeverUsedWithoutPageWorld)
{
    const auto page = open(url("www.netflix.com", "/netflix.html"));
    for (const World world : { World::pageWithoutPageWorld, World::isolated }) {
        const QString key = runJson(page, {}, world)["key"].toString();
        const QJsonObject tab = runJson(page, { { key, { 0.25f, false } } }, world);
        EXPECT_EQ(tab["volume"].toInt(), 25);
        EXPECT_DOUBLE_EQ(value(page, "document.querySelector('video').volume").toDouble(), 0.25);
        EXPECT_EQ(value(page, "window.netflixCalls.length").toInt(), 0);
    }
}

} // namespace
