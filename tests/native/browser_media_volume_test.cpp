// Browser tab volume and the page script's text builder: the page script text, the Safari script, reply parsing,
// building the connection, which tabs are scanned, and scans against the simulated browsers.

#include "native/browser_media_volume.h"
#include "native_test_support.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

/// Whether node parses `script` as JavaScript; absent when node is not installed.
std::optional<bool> nodeAccepts(const QString& script)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        return std::nullopt;
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/page-script-XXXXXX.js"));
    if (!file.open())
        return false;
    file.write(script.toUtf8());
    file.close();
    QProcess check;
    check.start(node, { QStringLiteral("--check"), file.fileName() });
    return check.waitForFinished(20000) && check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
}

// The page script text.

TEST(PageScriptText, OneValidScriptPerSourceThatOnlyTheWorldTellsApart)
{
    const NativeVolumeChanges changes { { "abcd1234", { 0.4f, true } }, { "zzzz9", { 1.0f, false } } };
    for (const NativeVolumeChanges& wanted : { NativeVolumeChanges {}, changes }) {
        const QString chrome = BrowserMediaVolume::javaScript(NativeVolumeSource::chrome, wanted);
        EXPECT_EQ(chrome.count(QStringLiteral("const pageWorld = false;")), 1);
        for (const NativeVolumeSource source : { NativeVolumeSource::edge, NativeVolumeSource::brave })
            EXPECT_EQ(BrowserMediaVolume::javaScript(source, wanted), chrome);
        // Safari runs it in the page's own world; nothing else differs.
        QString safari = chrome;
        safari.replace(QStringLiteral("const pageWorld = false;"), QStringLiteral("const pageWorld = true;"));
        EXPECT_EQ(BrowserMediaVolume::javaScript(NativeVolumeSource::safari, wanted), safari);
        // One expression that calls itself, so that evaluating it gives the reply; and valid JavaScript, with the
        // wanted states spliced in.
        EXPECT_TRUE(chrome.startsWith(QStringLiteral("(() => {")) && chrome.endsWith(QStringLiteral("})()")));
        for (const QString& script : { chrome, safari }) {
            const auto accepted = nodeAccepts(script);
            if (!accepted)
                GTEST_SKIP() << "node is not installed to check the script's syntax";
            EXPECT_TRUE(*accepted) << script.left(300).toStdString();
        }
    }
}

TEST(PageScriptText, WantedStatesSortedFilteredAndRounded)
{
    const NativeVolumeChanges changes {
        { "zzzz9", { 0.5f, false } },
        { "abcd1234", { 0.125f, true } },
        { "m0m0", { 1.0f, false } },
        { "", { 0.3f, false } }, // the application's own key is no tab key
        { "ABCD1234", { 0.3f, false } },
        { "abc", { 0.3f, false } },
        { QString(41, u'a'), { 0.3f, false } },
        { "abcd-123", { 0.3f, false } },
        { "nanvolume", { std::nanf(""), false } },
        { "infvolume", { INFINITY, true } },
        { "zero", { -0.0f, true } },
    };
    const QString script = BrowserMediaVolume::javaScript(NativeVolumeSource::brave, changes);
    EXPECT_TRUE(script.startsWith("(() => {\n    const pageWorld = false;\n    const want = {'abcd1234': {volume: 13, "
                                  "muted: true}, 'm0m0': {volume: 100, muted: false}, 'zero': {volume: 0, muted: "
                                  "true}, 'zzzz9': {volume: 50, muted: false}};\n    const host = location.hostname;"))
        << script.left(200).toStdString();
}

TEST(PageScriptText, FortyCharacterKeyIsKept)
{
    const QString key(40, u'7');
    EXPECT_TRUE(BrowserMediaVolume::javaScript(NativeVolumeSource::edge, { { key, { 0.42f, false } } })
                    .contains("const want = {'" + key + "': {volume: 42, muted: false}};"));
}

// The Safari script.

TEST(SafariScript, LineByLineWithTwoRememberedURLs)
{
    const NativeVolumeChanges changes { { "abcd1234", { 0.4f, true } } };
    const QStringList remembered { "https://example.com/a?b=1", "http://radio.example.org/live",
        "https://example.com/with space", "https://example.com/\"quote\"", "ftp://example.com/x" };
    const QString script = BrowserMediaVolume::safariScript(changes, remembered);
    const QString pageScript = BrowserMediaVolume::javaScript(NativeVolumeSource::safari, changes);
    QString escaped = pageScript;
    escaped.replace("\\", "\\\\").replace("\"", "\\\"");

    const QString sites
        = "h is \"youtube.com\" or h ends with \".youtube.com\" or h is \"netflix.com\" or h ends with "
          "\".netflix.com\" or h is \"twitch.tv\" or h ends with \".twitch.tv\" or h is \"kick.com\" or h ends with "
          "\".kick.com\" or h is \"vimeo.com\" or h ends with \".vimeo.com\" or h is \"hulu.com\" or h ends with "
          "\".hulu.com\" or h is \"peacocktv.com\" or h ends with \".peacocktv.com\" or h is \"crunchyroll.com\" or "
          "h ends with \".crunchyroll.com\" or h is \"disneyplus.com\" or h ends with \".disneyplus.com\" or h is "
          "\"max.com\" or h ends with \".max.com\" or h is \"primevideo.com\" or h ends with \".primevideo.com\" or "
          "h is \"paramountplus.com\" or h ends with \".paramountplus.com\" or h is \"tiktok.com\" or h ends with "
          "\".tiktok.com\" or h is \"bilibili.com\" or h ends with \".bilibili.com\" or h is \"bandcamp.com\" or h "
          "ends with \".bandcamp.com\" or h is \"audible.com\" or h ends with \".audible.com\" or h is \"plex.tv\" "
          "or h ends with \".plex.tv\"";
    const QString expected = QStringList {
        "set replies to {}",
        "set firstError to missing value",
        "set mediaURLs to {\"https://example.com/a?b=1\", \"http://radio.example.org/live\"}",
        "if application \"Safari\" is not running then return \"not-running\"",
        "tell application \"Safari\"",
        "    with timeout of 10 seconds",
        "        repeat with browserWindow in windows",
        "            set windowTabs to {}",
        "            set activeIndex to 0",
        "            try",
        "                set windowTabs to tabs of browserWindow",
        "                set activeIndex to index of current tab of browserWindow",
        "            end try",
        "            set tabIndex to 0",
        "            repeat with browserTab in windowTabs",
        "                set tabIndex to tabIndex + 1",
        "                set tabURL to URL of browserTab",
        "                if tabURL is missing value then set tabURL to \"\"",
        "                if (tabIndex is activeIndex and (tabURL starts with \"https://\" or tabURL starts with "
        "\"http://\")) or tabURL is in mediaURLs or my isMediaSite(tabURL) then",
        "                    try",
        "                        set tabReply to do JavaScript \"" + escaped + "\" in browserTab",
        "                        if tabReply is not missing value and tabReply is not \"skip\" then set end of "
        "replies to tabReply",
        "                    on error errorMessage number errorNumber",
        "                        if firstError is missing value then set firstError to {errorMessage, errorNumber}",
        "                    end try",
        "                end if",
        "            end repeat",
        "        end repeat",
        "    end timeout",
        "end tell",
        "if replies is {} and firstError is not missing value then error (item 1 of firstError) number (item 2 of "
        "firstError)",
        "set AppleScript's text item delimiters to \",\"",
        "set replyText to replies as text",
        "set AppleScript's text item delimiters to \"\"",
        "return \"[\" & replyText & \"]\"",
        "",
        "on isMediaSite(u)",
        "    if u does not start with \"https://\" then return false",
        "    set savedDelimiters to AppleScript's text item delimiters",
        "    set AppleScript's text item delimiters to \"/\"",
        "    try",
        "        set h to text item 3 of u",
        "    on error",
        "        set h to \"\"",
        "    end try",
        "    set AppleScript's text item delimiters to savedDelimiters",
        "    return " + sites,
        "end isMediaSite",
    }.join("\n");
    const QStringList actualLines = script.split("\n");
    const QStringList expectedLines = expected.split("\n");
    ASSERT_EQ(actualLines.size(), expectedLines.size());
    for (qsizetype i = 0; i < expectedLines.size(); ++i)
        EXPECT_EQ(actualLines[i], expectedLines[i]) << "line " << i + 1;
    EXPECT_TRUE(pageScript.contains("const want = {'abcd1234': {volume: 40, muted: true}};"));
}

TEST(SafariScript, EscapingLeavesNoUnescapedQuoteInTheLiteral)
{
    const QString script = BrowserMediaVolume::safariScript({}, {});
    const QString start = "set tabReply to do JavaScript \"";
    const qsizetype from = script.indexOf(start) + start.size();
    const qsizetype to = script.indexOf("\" in browserTab");
    ASSERT_GT(to, from);
    const QString literal = script.mid(from, to - from);
    // Undo the escaping: every backslash pairs with the next character.
    QString unescaped;
    for (qsizetype i = 0; i < literal.size(); ++i) {
        if (literal[i] == u'\\') {
            ASSERT_LT(i + 1, literal.size());
            ASSERT_TRUE(literal[i + 1] == u'\\' || literal[i + 1] == u'"');
            unescaped += literal[++i];
        } else {
            ASSERT_NE(literal[i], u'"') << "an unescaped quote at " << i;
            unescaped += literal[i];
        }
    }
    EXPECT_EQ(unescaped, BrowserMediaVolume::javaScript(NativeVolumeSource::safari, {}));
}

// URL filter.

TEST(MediaURLs, Filter)
{
    EXPECT_TRUE(BrowserMediaVolume::isRememberableURL("https://www.youtube.com/watch?v=abc&t=1"));
    EXPECT_TRUE(BrowserMediaVolume::isRememberableURL("http://radio.example/live~1"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("file:///Users/me/song.mp3"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("HTTPS://EXAMPLE.COM/"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("https://example.com/a b"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("https://example.com/\"&do shell script \"x"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("https://example.com/back\\slash"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("https://example.com/\tx"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL("https://example.com/\x7f"));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL(QString::fromUtf8("https://exämple.com/")));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL(QString::fromUtf8("https://example.com/\U0001F3B5")));
    const QString head = "https://example.com/";
    EXPECT_TRUE(BrowserMediaVolume::isRememberableURL(head + QString(2048 - head.size(), u'a')));
    EXPECT_FALSE(BrowserMediaVolume::isRememberableURL(head + QString(2049 - head.size(), u'a')));
}

// Reply parsing.

TEST(BrowserParse, ValidReplyWithAndWithoutURL)
{
    const auto tabs = BrowserMediaVolume::parse(
        R"([{"key":"abcd1234","title":"Song","url":"https://a.example/","playing":true,"visible":false,"volume":37.5,"muted":true},)"
        R"({"key":"efgh5678","title":"","playing":false,"visible":true,"volume":0,"muted":false,"extra":[1]},)"
        R"({"key":"ijkl9012","title":"T","url":null,"playing":true,"visible":true,"volume":100,"muted":false}])");
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->size(), 3u);
    EXPECT_EQ((*tabs)[0],
        (BrowserMediaVolume::Tab { "abcd1234", "Song", QString("https://a.example/"), true, false, 37.5f, true }));
    EXPECT_EQ((*tabs)[1].url, std::nullopt);
    EXPECT_EQ((*tabs)[2].url, std::nullopt);
    EXPECT_EQ(BrowserMediaVolume::parse("[]")->size(), 0u);
}

TEST(BrowserParse, OutOfRangeVolumeAndBadKeysAreDroppedSilently)
{
    const auto tabs = BrowserMediaVolume::parse(
        R"([{"key":"abcd1234","title":"Loud","playing":true,"visible":true,"volume":150,"muted":false},)"
        R"({"key":"efgh5678","title":"Fine","playing":true,"visible":true,"volume":50,"muted":false},)"
        R"({"key":"EFGH5678","title":"Upper","playing":true,"visible":true,"volume":50,"muted":false},)"
        R"({"key":"abc","title":"Short","playing":true,"visible":true,"volume":50,"muted":false},)"
        R"({"key":"x'y\"z12","title":"Quote","playing":true,"visible":true,"volume":50,"muted":false},)"
        R"({"key":"neg00000","title":"Negative","playing":true,"visible":true,"volume":-1,"muted":false}])");
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->size(), 1u);
    EXPECT_EQ((*tabs)[0].title, "Fine");
}

TEST(BrowserParse, InvalidReplies)
{
    const char* const replies[] = {
        R"([{"key":"abcd1234","title":"No visible","playing":true,"volume":50,"muted":false}])",
        R"([{"key":"abcd1234","title":"T","playing":"yes","visible":true,"volume":50,"muted":false}])",
        R"([{"key":"abcd1234","title":"T","playing":1,"visible":true,"volume":50,"muted":false}])",
        R"([{"key":"abcd1234","title":"T","playing":true,"visible":true,"volume":"50","muted":false}])",
        R"([{"key":"abcd1234","title":"T","url":5,"playing":true,"visible":true,"volume":50,"muted":false}])",
        R"([{"key":1234,"title":"T","playing":true,"visible":true,"volume":50,"muted":false}])",
        R"([{"key":"abcd1234","title":null,"playing":true,"visible":true,"volume":50,"muted":false}])",
        R"([{"key":"abcd1234","title":"T","playing":true,"visible":true,"volume":1e50,"muted":false}])",
        R"([{"key":"abcd1234","title":"T","playing":true,"visible":true,"volume":50,"muted":false},"skip"])",
        R"({"key":"abcd1234","title":"T","playing":true,"visible":true,"volume":50,"muted":false})",
        "[",
        "",
        "skip",
        "[null]",
        "[[]]",
        "[] trailing",
        "not-running",
    };
    for (const char* reply : replies)
        EXPECT_EQ(BrowserMediaVolume::parse(QString::fromUtf8(reply)), std::nullopt) << reply;
}

TEST(BrowserParse, HostileSizesNeverCrash)
{
    EXPECT_EQ(BrowserMediaVolume::parse(QString(100000, u'[') + QString(100000, u']')), std::nullopt);
    const QString oversized = "[{\"key\":\"abcd1234\",\"title\":\""
        + QString(BrowserMediaVolume::maximumReplySize, u'x')
        + "\",\"playing\":true,\"visible\":true,\"volume\":50,\"muted\":false}]";
    EXPECT_EQ(BrowserMediaVolume::parse(oversized), std::nullopt);
    const QString longTitle = "[{\"key\":\"abcd1234\",\"title\":\"" + QString(100000, u'y')
        + "\",\"playing\":true,\"visible\":true,\"volume\":50,\"muted\":false}]";
    ASSERT_TRUE(BrowserMediaVolume::parse(longTitle));
    EXPECT_EQ(BrowserMediaVolume::parse(longTitle)->front().title.size(), 100000);
}

// Building the connection.

BrowserMediaVolume::Tab reply(const QString& key, bool playing = true, float volume = 50, bool muted = false)
{
    return { key, "Title " + key, std::nullopt, playing, true, volume, muted };
}

TEST(BrowserReading, PreviousOrderFirstThenNewInReplyOrder)
{
    NativeVolumeConnection previous;
    previous.tabs = { { "aaaa", "A", true, {} }, { "bbbb", "B", true, {} } };
    const auto connection = BrowserMediaVolume::reading({ reply("cccc"), reply("bbbb", true, 25, true) }, previous);
    EXPECT_EQ(connection.state, std::nullopt);
    ASSERT_EQ(connection.tabs.size(), 2u);
    EXPECT_EQ(connection.tabs[0], (NativeVolumeTab { "bbbb", "Title bbbb", true, { 0.25f, true } }));
    EXPECT_EQ(connection.tabs[1].id, "cccc");
}

TEST(BrowserReading, StoppedTabsDisappearAndTheFirstOfAKeyWins)
{
    const auto connection = BrowserMediaVolume::reading(
        { reply("aaaa", false), reply("bbbb", true, 10), reply("bbbb", true, 90), reply("cccc") }, {});
    ASSERT_EQ(connection.tabs.size(), 2u);
    EXPECT_EQ(connection.tabs[0].id, "bbbb");
    EXPECT_FLOAT_EQ(connection.tabs[0].state.volume, 0.1f);
    EXPECT_EQ(connection.tabs[1].id, "cccc");
}

// Which tabs are scanned.

using Pairs = std::vector<std::pair<int, int>>;

TEST(TabsToScan, ActiveWebTabsAlways)
{
    EXPECT_EQ(BrowserMediaVolume::tabsToScan(
                  { { "https://a.example/", "http://b.example/" }, { "file:///song.mp3", "http://c.example/" } },
                  { 1, 1 }, {}),
        (Pairs { { 1, 1 } }));
    EXPECT_EQ(BrowserMediaVolume::tabsToScan({ { "https://a.example/", "http://b.example/" } }, { 2 }, {}),
        (Pairs { { 1, 2 } }));
}

TEST(TabsToScan, MediaSitesNeedHttpsAndMatchSubdomains)
{
    const std::vector<QStringList> urls { {
        "https://www.youtube.com/watch?v=1",
        "http://www.youtube.com/watch?v=2",
        "https://music.youtube.com/",
        "https://notyoutube.com/",
        "https://WWW.NETFLIX.COM/title/1",
        "HTTPS://www.twitch.tv/x",
        "https://plex.tv",
        "https://youtube.com.evil.example/",
        "about:blank",
    } };
    EXPECT_EQ(BrowserMediaVolume::tabsToScan(urls, { 0 }, {}), (Pairs { { 1, 1 }, { 1, 3 }, { 1, 5 }, { 1, 7 } }));
}

TEST(TabsToScan, RememberedURLsEvenUnparseable)
{
    const std::vector<QStringList> urls { { "https://a.example/", "http://www.youtube.com/watch?v=2", "not a url",
        "https://b.example/x" } };
    EXPECT_EQ(BrowserMediaVolume::tabsToScan(urls, { 1 }, { "http://www.youtube.com/watch?v=2", "not a url" }),
        (Pairs { { 1, 1 }, { 1, 2 }, { 1, 3 } }));
}

TEST(TabsToScan, MissingActiveIndexCountsAsNone)
{
    EXPECT_EQ(BrowserMediaVolume::tabsToScan({ { "https://a.example/" }, { "https://b.example/" } }, { 1 }, {}),
        (Pairs { { 1, 1 } }));
    EXPECT_EQ(BrowserMediaVolume::tabsToScan({ { "https://a.example/" } }, {}, {}), Pairs {});
}

// Scans against the simulated browsers.

class BrowserScan : public ::testing::Test
{
protected:
    NativeVolumeResult connect(BrowserMediaVolume& controller)
    {
        return await([&](auto done) { controller.connect({}, done); });
    }
    NativeVolumeResult read(BrowserMediaVolume& controller, const NativeVolumeConnection& current = {})
    {
        return await([&](auto done) { controller.read(current, {}, done); });
    }
    NativeVolumeResult set(
        BrowserMediaVolume& controller, const NativeVolumeChanges& desired, const NativeVolumeConnection& current = {})
    {
        return await([&](auto done) { controller.set(desired, current, {}, done); });
    }
    static QStringList ids(const NativeVolumeResult& result)
    {
        QStringList ids;
        if (result.isSuccess()) {
            for (const auto& tab : result.connection().tabs)
                ids << tab.id;
        }
        return ids;
    }
    Desk desk;
};

TEST_F(BrowserScan, SafariRunsThePageScriptInThePageWorldOfSelectedTabs)
{
    FakeBrowser& safari = desk.browser("com.apple.Safari", "Safari", 501,
        { window({ pageTab("https://news.example/", "aaaa1111", "News", 100, false, false),
              pageTab("https://www.youtube.com/watch?v=1", "bbbb2222", "Video", 80),
              pageTab("https://shop.example/", "cccc3333", "Shop") }),
            window({ plainTab("file:///Users/me/page.html") }) });
    BrowserMediaVolume controller(NativeVolumeSource::safari, desk.scripting, desk.workspace);
    const auto result = connect(controller);
    ASSERT_TRUE(result.isSuccess()) << result.error().message.toStdString();
    EXPECT_EQ(ids(result), QStringList { "bbbb2222" });
    EXPECT_EQ(result.connection().tabs[0], (NativeVolumeTab { "bbbb2222", "Video", true, { 0.8f, false } }));
    EXPECT_EQ(safari.windows[0].tabs[0].evaluations, 1); // active
    EXPECT_EQ(safari.windows[0].tabs[1].evaluations, 1); // media site
    EXPECT_EQ(safari.windows[0].tabs[2].evaluations, 0); // background, not on a media site
    EXPECT_EQ(safari.windows[1].tabs[0].evaluations, 0); // active but a local file
    EXPECT_EQ(safari.windows[0].tabs[1].lastPageWorld, true);
}

TEST_F(BrowserScan, SafariRemembersTabsWithMediaAndScansThemInTheBackground)
{
    FakeBrowser& safari = desk.browser("com.apple.Safari", "Safari", 501,
        { window({ pageTab("https://radio.example/live", "aaaa1111", "Radio"), plainTab("https://other.example/") }) });
    BrowserMediaVolume controller(NativeVolumeSource::safari, desk.scripting, desk.workspace);
    ASSERT_EQ(ids(connect(controller)), QStringList { "aaaa1111" });
    safari.windows[0].activeTab = 2;
    EXPECT_EQ(ids(read(controller)), QStringList { "aaaa1111" });
    EXPECT_EQ(safari.windows[0].tabs[0].evaluations, 2);
    EXPECT_EQ(
        desk.scripting.executedScripts().last().split("\n")[2], "set mediaURLs to {\"https://radio.example/live\"}");
    // connect forgets what was remembered
    ASSERT_TRUE(connect(controller).isSuccess());
    EXPECT_EQ(desk.scripting.executedScripts().last().split("\n")[2], "set mediaURLs to {}");
}

TEST_F(BrowserScan, HostileURLsNeverReachTheSafariScript)
{
    FakeTab hostile = plainTab("https://x.example/");
    hostile.rawReply = QStringLiteral(
        R"([{"key":"aaaa1111","title":"\" & (do shell script \"touch /tmp/x\") & \"","url":"https://x.example/\" & (do shell script \"id\") & \"","playing":true,"visible":true,"volume":50,"muted":false}])")
                           .mid(1)
                           .chopped(1);
    desk.browser("com.apple.Safari", "Safari", 501, { window({ hostile }) });
    BrowserMediaVolume controller(NativeVolumeSource::safari, desk.scripting, desk.workspace);
    const auto result = connect(controller);
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(result.connection().tabs[0].title, "\" & (do shell script \"touch /tmp/x\") & \"");
    ASSERT_TRUE(read(controller).isSuccess());
    EXPECT_EQ(desk.scripting.executedScripts().last().split("\n")[2], "set mediaURLs to {}");
    EXPECT_FALSE(desk.scripting.executedScripts().last().contains("do shell script"));
}

TEST_F(BrowserScan, SafariPerTabErrorsDoNotFailAScanWithReplies)
{
    FakeTab broken = plainTab("https://www.youtube.com/a");
    broken.error = FakeScriptError { 8, QStringLiteral("You must enable 'Allow JavaScript from Apple Events'.") };
    desk.browser("com.apple.Safari", "Safari", 501,
        { window({ broken, pageTab("https://www.youtube.com/b", "aaaa1111", "B") }) });
    BrowserMediaVolume controller(NativeVolumeSource::safari, desk.scripting, desk.workspace);
    EXPECT_EQ(ids(connect(controller)), QStringList { "aaaa1111" });
    desk.scripting.browser("com.apple.Safari")->windows[0].tabs.pop_back();
    const auto failed = read(controller);
    ASSERT_TRUE(failed.isFailure());
    EXPECT_EQ(failed.error().message, "Safari is blocking JavaScript from Apple Events.");
}

TEST_F(BrowserScan, SafariNotRunning)
{
    BrowserMediaVolume controller(NativeVolumeSource::safari, desk.scripting, desk.workspace);
    const auto result = connect(controller);
    ASSERT_TRUE(result.isFailure());
    EXPECT_EQ(result.error().message, "Safari isn't open.");
    EXPECT_TRUE(read(controller).isSuccess()); // a refresh of a browser that quit lists no tabs
    EXPECT_TRUE(read(controller).connection().tabs.empty());
}

TEST_F(BrowserScan, SetCarriesTheWantedStatesToTheirTabs)
{
    FakeBrowser& chrome = desk.browser("com.google.Chrome", "Google Chrome", 733,
        { window({ pageTab("https://www.youtube.com/watch?v=1", "aaaa1111", "One", 100),
            pageTab("https://www.twitch.tv/two", "bbbb2222", "Two", 60) }) });
    BrowserMediaVolume controller(NativeVolumeSource::chrome, desk.scripting, desk.workspace);
    const auto connected = connect(controller);
    ASSERT_EQ(ids(connected), (QStringList { "aaaa1111", "bbbb2222" }));
    const auto result
        = set(controller, { { "bbbb2222", { 0.25f, true } }, { "zzzz0000", { 0.5f, false } } }, connected.connection());
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(result.connection().tabs[1], (NativeVolumeTab { "bbbb2222", "Two", true, { 0.25f, true } }));
    EXPECT_EQ(result.connection().tabs[0].state, (NativeVolumeState { 1.0f, false }));
    EXPECT_EQ(chrome.windows[0].tabs[1].lastWant,
        "'bbbb2222': {volume: 25, muted: true}, 'zzzz0000': {volume: 50, muted: false}");
    EXPECT_EQ(chrome.windows[0].tabs[1].lastPageWorld, false);
}

TEST_F(BrowserScan, SetRefusesAnyVolumeOutsideTheRangeBeforeSending)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
        { window({ pageTab("https://www.youtube.com/", "aaaa1111", "One") }) });
    BrowserMediaVolume controller(NativeVolumeSource::chrome, desk.scripting, desk.workspace);
    for (const float bad : { 1.2f, -0.5f, std::nanf(""), INFINITY }) {
        const auto result = set(controller, { { "aaaa1111", { 0.5f, false } }, { "bbbb1111", { bad, false } } });
        ASSERT_TRUE(result.isFailure());
        EXPECT_EQ(result.error().message, "Tab volume must be between 0% and 100%.");
    }
    EXPECT_TRUE(desk.scripting.sentEvents().empty());
    EXPECT_TRUE(set(controller, { { "aaaa1111", { -0.0f, true } } }).isSuccess()); // negative zero passes
}

TEST_F(BrowserScan, ReadKeepsTheOrderOfTheCurrentTabs)
{
    FakeBrowser& brave = desk.browser("com.brave.Browser", "Brave Browser", 812,
        { window({ pageTab("https://www.youtube.com/1", "aaaa1111", "A"),
            pageTab("https://www.youtube.com/2", "bbbb2222", "B") }) });
    BrowserMediaVolume controller(NativeVolumeSource::brave, desk.scripting, desk.workspace);
    const auto first = connect(controller);
    ASSERT_EQ(ids(first), (QStringList { "aaaa1111", "bbbb2222" }));
    brave.windows[0].tabs[0].page->playing = false;
    brave.windows[0].tabs.insert(brave.windows[0].tabs.begin(), pageTab("https://www.youtube.com/3", "cccc3333", "C"));
    EXPECT_EQ(ids(read(controller, first.connection())), (QStringList { "bbbb2222", "cccc3333" }));
}

TEST_F(BrowserScan, InvalidTabKeysAreReplacedByThePage)
{
    FakeBrowser& edge = desk.browser("com.microsoft.edgemac", "Microsoft Edge", 640,
        { window({ pageTab("https://www.netflix.com/watch/1", "NotAValidKey", "Film") }) });
    BrowserMediaVolume controller(NativeVolumeSource::edge, desk.scripting, desk.workspace);
    const auto result = connect(controller);
    ASSERT_EQ(result.connection().tabs.size(), 1u);
    EXPECT_NE(result.connection().tabs[0].id, "NotAValidKey");
    EXPECT_TRUE(BrowserMediaVolume::isTabKey(result.connection().tabs[0].id));
    EXPECT_EQ(edge.windows[0].tabs[0].page->key, result.connection().tabs[0].id);
}

TEST_F(BrowserScan, CancelledBeforeItRunsSendsNothing)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
        { window({ pageTab("https://www.youtube.com/", "aaaa1111", "One") }) });
    BrowserMediaVolume controller(NativeVolumeSource::chrome, desk.scripting, desk.workspace);
    CancellationToken token;
    token.cancel();
    EXPECT_TRUE(await([&](auto done) { controller.connect(token, done); }).isCancelled());
    EXPECT_TRUE(await([&](auto done) { controller.read({}, token, done); }).isCancelled());
    EXPECT_TRUE(await([&](auto done) { controller.set({}, {}, token, done); }).isCancelled());
    EXPECT_TRUE(desk.scripting.sentEvents().empty());
}

TEST_F(BrowserScan, NotInstalledComesFirst)
{
    desk.workspace.setInstalled("com.google.Chrome", false);
    BrowserMediaVolume controller(NativeVolumeSource::chrome, desk.scripting, desk.workspace);
    const auto result = read(controller);
    ASSERT_TRUE(result.isFailure());
    EXPECT_EQ(result.error().message, "Google Chrome isn't installed.");
    EXPECT_TRUE(desk.scripting.sentEvents().empty());
}

} // namespace
