// The connector message table: every user-visible connector message, each situation once, reached the way the
// program reaches it (through AppVolume or BrowserMediaVolume against the simulated applications and browsers).

#include "native/app_volume.h"
#include "native/browser_media_volume.h"
#include "native_test_support.h"

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

const QString kTryAgain = QStringLiteral("Click Try Again.");
const QString kAutomation1 = QStringLiteral("Open System Settings > Privacy & Security > Automation.");
const QString kChromeJavaScript
    = QStringLiteral("In Chrome's menu bar, choose View > Developer > Allow JavaScript from Apple Events.");

NativeVolumeError failureOf(const NativeVolumeResult& result)
{
    EXPECT_TRUE(result.isFailure());
    return result.isFailure() ? result.error() : NativeVolumeError();
}

class MessageTable : public ::testing::Test
{
protected:
    NativeVolumeError connectApp(NativeVolumeSource source)
    {
        AppVolume controller(source, desk.scripting);
        return failureOf(await([&](auto done) { controller.connect({}, done); }));
    }
    NativeVolumeError connectBrowser(NativeVolumeSource source)
    {
        BrowserMediaVolume controller(source, desk.scripting, desk.workspace);
        return failureOf(await([&](auto done) { controller.connect({}, done); }));
    }
    Desk desk;
};

TEST_F(MessageTable, AppNotRunningFromTheScriptReply)
{
    desk.app("com.apple.Music", 40).running = false;
    const auto error = connectApp(NativeVolumeSource::appleMusic);
    EXPECT_EQ(error.message, "Music isn't open.");
    EXPECT_EQ(error.steps, (QStringList { "Open the Music app.", kTryAgain }));
    // The script returned before addressing Music: nothing was set and Music was not launched.
    EXPECT_FALSE(desk.scripting.app("com.apple.Music")->running);
    EXPECT_TRUE(desk.scripting.app("com.apple.Music")->commands.empty());
}

TEST_F(MessageTable, BrowserNotRunningAtConnect)
{
    const auto error = connectBrowser(NativeVolumeSource::chrome);
    EXPECT_EQ(error.message, "Google Chrome isn't open.");
    EXPECT_EQ(error.steps, (QStringList { "Open Google Chrome.", kTryAgain }));
}

TEST_F(MessageTable, AppReplyNotParseable)
{
    desk.app("com.spotify.client", 150); // a volume above 100 % is not a volume
    const auto error = connectApp(NativeVolumeSource::spotify);
    EXPECT_EQ(error.message, "Spotify returned an invalid volume.");
    EXPECT_EQ(error.steps, (QStringList { "Restart Spotify.", kTryAgain }));
}

TEST_F(MessageTable, BrowserReplyNotParseable)
{
    FakeTab hostile = plainTab("https://www.youtube.com/watch?v=1");
    hostile.rawReply = QStringLiteral("{\"key\":\"abcd1234\",\"title\":\"x\"");
    desk.browser("com.apple.Safari", "Safari", 501, { window({ hostile }) });
    const auto error = connectBrowser(NativeVolumeSource::safari);
    EXPECT_EQ(error.message, "Safari tabs returned an invalid volume.");
    EXPECT_EQ(error.steps, (QStringList { "Reload the tab.", kTryAgain }));
}

TEST_F(MessageTable, AppleEventsNotPermitted)
{
    desk.app("com.apple.TV", 40).refusesAutomation = true;
    const auto error = connectApp(NativeVolumeSource::appleTV);
    EXPECT_EQ(error.message, "Sonaric isn't allowed to control TV.");
    EXPECT_EQ(error.steps, (QStringList { kAutomation1, "Under Sonaric, turn on TV.", kTryAgain }));
}

TEST_F(MessageTable, BrowserRefusesJavaScriptFromAppleEvents)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
            { window({ pageTab("https://www.youtube.com/watch?v=1", "abcd1234", "Song") }) })
        .javaScriptBlocked
        = true;
    const auto error = connectBrowser(NativeVolumeSource::chrome);
    EXPECT_EQ(error.message, "Google Chrome is blocking JavaScript from Apple Events.");
    EXPECT_EQ(error.steps, (QStringList { kChromeJavaScript, kTryAgain }));
}

TEST_F(MessageTable, AnyOtherScriptErrorShowsItsText)
{
    desk.app("com.spotify.client", 40).timesOut = true;
    const auto error = connectApp(NativeVolumeSource::spotify);
    EXPECT_EQ(error.message, "Spotify got an error: AppleEvent timed out.");
    EXPECT_EQ(error.steps, (QStringList { kAutomation1, "Under Sonaric, turn on Spotify.", kTryAgain }));
}

TEST_F(MessageTable, AnyOtherEventErrorWithoutTextNamesTheNumber)
{
    FakeTab broken = plainTab("https://www.twitch.tv/somebody");
    broken.error = FakeScriptError { -1708, std::nullopt };
    desk.browser("com.brave.Browser", "Brave Browser", 812, { window({ broken }) });
    const auto error = connectBrowser(NativeVolumeSource::brave);
    EXPECT_EQ(error.message, "Brave Browser returned error -1708.");
    EXPECT_EQ(error.steps,
        (QStringList { kAutomation1, "Under Sonaric, turn on Brave Browser.",
            "In Brave's menu bar, choose View > Developer > Allow JavaScript from Apple Events.", kTryAgain }));
}

TEST_F(MessageTable, ScriptTextDoesNotCompile)
{
    desk.app("com.apple.Music", 40);
    desk.scripting.failNextScriptCreations(1);
    const auto error = connectApp(NativeVolumeSource::appleMusic);
    EXPECT_EQ(error.message, "Could not create the native volume script.");
    EXPECT_TRUE(error.steps.isEmpty());
}

TEST_F(MessageTable, BrowserNotInstalled)
{
    desk.workspace.setInstalled("com.brave.Browser", false);
    const auto error = connectBrowser(NativeVolumeSource::brave);
    EXPECT_EQ(error.message, "Brave Browser isn't installed.");
    EXPECT_TRUE(error.steps.isEmpty());
}

TEST_F(MessageTable, AppVolumeOutsideTheRange)
{
    desk.app("com.apple.Music", 40);
    AppVolume controller(NativeVolumeSource::appleMusic, desk.scripting);
    const auto error = failureOf(await([&](auto done) { controller.set({ { "", { 1.01f, false } } }, {}, {}, done); }));
    EXPECT_EQ(error.message, "Apple Music volume must be between 0% and 100%.");
    EXPECT_TRUE(error.steps.isEmpty());
    EXPECT_TRUE(desk.scripting.executedScripts().isEmpty());
}

TEST_F(MessageTable, TabVolumeOutsideTheRange)
{
    desk.browser("com.microsoft.edgemac", "Microsoft Edge", 640,
        { window({ pageTab("https://www.netflix.com/watch/1", "abcd1234", "Film") }) });
    BrowserMediaVolume controller(NativeVolumeSource::edge, desk.scripting, desk.workspace);
    const auto error = failureOf(await([&](auto done) {
        controller.set({ { "abcd1234", { 1.2f, false } } }, {}, {}, done);
    }));
    EXPECT_EQ(error.message, "Tab volume must be between 0% and 100%.");
    EXPECT_TRUE(error.steps.isEmpty());
    EXPECT_TRUE(desk.scripting.sentEvents().empty());
}

} // namespace
