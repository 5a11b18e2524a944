#include "native/app_volume.h"
#include "native/native_volume_session.h"
#include "native_test_support.h"

#include "support/event_loop.h"
#include "support/fake_controller.h"
#include "support/manual_clock.h"

#include <QDeadlineTimer>
#include <gtest/gtest.h>

#include <thread>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

const NativeVolumeSource kSpotify = NativeVolumeSource::spotify;
const NativeVolumeSource kChrome = NativeVolumeSource::chrome;

struct Fixture {
    explicit Fixture(NativeVolumeSource source = kSpotify)
    {
        auto owned = std::make_unique<FakeController>();
        fake = owned.get();
        session = std::make_unique<NativeVolumeSession>(source, std::move(owned), &clock);
        session->onConnectionChange = [this](bool connected) { changes.push_back(connected); };
    }

    void connect(const NativeVolumeConnection& connection)
    {
        fake->answers.push_back(connection);
        session->connectToSource();
        ASSERT_TRUE(waitUntil([&] { return !session->busy(); }));
        ASSERT_TRUE(session->isConnected());
    }

    ManualClock clock; // the debounce's
    FakeController* fake = nullptr;
    std::unique_ptr<NativeVolumeSession> session;
    std::vector<bool> changes;
};

NativeVolumeTab tab(const char* id, float volume, bool muted = false)
{
    return { QString::fromLatin1(id), QStringLiteral("Title"), true, { volume, muted } };
}

NativeVolumeError failure()
{
    return NativeVolumeError(
        QStringLiteral("Spotify did not answer."), { QStringLiteral("Open the Spotify desktop app.") });
}

} // namespace

TEST(NativeVolumeSession, ChangesInQuickSuccessionGoOutOnceAfterTheLastOne)
{
    Fixture f;
    f.connect(appConnection(0.8f));
    f.session->setVolume(0.2f);
    f.clock.advance(50);
    f.session->setVolume(0.3f);
    f.clock.advance(50);
    f.session->setVolume(0.4f);
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.4f, false })) << "the slider shows the change at once";
    f.clock.advance(119);
    EXPECT_EQ(f.fake->count(FakeController::Kind::set), 0) << "still within 120 ms of the last change";
    f.clock.advance(1);
    ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1);
    f.clock.advance(1000);
    ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1) << "sent once";
    const auto* set = f.fake->last(FakeController::Kind::set);
    EXPECT_EQ(set->desired, (NativeVolumeChanges { { QString(), { 0.4f, false } } }));
    EXPECT_EQ(set->current, appConnection(0.8f));

    f.fake->release(appConnection(0.41f));
    ASSERT_TRUE(waitUntil([&] { return f.session->desired().isEmpty(); }));
    EXPECT_EQ(f.session->connection(), appConnection(0.41f));
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.41f, false }));
}

TEST(NativeVolumeSession, ChangesToTwoTabsTravelInOneSet)
{
    Fixture f(kChrome);
    const NativeVolumeConnection tabs { std::nullopt, { tab("tabaaaa1", 1.0f), tab("tabbbbb2", 0.5f) } };
    f.connect(tabs);
    f.session->setVolume(0.3f); // a browser has no volume of its own
    EXPECT_TRUE(f.session->desired().isEmpty());

    f.session->setVolume(0.25f, tabs.tabs[0]);
    f.clock.advance(40);
    f.session->toggleMute(tabs.tabs[1]);
    f.session->toggleMute(tabs.tabs[1]); // flips the pending mute back, not the one read
    f.session->toggleMute(tabs.tabs[1]);
    f.clock.advance(1000);
    ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1);
    EXPECT_EQ(f.fake->last(FakeController::Kind::set)->desired,
        (NativeVolumeChanges { { "tabaaaa1", { 0.25f, false } }, { "tabbbbb2", { 0.5f, true } } }));
}

TEST(NativeVolumeSession, NothingChangesWhileBusyOrAfterAFailure)
{
    Fixture f;
    f.connect(appConnection(0.5f));
    f.session->connectToSource(); // reconnect, held by the fake
    ASSERT_TRUE(f.session->busy());
    f.session->setVolume(0.9f);
    f.session->toggleMute();
    EXPECT_TRUE(f.session->desired().isEmpty());
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.5f, false }));

    bool failed = false;
    f.session->connectToSource([&] { failed = true; }); // ignored: a connect is in flight
    f.fake->release(failure());
    ASSERT_TRUE(waitUntil([&] { return !f.session->busy(); }));
    EXPECT_FALSE(failed) << "the ignored connect's failure handler never runs";
    EXPECT_EQ(f.session->error(), "Spotify did not answer.");
    EXPECT_EQ(f.session->errorSteps(), QStringList { "Open the Spotify desktop app." });
    EXPECT_TRUE(f.session->isConnected()) << "a failure leaves the last connection";

    f.session->setVolume(0.1f);
    f.session->refresh();
    f.clock.advance(1000);
    deliverPosted();
    EXPECT_TRUE(f.session->desired().isEmpty());
    EXPECT_EQ(f.fake->count(FakeController::Kind::set), 0);
    EXPECT_EQ(f.fake->count(FakeController::Kind::read), 0) << "frozen until the user connects again";
}

TEST(NativeVolumeSession, AFailedConnectRunsItsHandler)
{
    Fixture f;
    bool failed = false;
    f.fake->answers.push_back(failure());
    f.session->connectToSource([&] { failed = true; });
    ASSERT_TRUE(waitUntil([&] { return failed; }));
    EXPECT_FALSE(f.session->busy());
    EXPECT_FALSE(f.session->isConnected());
    EXPECT_TRUE(f.changes.empty());
}

TEST(NativeVolumeSession, AStaleRefreshDoesNotOverwriteAMove)
{
    Fixture f;
    f.connect(appConnection(0.5f));
    f.session->refresh();
    ASSERT_EQ(f.fake->count(FakeController::Kind::read), 1);
    f.session->refresh(); // a read is in flight: no second one
    EXPECT_EQ(f.fake->count(FakeController::Kind::read), 1);

    f.session->setVolume(0.7f);
    f.fake->release(appConnection(0.1f)); // the read comes back after the move
    deliverPosted();
    EXPECT_EQ(f.session->connection(), appConnection(0.5f));
    f.clock.advance(120);
    ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1);
    f.fake->release(appConnection(0.7f));
    ASSERT_TRUE(waitUntil([&] { return f.session->connection() == appConnection(0.7f); }));
}

TEST(NativeVolumeSession, AFailedSetFallsBackToTheLastConfirmedState)
{
    Fixture f;
    f.connect(appConnection(0.5f, true));
    f.session->setVolume(0.9f);
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.9f, true }));
    f.fake->answers.push_back(failure());
    f.clock.advance(120);
    ASSERT_TRUE(waitUntil([&] { return f.session->hasError(); }));
    EXPECT_TRUE(f.session->desired().isEmpty());
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.5f, true }));
}

TEST(NativeVolumeSession, DisconnectCancelsAPendingChange)
{
    Fixture f;
    f.connect(appConnection(0.5f));
    f.session->setVolume(0.2f);
    f.fake->holdFinish = true;
    f.session->disconnectFromSource();
    EXPECT_TRUE(f.session->busy());
    f.clock.advance(1000);
    deliverPosted();
    EXPECT_EQ(f.fake->count(FakeController::Kind::set), 0) << "the pending change is never sent";
    EXPECT_EQ(f.changes, std::vector { true }) << "nothing reported before the controller has finished";
    EXPECT_TRUE(f.session->isConnected());

    f.fake->calls.back().finished();
    ASSERT_TRUE(waitUntil([&] { return !f.session->busy(); }));
    EXPECT_FALSE(f.session->isConnected());
    EXPECT_TRUE(f.session->desired().isEmpty());
    EXPECT_EQ(f.changes, (std::vector { true, false }));
}

TEST(NativeVolumeSession, ConnectWhileConnectedReconnects)
{
    Fixture f;
    f.connect(appConnection(0.5f));
    f.connect(appConnection(0.6f));
    EXPECT_EQ(f.session->connection(), appConnection(0.6f));
    EXPECT_EQ(f.changes, (std::vector { true, true }));
}

TEST(NativeVolumeSession, AConfirmedChangeNeverShowsTheOldLevelOnTheWay)
{
    // What a row would show at every notification the session sends: the application's level, or a tab's
    // (its pending change, else what the page last said).
    const NativeVolumeTab playing = tab("tabaaaa1", 0.8f);
    const struct {
        const char* what;
        NativeVolumeSource source;
        NativeVolumeConnection before, after;
        std::function<void(NativeVolumeSession&)> move;
        std::function<float(const NativeVolumeSession&)> shown;
    } cases[] = {
        { "the application's slider", kSpotify, appConnection(0.8f), appConnection(0.41f),
            [](NativeVolumeSession& s) { s.setVolume(0.4f); },
            [](const NativeVolumeSession& s) { return s.state() ? s.state()->volume : -1.0f; } },
        { "a tab's slider", kChrome, { std::nullopt, { playing } },
            { std::nullopt, { { playing.id, playing.title, true, { 0.41f, false } } } },
            [&](NativeVolumeSession& s) { s.setVolume(0.4f, playing); },
            [&](const NativeVolumeSession& s) {
                if (s.desired().contains(playing.id))
                    return s.desired()[playing.id].volume;
                return s.connection() && !s.connection()->tabs.empty() ? s.connection()->tabs[0].state.volume : -1.0f;
            } },
    };
    for (const auto& c : cases) {
        Fixture f(c.source);
        f.connect(c.before);
        std::vector<float> shown;
        const auto record = [&] { shown.push_back(c.shown(*f.session)); };
        QObject::connect(f.session.get(), &NativeVolumeSession::connectionChanged, record);
        QObject::connect(f.session.get(), &NativeVolumeSession::desiredChanged, record);
        QObject::connect(f.session.get(), &NativeVolumeSession::stateChanged, record);
        c.move(*f.session);
        f.clock.advance(120);
        ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1) << c.what;
        f.fake->release(c.after);
        ASSERT_TRUE(waitUntil([&] { return f.session->desired().isEmpty(); }));
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), 0.41f) << c.what;
        EXPECT_EQ(std::count(shown.begin(), shown.end(), 0.8f), 0) << c.what << ": the old level showed again";
    }
}

TEST(NativeVolumeSession, DrivesARealControllerAcrossItsQueue)
{
    // App volume runs each script on its own serial queue; every outcome crosses back to the main thread.
    Desk desk;
    FakeMediaApp& music = desk.app(QStringLiteral("com.apple.Music"), 64, true);
    ManualClock clock;
    NativeVolumeSession session(NativeVolumeSource::appleMusic,
        std::make_unique<AppVolume>(NativeVolumeSource::appleMusic, desk.scripting), &clock);
    std::vector<bool> changes;
    session.onConnectionChange = [&](bool connected) { changes.push_back(connected); };
    std::vector<std::optional<NativeVolumeState>> read; // every connection's state the session took
    QObject::connect(&session, &NativeVolumeSession::connectionChanged,
        [&] { read.push_back(session.connection() ? session.connection()->state : std::nullopt); });

    session.connectToSource();
    ASSERT_TRUE(waitUntil([&] { return !session.busy(); }));
    EXPECT_EQ(session.state(), (NativeVolumeState { 0.64f, true }));

    session.setVolume(0.3f);
    session.toggleMute();
    clock.advance(NativeVolumeSession::debounceMilliseconds);
    ASSERT_TRUE(waitUntil([&] { return session.desired().isEmpty(); }));
    EXPECT_EQ(session.state(), (NativeVolumeState { 0.3f, false }));
    EXPECT_EQ(music.commands, (std::vector<QString> { "pVol=30", "pMut=false" }));

    // A change made in the application shows on the next read.
    music.volume = 80;
    session.refresh();
    ASSERT_TRUE(waitUntil([&] { return session.state() == NativeVolumeState { 0.8f, false }; }));

    // A move overtakes a read whose script has run: its answer waits on the main thread and is stale by then.
    music.volume = 10;
    const qsizetype scripts = desk.scripting.executedScripts().size();
    session.refresh();
    const QDeadlineTimer deadline(5000);
    while (desk.scripting.executedScripts().size() == scripts && !deadline.hasExpired())
        std::this_thread::yield();
    ASSERT_GT(desk.scripting.executedScripts().size(), scripts);
    session.setVolume(0.5f);
    clock.advance(NativeVolumeSession::debounceMilliseconds);
    ASSERT_TRUE(waitUntil([&] { return session.desired().isEmpty(); }));
    EXPECT_EQ(session.state(), (NativeVolumeState { 0.5f, false }));
    EXPECT_EQ(music.volume, 50);
    EXPECT_EQ(std::count(read.begin(), read.end(), NativeVolumeState { 0.1f, false }), 0)
        << "the stale read was never taken";

    session.disconnectFromSource();
    ASSERT_TRUE(waitUntil([&] { return !session.busy(); }));
    EXPECT_FALSE(session.isConnected());
    EXPECT_EQ(changes, (std::vector { true, false }));
}
