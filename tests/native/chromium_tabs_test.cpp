// Chromium tabs: the Apple events ChromiumTabs builds, and its error rules against the simulated browsers.

#include "native/browser_media_volume.h"
#include "native/chromium_tabs.h"
#include "native_test_support.h"

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

AppleEventDescriptor specifier(
    FourCharCode want, AppleEventDescriptor from, FourCharCode form, AppleEventDescriptor seld)
{
    AppleEventDescriptor record = AppleEventDescriptor::record();
    record.setParamDescriptor(AppleEventDescriptor::typeCode(want), fourCharCode("want"));
    record.setParamDescriptor(from, fourCharCode("from"));
    record.setParamDescriptor(AppleEventDescriptor::enumCode(form), fourCharCode("form"));
    record.setParamDescriptor(seld, fourCharCode("seld"));
    return *record.coerceToDescriptorType(fourCharCode("obj "));
}

AppleEventDescriptor all()
{
    const std::uint32_t code = 0x616c6c20; // 'all ' as a native 32-bit value
    return AppleEventDescriptor::withData(fourCharCode("abso"), QByteArray(reinterpret_cast<const char*>(&code), 4));
}

TEST(ChromiumTabsCode, FirstCharacterInTheMostSignificantByte)
{
    EXPECT_EQ(ChromiumTabs::code("CrSu"), 0x43725375u);
    EXPECT_EQ(ChromiumTabs::code("ExJa"), 0x45784a61u);
    EXPECT_EQ(ChromiumTabs::code("all "), 0x616c6c20u);
    EXPECT_EQ(ChromiumTabs::code("----"), 0x2d2d2d2du);
    EXPECT_EQ(ChromiumTabs::code("URL "), fourCharCode("URL "));
}

TEST(ChromiumTabsEvents, TabURLsOfEveryTabOfEveryWindow)
{
    const AppleEventDescriptor event = ChromiumTabs::tabURLsEvent(733);
    EXPECT_EQ(event.eventClass(), fourCharCode("core"));
    EXPECT_EQ(event.eventID(), fourCharCode("getd"));
    EXPECT_EQ(event.returnID(), -1);
    EXPECT_EQ(event.transactionID(), 0);
    EXPECT_EQ(event.target(), AppleEventDescriptor::processIdentifier(733));
    const auto windows
        = specifier(fourCharCode("cwin"), AppleEventDescriptor::nullDescriptor(), fourCharCode("indx"), all());
    const auto tabs = specifier(fourCharCode("CrTb"), windows, fourCharCode("indx"), all());
    const auto url = specifier(
        fourCharCode("prop"), tabs, fourCharCode("prop"), AppleEventDescriptor::typeCode(fourCharCode("URL ")));
    EXPECT_EQ(event.paramDescriptorForKeyword(fourCharCode("----")), url) << event.debugDescription().toStdString();
    EXPECT_EQ(event.parameters().size(), 1u);
}

TEST(ChromiumTabsEvents, ActiveTabIndexOfEveryWindow)
{
    const AppleEventDescriptor event = ChromiumTabs::activeTabsEvent(812);
    EXPECT_EQ(event.eventClass(), fourCharCode("core"));
    EXPECT_EQ(event.eventID(), fourCharCode("getd"));
    const auto windows
        = specifier(fourCharCode("cwin"), AppleEventDescriptor::nullDescriptor(), fourCharCode("indx"), all());
    EXPECT_EQ(event.paramDescriptorForKeyword(fourCharCode("----")),
        specifier(
            fourCharCode("prop"), windows, fourCharCode("prop"), AppleEventDescriptor::typeCode(fourCharCode("acTI"))));
}

TEST(ChromiumTabsEvents, ExecuteJavaScriptInOneTabUnescaped)
{
    const QString script = "(() => \"quoted\\\\\")()";
    const AppleEventDescriptor event = ChromiumTabs::executeEvent(script, 2, 5, 640);
    EXPECT_EQ(event.eventClass(), fourCharCode("CrSu"));
    EXPECT_EQ(event.eventID(), fourCharCode("ExJa"));
    EXPECT_EQ(event.returnID(), -1);
    EXPECT_EQ(event.transactionID(), 0);
    EXPECT_EQ(event.target(), AppleEventDescriptor::processIdentifier(640));
    const auto window = specifier(fourCharCode("cwin"), AppleEventDescriptor::nullDescriptor(), fourCharCode("indx"),
        AppleEventDescriptor::int32(2));
    EXPECT_EQ(event.paramDescriptorForKeyword(fourCharCode("----")),
        specifier(fourCharCode("CrTb"), window, fourCharCode("indx"), AppleEventDescriptor::int32(5)));
    EXPECT_EQ(event.paramDescriptorForKeyword(fourCharCode("JvSc")), AppleEventDescriptor::string(script));
}

class ChromiumRun : public ::testing::Test
{
protected:
    std::optional<QStringList> run(NativeVolumeSource source, const QStringList& mediaURLs = {})
    {
        return ChromiumTabs::run(
            desk.scripting, desk.workspace, BrowserMediaVolume::javaScript(source, {}), source, mediaURLs);
    }
    std::optional<NativeVolumeError> runError(NativeVolumeSource source)
    {
        try {
            run(source);
        } catch (const NativeVolumeError& error) {
            return error;
        }
        return std::nullopt;
    }
    static FakeTab failing(const QString& url, int number, std::optional<QString> message = std::nullopt)
    {
        FakeTab tab = plainTab(url);
        tab.error = FakeScriptError { number, std::move(message) };
        return tab;
    }
    Desk desk;
};

TEST_F(ChromiumRun, NotRunningIsNoResult)
{
    EXPECT_EQ(run(NativeVolumeSource::chrome), std::nullopt);
    EXPECT_TRUE(desk.scripting.sentEvents().empty());
}

TEST_F(ChromiumRun, AskedTabsToScanThenRunsInThem)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
        { window({ plainTab("https://a.example/"), pageTab("https://b.example/", "bbbb2222", "B"),
                     pageTab("https://www.youtube.com/x", "cccc3333", "C") },
              2),
            window({ pageTab("https://d.example/", "dddd4444", "D") }, 0) });
    const auto replies = run(NativeVolumeSource::chrome);
    ASSERT_TRUE(replies);
    ASSERT_EQ(replies->size(), 2);
    EXPECT_TRUE((*replies)[0].contains("\"key\":\"bbbb2222\""));
    EXPECT_TRUE((*replies)[1].contains("\"key\":\"cccc3333\""));
    const auto events = desk.scripting.sentEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], ChromiumTabs::tabURLsEvent(733));
    EXPECT_EQ(events[1], ChromiumTabs::activeTabsEvent(733));
    EXPECT_EQ(events[2],
        ChromiumTabs::executeEvent(BrowserMediaVolume::javaScript(NativeVolumeSource::chrome, {}), 1, 2, 733));
    EXPECT_EQ(events[3],
        ChromiumTabs::executeEvent(BrowserMediaVolume::javaScript(NativeVolumeSource::chrome, {}), 1, 3, 733));
    for (const double timeout : desk.scripting.sentTimeouts())
        EXPECT_EQ(timeout, 10.0);
}

TEST_F(ChromiumRun, SkipAndMissingValueAreIgnored)
{
    FakeTab missing = plainTab("https://www.youtube.com/missing");
    missing.missingValue = true;
    FakeTab notObject = plainTab("https://www.youtube.com/array");
    notObject.rawReply = "[1]";
    desk.browser("com.google.Chrome", "Google Chrome", 733,
        { window({ plainTab("https://www.youtube.com/skip"), missing, notObject }) });
    EXPECT_EQ(run(NativeVolumeSource::chrome), QStringList {});
}

TEST_F(ChromiumRun, ATabClosedMeanwhileIsIgnored)
{
    FakeTab closed = pageTab("https://www.youtube.com/gone", "aaaa1111", "Gone");
    closed.closesBeforeExecute = true;
    desk.browser("com.microsoft.edgemac", "Microsoft Edge", 640, { window({ closed }) });
    EXPECT_EQ(run(NativeVolumeSource::edge), QStringList {});
    closed.closesBeforeExecute = false;
    desk.scripting.browser(640)->windows[0].tabs.push_back(pageTab("https://www.youtube.com/here", "bbbb2222", "Here"));
    EXPECT_EQ(run(NativeVolumeSource::edge)->size(), 1);
}

TEST_F(ChromiumRun, TheFirstErrorIsKeptWhenNoTabReplied)
{
    desk.browser("com.brave.Browser", "Brave Browser", 812,
        { window({ failing("https://www.youtube.com/1", -1708), failing("https://www.youtube.com/2", 5, "second") }) });
    const auto error = runError(NativeVolumeSource::brave);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "Brave Browser returned error -1708.");
}

TEST_F(ChromiumRun, RepliesWinOverErrors)
{
    desk.browser("com.brave.Browser", "Brave Browser", 812,
        { window({ failing("https://www.youtube.com/1", -1708), pageTab("https://www.youtube.com/2", "bbbb2222", "B"),
            failing("https://www.youtube.com/3", -10000, "boom") }) });
    const auto replies = run(NativeVolumeSource::brave);
    ASSERT_TRUE(replies);
    EXPECT_EQ(replies->size(), 1);
}

TEST_F(ChromiumRun, EveryProcessIsScannedAndMergedInProcessOrder)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
        { window({ pageTab("https://www.youtube.com/1", "aaaa1111", "A") }) });
    desk.browser("com.google.Chrome", "Google Chrome", 734,
        { window({ pageTab("https://www.youtube.com/2", "bbbb2222", "B") }) });
    desk.browser("com.microsoft.edgemac", "Microsoft Edge", 640,
        { window({ pageTab("https://www.youtube.com/3", "cccc3333", "C") }) });
    const auto replies = run(NativeVolumeSource::chrome);
    ASSERT_TRUE(replies);
    ASSERT_EQ(replies->size(), 2);
    EXPECT_TRUE((*replies)[0].contains("aaaa1111"));
    EXPECT_TRUE((*replies)[1].contains("bbbb2222"));
}

TEST_F(ChromiumRun, ProcessesAreFoundByTheIdsTheLinuxWorkspaceReports)
{
    desk.browser("chromium", "Chromium", 901, { window({ pageTab("https://www.youtube.com/1", "aaaa1111", "A") }) });
    desk.browser("org.chromium.Chromium", "Chromium", 902,
        { window({ pageTab("https://www.youtube.com/2", "bbbb2222", "B") }) });
    desk.browser(
        "google-chrome", "Google Chrome", 903, { window({ pageTab("https://www.youtube.com/3", "cccc3333", "C") }) });
    const auto chromium = run(NativeVolumeSource::chromium);
    ASSERT_TRUE(chromium);
    ASSERT_EQ(chromium->size(), 2);
    EXPECT_TRUE((*chromium)[0].contains("aaaa1111"));
    EXPECT_TRUE((*chromium)[1].contains("bbbb2222"));
    const auto chrome = run(NativeVolumeSource::chrome);
    ASSERT_TRUE(chrome);
    ASSERT_EQ(chrome->size(), 1);
    EXPECT_TRUE(chrome->first().contains("cccc3333"));
}

TEST_F(ChromiumRun, AFailingProcessIsSkipped)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
            { window({ pageTab("https://www.youtube.com/1", "aaaa1111", "A") }) })
        .getDataError
        = FakeScriptError { -1708, std::nullopt };
    desk.browser("com.google.Chrome", "Google Chrome", 734,
        { window({ pageTab("https://www.youtube.com/2", "bbbb2222", "B") }) });
    const auto replies = run(NativeVolumeSource::chrome);
    ASSERT_TRUE(replies);
    ASSERT_EQ(replies->size(), 1);
    EXPECT_TRUE((*replies)[0].contains("bbbb2222"));
    desk.scripting.browser(734)->refusesAutomation = true;
    const auto error = runError(NativeVolumeSource::chrome);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "Google Chrome returned error -1708.");
}

TEST_F(ChromiumRun, SendingFailuresGoThroughScriptFailure)
{
    desk.browser("com.google.Chrome", "Google Chrome", 733,
            { window({ pageTab("https://www.youtube.com/1", "aaaa1111", "A") }) })
        .refusesAutomation
        = true;
    auto error = runError(NativeVolumeSource::chrome);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "Sonaric isn't allowed to control Google Chrome.");
    desk.scripting.browser(733)->refusesAutomation = false;
    desk.scripting.browser(733)->timesOut = true;
    error = runError(NativeVolumeSource::chrome);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "AppleEvent timed out.");
    EXPECT_EQ(error->steps.size(), 4);
}

TEST_F(ChromiumRun, AClosedProcessIsTheProcessNotFoundError)
{
    // The workspace still lists the process but it no longer answers.
    desk.browser("com.google.Chrome", "Google Chrome", 733, {}).running = false;
    const auto error = runError(NativeVolumeSource::chrome);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->message.startsWith("procNotFound"));
}

TEST_F(ChromiumRun, ANewWindowWithoutActiveIndexCountsAsZero)
{
    desk.browser(
        "com.google.Chrome", "Google Chrome", 733, { window({ pageTab("https://a.example/", "aaaa1111", "A") }, 0) });
    EXPECT_EQ(run(NativeVolumeSource::chrome), QStringList {});
    EXPECT_EQ(run(NativeVolumeSource::chrome, { "https://a.example/" })->size(), 1);
}

} // namespace
