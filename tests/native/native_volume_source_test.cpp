// The connector sources with their texts, the records, and the error constructors.

#include "native/native_volume_error.h"
#include "native/native_volume_records.h"
#include "native/native_volume_source.h"
#include "native_test_support.h"

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

const QString kTryAgain = QStringLiteral("Click Try Again.");
const QString kAutomation1 = QStringLiteral("Open System Settings > Privacy & Security > Automation.");

TEST(NativeVolumeSource, AllCasesAreInDeclarationOrder)
{
    const auto& all = NativeVolumeSource::allCases();
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(all[0], NativeVolumeSource::safari);
    EXPECT_EQ(all[1], NativeVolumeSource::chrome);
    EXPECT_EQ(all[2], NativeVolumeSource::edge);
    EXPECT_EQ(all[3], NativeVolumeSource::brave);
    EXPECT_EQ(all[4], NativeVolumeSource::chromium);
    EXPECT_EQ(all[5], NativeVolumeSource::spotify);
    EXPECT_EQ(all[6], NativeVolumeSource::appleMusic);
    EXPECT_EQ(all[7], NativeVolumeSource::appleTV);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(all[std::size_t(i)].isBrowser(), i < 5);
}

struct Texts {
    NativeVolumeSource source;
    const char* bundleID;
    const char* appName;
    const char* menuName;
    const char* title;
};

TEST(NativeVolumeSource, PerSourceTexts)
{
    const Texts table[] = {
        { NativeVolumeSource::safari, "com.apple.Safari", "Safari", "Safari", "Safari tabs" },
        { NativeVolumeSource::chrome, "com.google.Chrome", "Google Chrome", "Chrome", "Chrome tabs" },
        { NativeVolumeSource::edge, "com.microsoft.edgemac", "Microsoft Edge", "Edge", "Edge tabs" },
        { NativeVolumeSource::brave, "com.brave.Browser", "Brave Browser", "Brave", "Brave tabs" },
        { NativeVolumeSource::chromium, "org.chromium.Chromium", "Chromium", "Chromium", "Chromium tabs" },
        { NativeVolumeSource::spotify, "com.spotify.client", "Spotify", "Spotify", "Spotify" },
        { NativeVolumeSource::appleMusic, "com.apple.Music", "Music", "Music", "Apple Music" },
        { NativeVolumeSource::appleTV, "com.apple.TV", "TV", "TV", "Apple TV" },
    };
    for (const Texts& row : table) {
        EXPECT_EQ(row.source.bundleID(), QString::fromUtf8(row.bundleID));
        EXPECT_EQ(row.source.appName(), QString::fromUtf8(row.appName));
        EXPECT_EQ(row.source.menuName(), QString::fromUtf8(row.menuName));
        EXPECT_EQ(row.source.title(), QString::fromUtf8(row.title));
    }
}

TEST(NativeVolumeSource, OpenStepsThroughNotRunningFailure)
{
    const std::pair<NativeVolumeSource, const char*> table[] = {
        { NativeVolumeSource::safari, "Open Safari." },
        { NativeVolumeSource::chrome, "Open Google Chrome." },
        { NativeVolumeSource::edge, "Open Microsoft Edge." },
        { NativeVolumeSource::brave, "Open Brave Browser." },
        { NativeVolumeSource::chromium, "Open Chromium." },
        { NativeVolumeSource::spotify, "Open the Spotify desktop app." },
        { NativeVolumeSource::appleMusic, "Open the Music app." },
        { NativeVolumeSource::appleTV, "Open the TV app." },
    };
    for (const auto& [source, step] : table)
        EXPECT_EQ(NativeVolumeError::failure(source, "not-running").steps,
            (QStringList { QString::fromUtf8(step), kTryAgain }));
}

TEST(NativeVolumeSource, SwitchHelp)
{
    EXPECT_EQ(NativeVolumeSource(NativeVolumeSource::brave).switchHelp(),
        "Give each playing tab its own volume (YouTube, Netflix, Twitch and more). If it can't connect, Settings > "
        "Connectors shows how to fix it.");
    EXPECT_EQ(NativeVolumeSource(NativeVolumeSource::appleMusic).switchHelp(),
        "Control Music's own volume. If it can't connect, Settings > Connectors shows how to fix it.");
    EXPECT_EQ(NativeVolumeSource(NativeVolumeSource::spotify).switchHelp(),
        "Control Spotify's own volume. If it can't connect, Settings > Connectors shows how to fix it.");
}

TEST(NativeVolumeSource, ConnectorForBundleIDIsExactAndCaseSensitive)
{
    EXPECT_EQ(NativeVolumeSource::connector("com.apple.Music"), NativeVolumeSource(NativeVolumeSource::appleMusic));
    EXPECT_EQ(NativeVolumeSource::connector("com.apple.music"), std::nullopt);
    EXPECT_EQ(NativeVolumeSource::connector("com.google.Chrome"), NativeVolumeSource(NativeVolumeSource::chrome));
    EXPECT_EQ(NativeVolumeSource::connector("com.google.Chrome.helper"), std::nullopt);
    EXPECT_EQ(NativeVolumeSource::connector(""), std::nullopt);
    for (const NativeVolumeSource source : NativeVolumeSource::allCases())
        EXPECT_EQ(NativeVolumeSource::connector(source.bundleID()), source);
}

TEST(NativeVolumeSource, ConnectorForLinuxDesktopIDs)
{
    const std::pair<const char*, std::optional<NativeVolumeSource>> table[] = {
        { "spotify", NativeVolumeSource::spotify },
        { "com.spotify.Client", NativeVolumeSource::spotify }, // Flatpak
        { "spotify_spotify.desktop", NativeVolumeSource::spotify }, // Snap, with the file's suffix
        { "google-chrome", NativeVolumeSource::chrome },
        { "google-chrome-beta", NativeVolumeSource::chrome },
        { "microsoft-edge", NativeVolumeSource::edge },
        { "com.microsoft.Edge", NativeVolumeSource::edge },
        { "brave-browser", NativeVolumeSource::brave },
        { "chromium", NativeVolumeSource::chromium },
        { "chromium-browser", NativeVolumeSource::chromium },
        { "chromium_chromium", NativeVolumeSource::chromium },
        { "Chromium", std::nullopt }, // exact, like the bundle identifiers
        { "chromium.desktop.desktop", std::nullopt },
        { "firefox", std::nullopt },
        { "spotify-launcher", std::nullopt },
    };
    for (const auto& [id, source] : table)
        EXPECT_EQ(NativeVolumeSource::connector(QString::fromUtf8(id)), source) << id;
}

TEST(NativeVolumeSource, IsInstalledAsksTheWorkspaceEveryTime)
{
    Scene scene;
    scene.installed = { QStringLiteral("com.apple.TV") };
    SimulatedWorkspace workspace(scene);
    const NativeVolumeSource tv = NativeVolumeSource::appleTV;
    const NativeVolumeSource brave = NativeVolumeSource::brave;
    EXPECT_TRUE(tv.isInstalled(workspace));
    EXPECT_FALSE(brave.isInstalled(workspace));
    workspace.setInstalled("com.brave.Browser", true);
    workspace.setInstalled("com.apple.TV", false);
    EXPECT_TRUE(brave.isInstalled(workspace));
    EXPECT_FALSE(tv.isInstalled(workspace));
}

TEST(NativeVolumeRecords, EqualityOverAllFields)
{
    const NativeVolumeTab tab { "abcd", "Song", true, { 0.5f, false } };
    NativeVolumeTab other = tab;
    EXPECT_EQ(tab, other);
    other.title = "Other";
    EXPECT_NE(tab, other);
    const NativeVolumeConnection app { NativeVolumeState { 0.3f, true }, {} };
    EXPECT_EQ(app, (NativeVolumeConnection { NativeVolumeState { 0.3f, true }, {} }));
    EXPECT_NE(app, (NativeVolumeConnection { NativeVolumeState { 0.3f, false }, {} }));
    EXPECT_NE(NativeVolumeConnection {}, (NativeVolumeConnection { std::nullopt, { tab } }));
}

TEST(NativeVolumeError, DescriptionIsTheMessage)
{
    const NativeVolumeError error("Something failed.", { "One." });
    EXPECT_EQ(error.errorDescription(), "Something failed.");
}

// Edge cases of the sources and records.

TEST(NativeVolumeError, NotRunningForSpotify)
{
    const auto error = NativeVolumeError::failure(NativeVolumeSource::spotify, "not-running");
    EXPECT_EQ(error.message, "Spotify isn't open.");
    EXPECT_EQ(error.steps, (QStringList { "Open the Spotify desktop app.", kTryAgain }));
}

TEST(NativeVolumeError, InvalidForSafariAndForApps)
{
    const auto safari = NativeVolumeError::failure(NativeVolumeSource::safari, "invalid");
    EXPECT_EQ(safari.message, "Safari tabs returned an invalid volume.");
    EXPECT_EQ(safari.steps, (QStringList { "Reload the tab.", kTryAgain }));
    const auto edge = NativeVolumeError::failure(NativeVolumeSource::edge, "anything else");
    EXPECT_EQ(edge.message, "Edge tabs returned an invalid volume.");
    EXPECT_EQ(NativeVolumeError::failure(NativeVolumeSource::spotify, "invalid").steps,
        (QStringList { "Restart Spotify.", kTryAgain }));
    EXPECT_EQ(NativeVolumeError::failure(NativeVolumeSource::appleMusic, "invalid").steps,
        (QStringList { "Restart Music.", kTryAgain }));
    EXPECT_EQ(NativeVolumeError::failure(NativeVolumeSource::appleTV, "invalid").message,
        "Apple TV returned an invalid volume.");
    EXPECT_EQ(NativeVolumeError::failure(NativeVolumeSource::appleTV, "invalid").steps,
        (QStringList { "Restart TV.", kTryAgain }));
}

TEST(NativeVolumeError, RefusedAppleEventsForTV)
{
    const auto error = NativeVolumeError::scriptFailure(NativeVolumeSource::appleTV, -1743, "whatever it says");
    EXPECT_EQ(error.message, "Sonaric isn't allowed to control TV.");
    EXPECT_EQ(error.steps, (QStringList { kAutomation1, "Under Sonaric, turn on TV.", kTryAgain }));
}

TEST(NativeVolumeError, JavaScriptTextFromAnAppSourceIsNotTheBlockingMessage)
{
    const QString detail = "Please allow JavaScript from Apple Events first.";
    const auto error = NativeVolumeError::scriptFailure(NativeVolumeSource::spotify, 8, detail);
    EXPECT_EQ(error.message, detail);
    EXPECT_EQ(error.steps, (QStringList { kAutomation1, "Under Sonaric, turn on Spotify.", kTryAgain }));
}

TEST(NativeVolumeError, JavaScriptTextFromChromeIsTheBlockingMessage)
{
    const auto error = NativeVolumeError::scriptFailure(
        NativeVolumeSource::chrome, 8, "Please allow JavaScript from Apple Events first.");
    EXPECT_EQ(error.message, "Google Chrome is blocking JavaScript from Apple Events.");
    EXPECT_EQ(error.steps,
        (QStringList {
            "In Chrome's menu bar, choose View > Developer > Allow JavaScript from Apple Events.", kTryAgain }));
}

TEST(NativeVolumeError, BlockingTextIsMatchedWithoutRegardToCase)
{
    EXPECT_EQ(NativeVolumeError::scriptFailure(
                  NativeVolumeSource::brave, 12, "executing javascript THROUGH applescript is off")
                  .message,
        "Brave Browser is blocking JavaScript from Apple Events.");
    EXPECT_EQ(NativeVolumeError::scriptFailure(NativeVolumeSource::edge, 0, "x").steps.size(), 4);
}

TEST(NativeVolumeError, ABlankReportedTextIsReplacedByTheErrorNumber)
{
    for (const QString& blank : { QString(), QStringLiteral(""), QStringLiteral(" \n\t") }) {
        EXPECT_EQ(NativeVolumeError::scriptFailure(NativeVolumeSource::chrome, -1708, blank).message,
            "Google Chrome returned error -1708.");
        EXPECT_EQ(NativeVolumeError::scriptFailure(NativeVolumeSource::spotify, 0, blank).message,
            "Spotify returned error 0.");
    }
}

TEST(NativeVolumeError, OtherErrorForSafariHasFiveSteps)
{
    const auto error = NativeVolumeError::scriptFailure(NativeVolumeSource::safari, 0, "Safari got an error: nope.");
    EXPECT_EQ(error.message, "Safari got an error: nope.");
    EXPECT_EQ(error.steps,
        (QStringList { kAutomation1, "Under Sonaric, turn on Safari.",
            "In Safari, choose Safari > Settings > Advanced and turn on \"Show features for web developers\".",
            "In Safari Settings, open the Developer tab and turn on \"Allow JavaScript from Apple Events\".",
            kTryAgain }));
}

TEST(NativeVolumeError, BlockingSafariNamesBothSafariSteps)
{
    const auto error = NativeVolumeError::scriptFailure(NativeVolumeSource::safari, 8,
        "You must enable the 'Allow JavaScript from Apple Events' option in Safari's Develop menu.");
    EXPECT_EQ(error.message, "Safari is blocking JavaScript from Apple Events.");
    EXPECT_EQ(error.steps.size(), 3);
    EXPECT_TRUE(error.steps[0].startsWith("In Safari, choose Safari > Settings > Advanced"));
}

TEST(NativeVolumeError, PlatformStepsReplaceTheAutomationAndJavaScriptSteps)
{
    const QStringList linux { "Open chrome://extensions." };
    const auto refused = NativeVolumeError::scriptFailure(NativeVolumeSource::chromium, -1743, "x", linux);
    EXPECT_EQ(refused.message, "Sonaric isn't allowed to control Chromium.");
    EXPECT_EQ(refused.steps, (QStringList { "Open chrome://extensions.", kTryAgain }));
    const auto blocking = NativeVolumeError::scriptFailure(
        NativeVolumeSource::chromium, 8, "JavaScript from Apple Events is off", linux);
    EXPECT_EQ(blocking.message, "Chromium is blocking JavaScript from Apple Events.");
    EXPECT_EQ(blocking.steps, (QStringList { "Open chrome://extensions.", kTryAgain }));
    const auto other = NativeVolumeError::scriptFailure(NativeVolumeSource::chromium, -600, "It went wrong.", linux);
    EXPECT_EQ(other, NativeVolumeError("It went wrong.", { "Open chrome://extensions.", kTryAgain }));
    // No steps of its own on the platform: only the retry.
    EXPECT_EQ(NativeVolumeError::scriptFailure(NativeVolumeSource::spotify, 0, "Nope.", QStringList {}).steps,
        (QStringList { kTryAgain }));
}

} // namespace
