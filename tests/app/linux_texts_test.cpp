// The simulated system as a Linux user meets it: the simulated applications fail as the other platform's do, and
// what the connectors then show must be the steps that are true on Linux, the same the Linux scripting service
// gives, never the other platform's places.

#include "../native/native_test_support.h"
#include "app/linux_texts_scripting.h"
#include "app/platform.h"
#include "native/app_volume.h"
#include "native/browser_media_volume.h"
#include "platform/scripting/linux/browser_extension_setup.h"
#include "platform/workspace/linux_application_ids.h"

#include <gtest/gtest.h>

#include <functional>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

const QString kFolder = QStringLiteral("/home/someone/.local/share/sonaric/browser-extension");
const QString kTryAgain = QStringLiteral("Click Try Again.");

const LinuxApplication& chrome()
{
    return *LinuxApplicationIds::builtIn().forBundleID(QStringLiteral("com.google.Chrome"));
}

FakeBrowser& playingChrome(Desk& desk)
{
    return desk.browser(QStringLiteral("com.google.Chrome"), QStringLiteral("Google Chrome"), 733,
        { window({ pageTab(QStringLiteral("https://www.youtube.com/watch?v=1"), QStringLiteral("abcd1234"),
            QStringLiteral("Song")) }) });
}

/// The desk's simulated scripting, lent to the wrapper that the program would give it to.
class Lent final : public Scripting
{
public:
    explicit Lent(Scripting& scripting)
        : m_scripting(scripting)
    {
    }
    AppleScriptExecution executeAppleScript(const QString& source, const QString& target) override
    {
        return m_scripting.executeAppleScript(source, target);
    }
    AppleEventSendResult sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds) override
    {
        return m_scripting.sendAppleEvent(event, timeoutSeconds);
    }

private:
    Scripting& m_scripting;
};

struct Situation {
    const char* name;
    NativeVolumeSource source;
    std::function<void(Desk&)> arrange;
    QString message;
    QStringList steps; ///< before "Click Try Again."
};

} // namespace

TEST(LinuxTexts, TheSimulatedSystemShowsTheLinuxSteps)
{
    const Situation situations[] = {
        { "a browser that refuses the connector", NativeVolumeSource::chrome,
            [](Desk& desk) { playingChrome(desk).refusesAutomation = true; },
            "Sonaric's extension in Google Chrome isn't answering.",
            BrowserExtensionSetup::addExtensionSteps(chrome(), kFolder) },
        { "a browser that blocks page scripts", NativeVolumeSource::chrome,
            [](Desk& desk) { playingChrome(desk).javaScriptBlocked = true; },
            "Google Chrome doesn't let Sonaric's extension into this tab's site.",
            BrowserExtensionSetup::siteAccessSteps(chrome()) },
        { "a browser that does not answer in time", NativeVolumeSource::chrome,
            [](Desk& desk) { playingChrome(desk).timesOut = true; },
            "Sonaric's extension in Google Chrome did not answer in time.",
            BrowserExtensionSetup::reloadExtensionSteps(chrome()) },
        { "a page script that fails in the tab", NativeVolumeSource::brave,
            [](Desk& desk) {
                FakeTab broken = plainTab(QStringLiteral("https://www.twitch.tv/somebody"));
                broken.error = FakeScriptError { -1708, std::nullopt };
                desk.browser(
                    QStringLiteral("com.brave.Browser"), QStringLiteral("Brave Browser"), 812, { window({ broken }) });
            },
            "Brave Browser returned error -1708.", { "Reload the tab." } },
        { "a player that refuses the connector", NativeVolumeSource::spotify,
            [](Desk& desk) { desk.app(QStringLiteral("com.spotify.client"), 40).refusesAutomation = true; },
            "Spotify did not answer in time.", { "Restart Spotify." } },
        { "a player that does not answer", NativeVolumeSource::spotify,
            [](Desk& desk) { desk.app(QStringLiteral("com.spotify.client"), 40).timesOut = true; },
            "Spotify did not answer in time.", { "Restart Spotify." } },
        // No Linux build: no steps at all rather than another platform's.
        { "an application Linux does not have", NativeVolumeSource::appleTV,
            [](Desk& desk) { desk.app(QStringLiteral("com.apple.TV"), 40).refusesAutomation = true; },
            "Sonaric isn't allowed to control TV.", {} },
    };
    for (const Situation& situation : situations) {
        SCOPED_TRACE(situation.name);
        Desk desk;
        situation.arrange(desk);
        LinuxTextsScripting scripting(std::make_unique<Lent>(desk.scripting), desk.workspace, kFolder);
        const NativeVolumeResult result = [&] {
            if (situation.source.isBrowser()) {
                BrowserMediaVolume controller(situation.source, scripting, desk.workspace);
                return await([&](auto done) { controller.connect({}, done); });
            }
            AppVolume controller(situation.source, scripting);
            return await([&](auto done) { controller.connect({}, done); });
        }();
        ASSERT_TRUE(result.isFailure());
        EXPECT_EQ(result.error().message, situation.message);
        EXPECT_EQ(result.error().steps, situation.steps + QStringList { kTryAgain });
        for (const QString& step : result.error().steps) {
            EXPECT_FALSE(step.contains("System Settings") || step.contains("Apple Events") || step.contains("menu bar"))
                << step.toStdString();
        }
    }
}

TEST(LinuxTexts, TheDemoAndAnySceneGoThroughThem)
{
    PlatformChoice choice;
    choice.kind = PlatformChoice::Kind::sim;
    const Platform demo = makePlatform(choice);
    ASSERT_TRUE(demo.error.isEmpty()) << demo.error.toStdString();
    EXPECT_NE(dynamic_cast<LinuxTextsScripting*>(demo.scripting.get()), nullptr);
}
