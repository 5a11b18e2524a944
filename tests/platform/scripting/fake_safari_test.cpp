// The fake Safari reads the connector's script by what it does: the same script in other clothes (spacing,
// continuations, comments, letter case, variable names) runs the same, and anything that does something else is a
// syntax error. The scripts come from the real connector.

#include "native/browser_media_volume.h"
#include "platform/scripting/sim/safari_connector_script.h"
#include "platform/scripting/sim/simulated_scripting.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

const QStringList kRemembered { "https://example.com/a?b=1", "http://radio.example.org/live" };

QString connectorScript()
{
    return BrowserMediaVolume::safariScript({ { "abcd1234", { 0.4f, true } } }, kRemembered);
}

FakeTab pageTab(const QString& url, const QString& key)
{
    FakeTab tab;
    tab.url = url;
    tab.page = FakePage { key, "Song", true, true, 100, false };
    return tab;
}

/// Runs `script` in a Safari whose tabs each take another way into the scan, and says what it gave.
QString runInSafari(const QString& script)
{
    SimulatedScripting scripting;
    FakeBrowser safari;
    safari.bundleID = "com.apple.Safari";
    safari.appName = "Safari";
    safari.pid = 501;
    FakeWindow window;
    window.activeTab = 1;
    window.tabs = { pageTab("https://a.example/", "abcd1234"), pageTab("https://WWW.YouTube.com/watch", "efgh5678"),
        pageTab("http://radio.example.org/live", "ijkl9012"), pageTab("https://b.example/", "mnop3456") };
    safari.windows = { window };
    scripting.addBrowser(safari);
    const auto execution = scripting.executeAppleScript(script, "com.apple.Safari");
    if (execution.errorInfo)
        return "error " + execution.errorInfo->value(NSAppleScriptErrorNumber).toString();
    return execution.result->stringValue().value_or("?");
}

QString replaced(QString text, const QString& from, const QString& to)
{
    EXPECT_TRUE(text.contains(from)) << from.toStdString();
    return text.replace(from, to);
}

/// `script` with `change` made to its AppleScript only, not to the page script's literal (whose text is data).
template <typename Change> QString reformatted(const QString& script, Change change)
{
    const qsizetype start = script.indexOf("do JavaScript \"") + 15;
    const qsizetype end = script.indexOf("\" in browserTab");
    QString before = script.left(start);
    QString after = script.mid(end);
    change(before);
    change(after);
    return before + script.mid(start, end - start) + after;
}

TEST(FakeSafari, UnderstandsTheConnectorScriptInOtherFormatting)
{
    const QString original = connectorScript();
    const auto parts = SafariConnectorScript::read(original);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->mediaURLs, kRemembered);
    EXPECT_EQ(parts->mediaSites, BrowserMediaVolume::mediaSites());
    EXPECT_EQ(parts->pageScript,
        BrowserMediaVolume::javaScript(NativeVolumeSource::safari, { { "abcd1234", { 0.4f, true } } }));
    const QString reply = runInSafari(original);
    ASSERT_TRUE(reply.startsWith("[{")) << reply.toStdString();
    EXPECT_TRUE(reply.contains("\"volume\":40}"));
    EXPECT_FALSE(reply.contains("mnop3456")); // a background tab on no media site and not remembered

    const struct {
        const char* name;
        QString script;
    } cases[] = {
        { "tabs for indentation", reformatted(original, [](QString& s) { s.replace("    ", "\t"); }) },
        { "no indentation, blank lines",
            reformatted(original,
                [](QString& s) {
                    s.replace(QRegularExpression("^ +", QRegularExpression::MultilineOption), "").replace("\n", "\n\n");
                }) },
        { "CRLF line ends", reformatted(original, [](QString& s) { s.replace("\n", "\r\n"); }) },
        { "continued lines",
            replaced(original, " or tabURL is in mediaURLs or ", " ¬\n        or tabURL is in mediaURLs ¬\n or ") },
        { "comments",
            replaced(replaced(original, "tell application \"Safari\"\n",
                         "-- ask Safari\ntell application \"Safari\" # every window\n(* the tabs,\n(* nested *) *)\n"),
                "end isMediaSite", "end isMediaSite -- done") },
        { "other case",
            replaced(replaced(original, "tell application", "TELL Application"), "do JavaScript", "DO javascript") },
        { "other variable names", replaced(replaced(original, "browserTab", "aTab"), "tabURL", "theAddress") },
        { "tight list",
            replaced(original, "\"https://example.com/a?b=1\", \"http", "\"https://example.com/a?b=1\",\"http") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = SafariConnectorScript::read(c.script);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->mediaURLs, parts->mediaURLs);
        EXPECT_EQ(read->mediaSites, parts->mediaSites);
        EXPECT_EQ(read->pageScript, parts->pageScript);
        EXPECT_EQ(runInSafari(c.script), reply);
    }
}

TEST(FakeSafari, RefusesScriptsThatDoSomethingElse)
{
    const QString original = connectorScript();
    const struct {
        const char* name;
        QString script;
    } cases[] = {
        { "another operation", "tell application \"Safari\" to get URL of every tab of every window" },
        { "an extra command", replaced(original, "    end timeout", "        close every window\n    end timeout") },
        { "a command behind an if",
            replaced(original, "end isMediaSite", "end isMediaSite\nif true then do shell script \"rm x\"") },
        { "JavaScript in another tab", replaced(original, "\" in browserTab", "\" in current tab of window 1") },
        { "no remembered URLs in the tab rule", replaced(original, " or tabURL is in mediaURLs", "") },
        { "a remembered list never set", replaced(original, "set mediaURLs to {", "set otherURLs to {") },
        { "steps out of order",
            replaced(replaced(original, "if application \"Safari\" is not running then return \"not-running\"\n", ""),
                "    end timeout\n",
                "    end timeout\nif application \"Safari\" is not running then return \"not-running\"\n") },
        { "another application", replaced(original, "tell application \"Safari\"", "tell application \"Finder\"") },
        { "a site clause that disagrees",
            replaced(original, "h ends with \".youtube.com\"", "h ends with \".example.com\"") },
        { "an unknown escape", replaced(original, "set replies to {}", "set replies to {\"\\q\"}") },
        { "an unclosed comment", "(* " + original },
        { "half a script", original.left(original.indexOf("end tell")) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(SafariConnectorScript::read(c.script));
        EXPECT_EQ(runInSafari(c.script), "error -2741");
    }
}

} // namespace
