// App volume: the scripts, their replies, Spotify's emulated mute and the process-wide script lock.

#include "native/app_volume.h"
#include "native/browser_media_volume.h"
#include "native/native_apple_script.h"
#include "native_test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

QStringList linesOf(const QString& script)
{
    return script.split(u'\n');
}

// Scripts, line by line.

TEST(AppVolumeScript, SpotifyWithAVolumeIgnoresTheMute)
{
    EXPECT_EQ(linesOf(AppVolume::appleScript(NativeVolumeSource::spotify, 37, true)),
        (QStringList {
            "set targetID to \"com.spotify.client\"",
            "if application id targetID is not running then return \"not-running\"",
            "tell application id targetID",
            "    with timeout of 10 seconds",
            "        set «property pVol» to 37",
            "        return (get «property pVol») as text",
            "    end timeout",
            "end tell",
        }));
}

TEST(AppVolumeScript, MusicWithVolumeAndMute)
{
    EXPECT_EQ(linesOf(AppVolume::appleScript(NativeVolumeSource::appleMusic, 43, false)),
        (QStringList {
            "set targetID to \"com.apple.Music\"",
            "if application id targetID is not running then return \"not-running\"",
            "tell application id targetID",
            "    with timeout of 10 seconds",
            "        set «property pVol» to 43",
            "        set «property pMut» to false",
            "        return ((get «property pVol») as text) & \",\" & ((get «property pMut») as text)",
            "    end timeout",
            "end tell",
        }));
}

TEST(AppVolumeScript, TVReadOnlyHasALineOfEightSpaces)
{
    const QString script = AppVolume::appleScript(NativeVolumeSource::appleTV, std::nullopt, std::nullopt);
    EXPECT_EQ(linesOf(script),
        (QStringList {
            "set targetID to \"com.apple.TV\"",
            "if application id targetID is not running then return \"not-running\"",
            "tell application id targetID",
            "    with timeout of 10 seconds",
            "        ",
            "        return ((get «property pVol») as text) & \",\" & ((get «property pMut») as text)",
            "    end timeout",
            "end tell",
        }));
    EXPECT_FALSE(script.endsWith(u'\n'));
    EXPECT_TRUE(script.toUtf8().contains("\xC2\xABproperty pVol\xC2\xBB")); // « and » in UTF-8
}

TEST(AppVolumeScript, TVMuteOnly)
{
    EXPECT_EQ(linesOf(AppVolume::appleScript(NativeVolumeSource::appleTV, std::nullopt, true))[4],
        "        set «property pMut» to true");
    EXPECT_EQ(linesOf(AppVolume::appleScript(NativeVolumeSource::spotify, std::nullopt, true))[4], "        ");
}

// Replies.

TEST(AppVolumeParse, VolumeAlone)
{
    const auto reply = AppVolume::parse("37");
    ASSERT_TRUE(reply);
    EXPECT_FLOAT_EQ(reply->first, 0.37f);
    EXPECT_EQ(reply->second, std::nullopt);
}

TEST(AppVolumeParse, VolumeAndMuteWithSpacesAround)
{
    const auto reply = AppVolume::parse(" 37 , \ttrue ");
    ASSERT_TRUE(reply);
    EXPECT_FLOAT_EQ(reply->first, 0.37f);
    EXPECT_EQ(reply->second, true);
    EXPECT_EQ(AppVolume::parse("100,false")->second, false);
    EXPECT_FLOAT_EQ(AppVolume::parse("0")->first, 0.0f);
    EXPECT_FLOAT_EQ(AppVolume::parse("12.5")->first, 0.125f);
}

TEST(AppVolumeParse, TrailingCommaIsOnePiece)
{
    EXPECT_FLOAT_EQ(AppVolume::parse("37 ,")->first, 0.37f);
    const auto reply = AppVolume::parse("37,");
    ASSERT_TRUE(reply);
    EXPECT_FLOAT_EQ(reply->first, 0.37f);
    EXPECT_EQ(reply->second, std::nullopt);
}

TEST(AppVolumeParse, InvalidReplies)
{
    for (const char* reply : { "37,maybe", "37,True", "101", "-1", "NaN", "nan", "inf", "abc", "37,true,1", "", ",",
             "1e50", "37\n", "0x", " ", "37,\n", "37,true\n" })
        EXPECT_EQ(AppVolume::parse(QString::fromUtf8(reply)), std::nullopt) << reply;
}

// Exchanges with the fake applications.

class AppVolumeTest : public ::testing::Test
{
protected:
    NativeVolumeResult connect(AppVolume& controller)
    {
        return await([&](auto done) { controller.connect({}, done); });
    }
    NativeVolumeResult read(AppVolume& controller)
    {
        return await([&](auto done) { controller.read({}, {}, done); });
    }
    NativeVolumeResult set(AppVolume& controller, NativeVolumeChanges desired)
    {
        return await([&](auto done) { controller.set(desired, {}, {}, done); });
    }
    static NativeVolumeConnection app(float volume, bool muted) { return { NativeVolumeState { volume, muted }, {} }; }

    Desk desk;
};

TEST_F(AppVolumeTest, ConnectReadsVolumeAndMute)
{
    desk.app("com.apple.Music", 64, true);
    AppVolume controller(NativeVolumeSource::appleMusic, desk.scripting);
    const auto result = connect(controller);
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(result.connection(), app(0.64f, true));
    EXPECT_TRUE(result.connection().tabs.empty());
}

TEST_F(AppVolumeTest, MusicSetSendsVolumeThenMute)
{
    FakeMediaApp& music = desk.app("com.apple.Music", 80, true);
    AppVolume controller(NativeVolumeSource::appleMusic, desk.scripting);
    const auto result = set(controller, { { "", { 0.426f, false } } });
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(music.commands, (std::vector<QString> { "pVol=43", "pMut=false" }));
    EXPECT_EQ(result.connection(), app(0.43f, false));
    const QStringList lines = linesOf(desk.scripting.executedScripts().last());
    EXPECT_EQ(lines[4], "        set «property pVol» to 43");
    EXPECT_EQ(lines[5], "        set «property pMut» to false");
}

TEST_F(AppVolumeTest, RoundsHalvesAwayFromZero)
{
    FakeMediaApp& tv = desk.app("com.apple.TV", 80);
    AppVolume controller(NativeVolumeSource::appleTV, desk.scripting);
    ASSERT_TRUE(set(controller, { { "", { 0.125f, false } } }).isSuccess());
    EXPECT_EQ(tv.commands.front(), "pVol=13");
}

TEST_F(AppVolumeTest, OnlyATabKeyMeansAPlainRead)
{
    FakeMediaApp& music = desk.app("com.apple.Music", 55);
    AppVolume controller(NativeVolumeSource::appleMusic, desk.scripting);
    const auto result = set(controller, { { "abcd1234", { 0.1f, true } } });
    ASSERT_TRUE(result.isSuccess());
    EXPECT_EQ(result.connection(), app(0.55f, false));
    EXPECT_TRUE(music.commands.empty());
    EXPECT_EQ(linesOf(desk.scripting.executedScripts().last())[4], "        ");
    EXPECT_TRUE(set(controller, {}).isSuccess());
    EXPECT_TRUE(music.commands.empty());
}

TEST_F(AppVolumeTest, SpotifyEmulatesMuteWithVolumeZero)
{
    FakeMediaApp& spotify = desk.app("com.spotify.client", 70);
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    ASSERT_EQ(connect(controller).connection(), app(0.7f, false));

    // Mute at 50 %: Spotify is sent volume 0 and reports 0; the state keeps the level unmute restores.
    auto result = set(controller, { { "", { 0.5f, true } } });
    EXPECT_EQ(spotify.commands, (std::vector<QString> { "pVol=0" }));
    EXPECT_EQ(spotify.volume, 0);
    EXPECT_EQ(result.connection(), app(0.5f, true));

    // A refresh that finds 0 keeps reporting the remembered level, muted.
    EXPECT_EQ(read(controller).connection(), app(0.5f, true));
    EXPECT_EQ(read(controller).connection(), app(0.5f, true));

    // The user raised the volume in Spotify itself: the emulated mute ends and 0.5 is forgotten.
    spotify.volume = 20;
    EXPECT_EQ(read(controller).connection(), app(0.2f, false));
    spotify.volume = 0;
    EXPECT_EQ(read(controller).connection(), app(0.0f, false));
}

TEST_F(AppVolumeTest, SpotifyUnmuteRestoresTheLevel)
{
    FakeMediaApp& spotify = desk.app("com.spotify.client", 70);
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    ASSERT_TRUE(set(controller, { { "", { 0.5f, true } } }).isSuccess());
    const auto result = set(controller, { { "", { 0.5f, false } } });
    EXPECT_EQ(spotify.commands, (std::vector<QString> { "pVol=0", "pVol=50" }));
    EXPECT_EQ(result.connection(), app(0.5f, false));
    spotify.volume = 0; // nothing is remembered any more
    EXPECT_EQ(read(controller).connection(), app(0.0f, false));
}

TEST_F(AppVolumeTest, SpotifyZeroUnmutedRemembersNothing)
{
    FakeMediaApp& spotify = desk.app("com.spotify.client", 70);
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    EXPECT_EQ(set(controller, { { "", { 0.0f, false } } }).connection(), app(0.0f, false));
    EXPECT_EQ(spotify.commands, (std::vector<QString> { "pVol=0" }));
    EXPECT_EQ(read(controller).connection(), app(0.0f, false));
}

TEST_F(AppVolumeTest, ConnectForgetsAnEmulatedMute)
{
    desk.app("com.spotify.client", 70);
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    ASSERT_TRUE(set(controller, { { "", { 0.5f, true } } }).isSuccess());
    EXPECT_EQ(connect(controller).connection(), app(0.0f, false));
}

TEST_F(AppVolumeTest, FailedSetKeepsTheEmulatedMute)
{
    FakeMediaApp& spotify = desk.app("com.spotify.client", 70);
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    ASSERT_TRUE(set(controller, { { "", { 0.5f, true } } }).isSuccess());
    spotify.timesOut = true;
    EXPECT_TRUE(set(controller, { { "", { 0.8f, false } } }).isFailure());
    spotify.timesOut = false;
    EXPECT_EQ(read(controller).connection(), app(0.5f, true));
}

TEST_F(AppVolumeTest, RefusalNamesSpotify)
{
    desk.app("com.spotify.client", 70).refusesAutomation = true;
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    const auto result = connect(controller);
    ASSERT_TRUE(result.isFailure());
    EXPECT_EQ(result.error().message, "Sonaric isn't allowed to control Spotify.");
    EXPECT_EQ(result.error().steps.size(), 3);
}

TEST_F(AppVolumeTest, NonFiniteVolumeIsRefusedWithoutAScript)
{
    desk.app("com.apple.TV", 10);
    AppVolume controller(NativeVolumeSource::appleTV, desk.scripting);
    for (const float bad :
        { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -0.01f }) {
        const auto result = set(controller, { { "", { bad, false } } });
        ASSERT_TRUE(result.isFailure());
        EXPECT_EQ(result.error().message, "Apple TV volume must be between 0% and 100%.");
    }
    EXPECT_TRUE(desk.scripting.executedScripts().isEmpty());
}

TEST_F(AppVolumeTest, CancelledBeforeItRunsSendsNothing)
{
    desk.app("com.apple.Music", 10);
    AppVolume controller(NativeVolumeSource::appleMusic, desk.scripting);
    CancellationToken token;
    token.cancel();
    EXPECT_TRUE(await([&](auto done) { controller.connect(token, done); }).isCancelled());
    EXPECT_TRUE(await([&](auto done) { controller.read({}, token, done); }).isCancelled());
    EXPECT_TRUE(await([&](auto done) { controller.set({ { "", { 0.5f, false } } }, {}, token, done); }).isCancelled());
    EXPECT_TRUE(desk.scripting.executedScripts().isEmpty());
}

TEST_F(AppVolumeTest, OperationsRunOneAtATimeInOrderOffTheCallingThread)
{
    FakeMediaApp& music = desk.app("com.apple.Music", 10);
    desk.scripting.setScriptDuration(std::chrono::milliseconds(5));
    AppVolume controller(NativeVolumeSource::appleMusic, desk.scripting);
    const auto caller = std::this_thread::get_id();
    std::vector<std::future<void>> finished;
    std::mutex mutex;
    std::vector<int> order;
    for (int i = 1; i <= 5; ++i) {
        auto promise = std::make_shared<std::promise<void>>();
        finished.push_back(promise->get_future());
        controller.set({ { "", { float(i) / 10, false } } }, {}, {}, [&, i, promise](const NativeVolumeResult& result) {
            EXPECT_NE(std::this_thread::get_id(), caller);
            EXPECT_TRUE(result.isSuccess());
            std::lock_guard lock(mutex);
            order.push_back(i);
            promise->set_value();
        });
    }
    for (auto& each : finished)
        each.wait();
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3, 4, 5 }));
    EXPECT_EQ(music.volume, 50);
    EXPECT_EQ(desk.scripting.maxConcurrentScripts(), 1);
}

TEST_F(AppVolumeTest, FinishPendingOperationsCompletesAtOnce)
{
    AppVolume controller(NativeVolumeSource::spotify, desk.scripting);
    bool done = false;
    controller.finishPendingOperations([&] { done = true; });
    EXPECT_TRUE(done);
}

TEST(NativeAppleScriptLock, EveryControllerSharesTheOneLock)
{
    Desk desk;
    desk.app("com.spotify.client", 10);
    desk.app("com.apple.Music", 20);
    desk.app("com.apple.TV", 30);
    desk.browser(
        "com.apple.Safari", "Safari", 501, { window({ pageTab("https://www.youtube.com/w", "abcd1234", "V") }) });
    desk.scripting.setScriptDuration(std::chrono::milliseconds(15));
    AppVolume spotify(NativeVolumeSource::spotify, desk.scripting);
    AppVolume music(NativeVolumeSource::appleMusic, desk.scripting);
    AppVolume tv(NativeVolumeSource::appleTV, desk.scripting);
    BrowserMediaVolume safari(NativeVolumeSource::safari, desk.scripting, desk.workspace);
    std::vector<std::future<NativeVolumeResult>> results;
    for (int round = 0; round < 3; ++round) {
        for (NativeVolumeControlling* controller :
            std::initializer_list<NativeVolumeControlling*> { &spotify, &music, &tv, &safari }) {
            auto promise = std::make_shared<std::promise<NativeVolumeResult>>();
            results.push_back(promise->get_future());
            controller->read({}, {}, [promise](const NativeVolumeResult& result) { promise->set_value(result); });
        }
    }
    for (auto& result : results)
        EXPECT_TRUE(result.get().isSuccess());
    EXPECT_EQ(desk.scripting.executedScripts().size(), 12);
    EXPECT_EQ(desk.scripting.maxConcurrentScripts(), 1);
}

TEST(NativeAppleScriptLock, AScriptWaitsForTheLock)
{
    Desk desk;
    desk.app("com.apple.TV", 30);
    AppVolume tv(NativeVolumeSource::appleTV, desk.scripting);
    std::unique_lock held(NativeAppleScript::lock());
    auto promise = std::make_shared<std::promise<NativeVolumeResult>>();
    auto future = promise->get_future();
    tv.read({}, {}, [promise](const NativeVolumeResult& result) { promise->set_value(result); });
    EXPECT_EQ(future.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_TRUE(desk.scripting.executedScripts().isEmpty());
    held.unlock();
    EXPECT_TRUE(future.get().isSuccess());
}

TEST(NativeAppleScript, ResultWithoutTextIsInvalid)
{
    // The Safari script answers with text; an error dictionary without a message falls back to its description.
    class Answering final : public Scripting
    {
    public:
        AppleScriptExecution next;
        AppleScriptExecution executeAppleScript(const QString&, const QString&) override { return next; }
        AppleEventSendResult sendAppleEvent(const AppleEventDescriptor&, double) override { return {}; }
    } scripting;
    scripting.next.result = AppleEventDescriptor::boolean(true);
    try {
        NativeAppleScript::execute(scripting, "return true", NativeVolumeSource::appleTV);
        FAIL() << "no error";
    } catch (const NativeVolumeError& error) {
        EXPECT_EQ(error.message, "Apple TV returned an invalid volume.");
    }
    scripting.next = {};
    scripting.next.errorInfo = QVariantMap { { NSAppleScriptErrorNumber, QStringLiteral("-1743") } };
    try {
        NativeAppleScript::execute(scripting, "x", NativeVolumeSource::spotify);
        FAIL() << "no error";
    } catch (const NativeVolumeError& error) {
        // The number is text, not a number: 0, so the refusal is not recognised; the message is the dictionary.
        EXPECT_TRUE(error.message.contains("NSAppleScriptErrorNumber")) << error.message.toStdString();
        EXPECT_EQ(error.steps.size(), 3);
    }
    scripting.next.errorInfo = QVariantMap { { NSAppleScriptErrorNumber, -1743 } };
    try {
        NativeAppleScript::execute(scripting, "x", NativeVolumeSource::spotify);
        FAIL() << "no error";
    } catch (const NativeVolumeError& error) {
        EXPECT_EQ(error.message, "Sonaric isn't allowed to control Spotify.");
    }
}

} // namespace
