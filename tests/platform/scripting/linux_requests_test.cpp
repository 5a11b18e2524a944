// What the Linux service reads out of the connectors' scripts and events: exactly what the real connectors
// send, and nothing that only resembles it; the native-messaging framing.

#include "native/app_volume.h"
#include "native/browser_media_volume.h"
#include "native/chromium_tabs.h"
#include "platform/scripting/linux/app_volume_request.h"
#include "platform/scripting/linux/chromium_request.h"
#include "platform/scripting/linux/native_messaging.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

// The app connector's scripts.

TEST(AppVolumeRequest, EveryScriptTheConnectorWritesIsReadBack)
{
    for (const NativeVolumeSource source :
        { NativeVolumeSource::spotify, NativeVolumeSource::appleMusic, NativeVolumeSource::appleTV }) {
        const bool hasMute = source != NativeVolumeSource::spotify;
        for (const std::optional<int> volume :
            { std::optional<int>(), std::optional<int>(0), std::optional<int>(37), std::optional<int>(100) }) {
            for (const std::optional<bool> muted : { std::optional<bool>(), std::optional<bool>(true) }) {
                const auto request = AppVolumeRequest::read(AppVolume::appleScript(source, volume, muted));
                ASSERT_TRUE(request) << source.bundleID().toStdString();
                EXPECT_EQ(*request,
                    (AppVolumeRequest { source.bundleID(), volume, hasMute ? muted : std::nullopt, hasMute }));
            }
        }
    }
}

TEST(AppVolumeRequest, AnythingElseIsNothing)
{
    const QString good = AppVolume::appleScript(NativeVolumeSource::appleMusic, 40, false);
    ASSERT_TRUE(AppVolumeRequest::read(good));
    const std::pair<QString, QString> edits[] = {
        { "to 40", "to 101" },
        { "to 40", "to 040" },
        { "to 40", "to -4" },
        { "to 40", "to 4.5" },
        { "to 40", "to 40 " },
        { "to 40\n", "to 40\n        set «property pVol» to 41\n" }, // twice
        { "to 40\n        set «property pMut» to false", "to false\n        set «property pVol» to 40" }, // order
        { "pMut» to false", "pMut» to maybe" },
        { "pMut» to false\n", "pMut» to false\n        do shell script \"true\"\n" },
        { "10 seconds", "20 seconds" },
        { "\"com.apple.Music\"", "\"com.apple.Music\\\" & \\\"x\"" },
        { "\n", "\r\n" },
        { "end tell", "end tell\n" },
        { "        return ((get", "        return ((get «property pVol») as text)\n        return ((get" },
    };
    for (const auto& [from, to] : edits) {
        QString changed = good;
        changed.replace(from, to);
        EXPECT_FALSE(AppVolumeRequest::read(changed)) << changed.toStdString();
    }
    EXPECT_FALSE(AppVolumeRequest::read(BrowserMediaVolume::safariScript({}, {})));
    EXPECT_FALSE(AppVolumeRequest::read(""));
}

// The Chromium connector's events.

TEST(ChromiumRequest, TheThreeEventsAreReadBack)
{
    const auto urls = ChromiumRequest::read(ChromiumTabs::tabURLsEvent(733));
    ASSERT_TRUE(urls);
    EXPECT_EQ(urls->kind, ChromiumRequest::Kind::tabURLs);
    EXPECT_EQ(urls->process, 733);
    const auto active = ChromiumRequest::read(ChromiumTabs::activeTabsEvent(734));
    ASSERT_TRUE(active);
    EXPECT_EQ(active->kind, ChromiumRequest::Kind::activeTabs);
    EXPECT_EQ(active->process, 734);
    const QString script = BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, {});
    const auto execute = ChromiumRequest::read(ChromiumTabs::executeEvent(script, 2, 5, 735));
    ASSERT_TRUE(execute);
    EXPECT_EQ(execute->kind, ChromiumRequest::Kind::executeJavaScript);
    EXPECT_EQ(execute->process, 735);
    EXPECT_EQ(execute->window, 2);
    EXPECT_EQ(execute->tab, 5);
    EXPECT_EQ(execute->script, script);
}

TEST(ChromiumRequest, OtherShapesAreNothing)
{
    const QString script = BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, {});
    std::vector<AppleEventDescriptor> events;
    // Another property of the tabs.
    AppleEventDescriptor titles = ChromiumTabs::tabURLsEvent(733);
    auto direct = *titles.paramDescriptorForKeyword(keyDirectObject);
    direct.setParamDescriptor(AppleEventDescriptor::typeCode(fourCharCode("pnam")), keyAEKeyData);
    titles.setParamDescriptor(direct, keyDirectObject);
    events.push_back(titles);
    // An extra parameter.
    AppleEventDescriptor extra = ChromiumTabs::activeTabsEvent(733);
    extra.setParamDescriptor(AppleEventDescriptor::int32(1), fourCharCode("xtra"));
    events.push_back(extra);
    // Not addressed to a process.
    AppleEventDescriptor noTarget = AppleEventDescriptor::appleEvent(
        kAECoreSuite, kAEGetData, AppleEventDescriptor::string("chromium"), kAutoGenerateReturnID, 0);
    noTarget.setParamDescriptor(
        *ChromiumTabs::tabURLsEvent(1).paramDescriptorForKeyword(keyDirectObject), keyDirectObject);
    events.push_back(noTarget);
    // A tab given by a text rather than an index, and a script that is not text.
    AppleEventDescriptor named = ChromiumTabs::executeEvent(script, 1, 1, 733);
    auto tab = *named.paramDescriptorForKeyword(keyDirectObject);
    tab.setParamDescriptor(AppleEventDescriptor::string("1"), keyAEKeyData);
    named.setParamDescriptor(tab, keyDirectObject);
    events.push_back(named);
    AppleEventDescriptor notText = ChromiumTabs::executeEvent(script, 1, 1, 733);
    notText.setParamDescriptor(AppleEventDescriptor::int32(1), fourCharCode("JvSc"));
    events.push_back(notText);
    events.push_back(AppleEventDescriptor::appleEvent(
        fourCharCode("CrSu"), fourCharCode("ExJa"), AppleEventDescriptor::processIdentifier(733), -1, 0));
    for (const AppleEventDescriptor& event : events)
        EXPECT_FALSE(ChromiumRequest::read(event)) << event.debugDescription().toStdString();
}

// The page media script.

TEST(PageScriptRequest, WantedStatesBecomeData)
{
    const NativeVolumeChanges changes { { "zzzz9999", { 0.3f, false } }, { "abcd1234", { 1.0f, true } },
        { "mmmm0000", { -0.0f, false } } };
    const auto chromium
        = PageScriptRequest::read(BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, changes));
    ASSERT_TRUE(chromium);
    EXPECT_FALSE(chromium->pageWorld);
    EXPECT_EQ(chromium->want,
        (QJsonObject { { "abcd1234", QJsonObject { { "volume", 100 }, { "muted", true } } },
            { "mmmm0000", QJsonObject { { "volume", 0 }, { "muted", false } } },
            { "zzzz9999", QJsonObject { { "volume", 30 }, { "muted", false } } } }));
    const auto safari = PageScriptRequest::read(BrowserMediaVolume::javaScript(NativeVolumeSource::safari, {}));
    ASSERT_TRUE(safari);
    EXPECT_TRUE(safari->pageWorld);
    EXPECT_TRUE(safari->want.isEmpty());
    EXPECT_EQ(safari->body, chromium->body);
}

TEST(PageScriptRequest, TheBodyIsTheOneBuiltIntoTheExtension)
{
    QFile module(QStringLiteral(SONARIC_EXTENSION_DIR "/page_media_script.js"));
    ASSERT_TRUE(module.open(QIODevice::ReadOnly));
    const auto match = QRegularExpression("pageMediaScriptDigest = '([0-9a-f]{64})'").match(module.readAll());
    ASSERT_TRUE(match.hasMatch());
    const auto request = PageScriptRequest::read(BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, {}));
    ASSERT_TRUE(request);
    EXPECT_EQ(PageScriptRequest::digest(request->body), match.captured(1).toLatin1());
}

TEST(PageScriptRequest, CodeInPlaceOfDataIsNothing)
{
    const QString good
        = BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, { { "abcd1234", { 0.5f, false } } });
    ASSERT_TRUE(PageScriptRequest::read(good));
    const std::pair<QString, QString> edits[] = {
        { "'abcd1234': {volume: 50, muted: false}", "'abcd1234': {volume: 50, muted: false}, x: alert(1)" },
        { "'abcd1234': {volume: 50, muted: false}",
            "'abcd1234': {volume: 50, muted: false}, 'abcd1234': {volume: 5, muted: true}" },
        { "volume: 50", "volume: 101" },
        { "volume: 50", "volume: 5e1" },
        { "volume: 50", "volume: 050" },
        { "muted: false", "muted: 0" },
        { "'abcd1234'", "'ABCD1234'" },
        { "'abcd1234'", "'abc'" },
        { "const pageWorld = false", "const pageWorld = !0" },
        { "{volume: 50, muted: false}", "{volume: 50, muted: false} " },
        { "})()", "})(); fetch('https://example.com')" },
    };
    for (const auto& [from, to] : edits) {
        QString changed = good;
        changed.replace(from, to);
        EXPECT_FALSE(PageScriptRequest::read(changed)) << to.toStdString();
    }
    EXPECT_FALSE(PageScriptRequest::read("alert(1)"));
    // A different body is read, but it is not the body the extension carries.
    QString other = good;
    other.replace("const host = location.hostname;", "const host = location.hostname; alert(1);");
    const auto changedBody = PageScriptRequest::read(other);
    ASSERT_TRUE(changedBody);
    EXPECT_NE(
        PageScriptRequest::digest(changedBody->body), PageScriptRequest::digest(PageScriptRequest::read(good)->body));
}

// Native-messaging framing.

std::string framed(const std::string& message)
{
    const auto length = std::uint32_t(message.size());
    return std::string(reinterpret_cast<const char*>(&length), 4) + message;
}

TEST(NativeMessaging, MessagesSurviveAnySplitOfTheStream)
{
    const std::string stream = framed(R"({"a":1})") + framed("") + framed(R"({"b":"ü"})");
    for (std::size_t chunk : { std::size_t(1), std::size_t(3), std::size_t(5), stream.size() }) {
        NativeMessaging::FrameReader reader;
        std::vector<std::string> messages;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            reader.append(std::string_view(stream).substr(at, chunk));
            while (auto message = reader.next())
                messages.push_back(*message);
        }
        EXPECT_EQ(messages, (std::vector<std::string> { R"({"a":1})", "", R"({"b":"ü"})" })) << chunk;
        EXPECT_FALSE(reader.failed());
    }
    EXPECT_EQ(NativeMessaging::frame(R"({"a":1})"), framed(R"({"a":1})"));
}

TEST(NativeMessaging, AnOversizedMessageCostsOnlyItself)
{
    const std::string big(NativeMessaging::maximumMessageSize + 1, 'x');
    EXPECT_EQ(NativeMessaging::frame(big), "");
    const std::string stream = framed(big) + framed("after");
    for (std::size_t chunk : { std::size_t(4096), std::size_t(2), stream.size() }) {
        NativeMessaging::FrameReader reader;
        std::vector<std::string> messages;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            reader.append(std::string_view(stream).substr(at, chunk));
            while (auto message = reader.next())
                messages.push_back(*message);
        }
        EXPECT_EQ(messages, std::vector<std::string> { "after" }) << chunk;
        EXPECT_EQ(reader.dropped(), 1);
    }
    // A length no browser would ever send: the stream is not native messaging.
    NativeMessaging::FrameReader reader;
    reader.append(framed("").replace(0, 4, std::string("\xff\xff\xff\x7f", 4)) + framed("x"));
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.failed());
}

} // namespace
