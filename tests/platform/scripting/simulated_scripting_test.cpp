// The simulated scripting service: the fake applications understand exactly the connector scripts, and refuse
// anything else.

#include "platform/scripting/sim/simulated_scripting.h"

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

const char* kSpotifyRead = "set targetID to \"com.spotify.client\"\n"
                           "if application id targetID is not running then return \"not-running\"\n"
                           "tell application id targetID\n"
                           "    with timeout of 10 seconds\n"
                           "        \n"
                           "        return (get «property pVol») as text\n"
                           "    end timeout\n"
                           "end tell";

TEST(SimulatedScripting, SpotifyAnswersTheVolumeQuery)
{
    SimulatedScripting scripting;
    scripting.addApp({ "com.spotify.client", true, 37, false, false });
    const auto execution = scripting.executeAppleScript(QString::fromUtf8(kSpotifyRead), "com.spotify.client");
    ASSERT_TRUE(execution.created);
    ASSERT_FALSE(execution.errorInfo);
    EXPECT_EQ(execution.result->stringValue(), "37");
}

TEST(SimulatedScripting, UnknownLinesAreSyntaxErrors)
{
    SimulatedScripting scripting;
    scripting.addApp({ "com.spotify.client", true, 37, false, false });
    QString script = QString::fromUtf8(kSpotifyRead);
    script.replace("        \n", "        do shell script \"x\"\n");
    const auto execution = scripting.executeAppleScript(script, "com.spotify.client");
    ASSERT_TRUE(execution.errorInfo);
    EXPECT_EQ(execution.errorInfo->value(NSAppleScriptErrorNumber).toInt(), -2741);
}

TEST(SimulatedScripting, SpotifyHasNoMuteProperty)
{
    SimulatedScripting scripting;
    scripting.addApp({ "com.spotify.client", true, 37, false, false });
    QString script = QString::fromUtf8(kSpotifyRead);
    script.replace("        \n", "        set «property pMut» to true\n");
    const auto execution = scripting.executeAppleScript(script, "com.spotify.client");
    ASSERT_TRUE(execution.errorInfo);
    EXPECT_EQ(execution.errorInfo->value(NSAppleScriptErrorNumber).toInt(), -1728);
}

TEST(SimulatedScripting, NotRunningAndUnknownApplications)
{
    SimulatedScripting scripting;
    EXPECT_EQ(scripting.executeAppleScript(QString::fromUtf8(kSpotifyRead), "com.spotify.client").result->stringValue(),
        "not-running");
    EXPECT_FALSE(scripting.executeAppleScript("", "com.spotify.client").created);
}

TEST(SimulatedScripting, EventsToAnUnknownProcessFailToSend)
{
    SimulatedScripting scripting;
    const auto result
        = scripting.sendAppleEvent(AppleEventDescriptor::appleEvent(fourCharCode("core"), fourCharCode("getd"),
                                       AppleEventDescriptor::processIdentifier(1), -1, 0),
            10);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, procNotFound);
}

TEST(SimulatedScripting, UnknownEventsAreNotHandled)
{
    SimulatedScripting scripting;
    FakeBrowser chrome;
    chrome.bundleID = "com.google.Chrome";
    chrome.pid = 733;
    scripting.addBrowser(chrome);
    const auto result
        = scripting.sendAppleEvent(AppleEventDescriptor::appleEvent(fourCharCode("core"), fourCharCode("setd"),
                                       AppleEventDescriptor::processIdentifier(733), -1, 0),
            10);
    ASSERT_TRUE(result.reply);
    EXPECT_EQ(result.reply->paramDescriptorForKeyword(keyErrorNumber)->int32Value(), errAEEventNotHandled);
}

TEST(SimulatedScripting, LoadsApplicationsAndBrowsersFromJson)
{
    QString error;
    const auto scripting = SimulatedScripting::fromJson(R"({
        "apps": [ { "bundleID": "com.spotify.client", "volume": 64 }, { "bundleID": "com.apple.Music", "muted": true } ],
        "browsers": [ { "bundleID": "com.google.Chrome", "appName": "Google Chrome", "pid": 733,
                        "windows": [ { "activeTab": 2, "tabs": [ { "url": "https://a.example/" },
                            { "url": "https://www.youtube.com/watch?v=1",
                              "page": { "key": "demo0001", "title": "Song", "volume": 80 } } ] } ] } ]
    })",
        &error);
    ASSERT_TRUE(scripting) << error.toStdString();
    EXPECT_EQ(scripting->app("com.spotify.client")->volume, 64);
    EXPECT_FALSE(scripting->app("com.spotify.client")->hasMute);
    EXPECT_TRUE(scripting->app("com.apple.Music")->muted);
    const FakeBrowser* chrome = scripting->browser(733);
    ASSERT_TRUE(chrome);
    EXPECT_EQ(chrome->windows[0].activeTab, 2);
    EXPECT_EQ(chrome->windows[0].tabs[1].page->volume, 80);
    EXPECT_FALSE(SimulatedScripting::fromJson("[", &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
