#include "native/native_volume_session.h"
#include "platform/scripting/sim/simulated_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include "support/event_loop.h"
#include "support/fake_controller.h"

#include <gtest/gtest.h>

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
        session = std::make_unique<NativeVolumeSession>(source, scripting, workspace, std::move(owned));
        session->onConnectionChange = [this](bool connected) { changes.push_back(connected); };
    }

    void connect(const NativeVolumeConnection& connection)
    {
        fake->answers.push_back(connection);
        session->connect();
        ASSERT_TRUE(waitUntil([&] { return !session->busy(); }));
        ASSERT_TRUE(session->isConnected());
    }

    SimulatedScripting scripting;
    SimulatedWorkspace workspace { Scene {} };
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
    spin(50);
    f.session->setVolume(0.3f);
    spin(50);
    f.session->setVolume(0.4f);
    const qint64 lastChange = f.fake->clock.elapsed();
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.4f, false })) << "the slider shows the change at once";
    ASSERT_TRUE(waitUntil([&] { return f.fake->count(FakeController::Kind::set) > 0; }));
    spin(200);
    ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1);
    const auto* set = f.fake->last(FakeController::Kind::set);
    EXPECT_EQ(set->desired, (NativeVolumeChanges { { QString(), { 0.4f, false } } }));
    EXPECT_EQ(set->current, appConnection(0.8f));
    const qint64 delay = set->atMilliseconds - lastChange;
    EXPECT_GE(delay, 119);
    EXPECT_LT(delay, 400);

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
    spin(40);
    f.session->toggleMute(tabs.tabs[1]);
    f.session->toggleMute(tabs.tabs[1]); // flips the pending mute back, not the one read
    f.session->toggleMute(tabs.tabs[1]);
    ASSERT_TRUE(waitUntil([&] { return f.fake->count(FakeController::Kind::set) > 0; }));
    spin(150);
    ASSERT_EQ(f.fake->count(FakeController::Kind::set), 1);
    EXPECT_EQ(f.fake->last(FakeController::Kind::set)->desired,
        (NativeVolumeChanges { { "tabaaaa1", { 0.25f, false } }, { "tabbbbb2", { 0.5f, true } } }));
}

TEST(NativeVolumeSession, NothingChangesWhileBusyOrAfterAFailure)
{
    Fixture f;
    f.connect(appConnection(0.5f));
    f.session->connect(); // reconnect, held by the fake
    ASSERT_TRUE(f.session->busy());
    f.session->setVolume(0.9f);
    f.session->toggleMute();
    EXPECT_TRUE(f.session->desired().isEmpty());
    EXPECT_EQ(f.session->state(), (NativeVolumeState { 0.5f, false }));

    bool failed = false;
    f.session->connect([&] { failed = true; }); // ignored: a connect is in flight
    f.fake->release(failure());
    ASSERT_TRUE(waitUntil([&] { return !f.session->busy(); }));
    EXPECT_FALSE(failed) << "the ignored connect's failure handler never runs";
    EXPECT_EQ(f.session->error(), "Spotify did not answer.");
    EXPECT_EQ(f.session->errorSteps(), QStringList { "Open the Spotify desktop app." });
    EXPECT_TRUE(f.session->isConnected()) << "a failure leaves the last connection";

    f.session->setVolume(0.1f);
    f.session->refresh();
    spin(200);
    EXPECT_TRUE(f.session->desired().isEmpty());
    EXPECT_EQ(f.fake->count(FakeController::Kind::set), 0);
    EXPECT_EQ(f.fake->count(FakeController::Kind::read), 0) << "frozen until the user connects again";
}

TEST(NativeVolumeSession, AFailedConnectRunsItsHandler)
{
    Fixture f;
    bool failed = false;
    f.fake->answers.push_back(failure());
    f.session->connect([&] { failed = true; });
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
    spin(20);
    EXPECT_EQ(f.session->connection(), appConnection(0.5f));
    ASSERT_TRUE(waitUntil([&] { return f.fake->count(FakeController::Kind::set) == 1; }));
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
    f.session->disconnect();
    EXPECT_TRUE(f.session->busy());
    spin(200);
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
        ASSERT_TRUE(waitUntil([&] { return f.fake->count(FakeController::Kind::set) == 1; }));
        f.fake->release(c.after);
        ASSERT_TRUE(waitUntil([&] { return f.session->desired().isEmpty(); }));
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), 0.41f) << c.what;
        EXPECT_EQ(std::count(shown.begin(), shown.end(), 0.8f), 0) << c.what << ": the old level showed again";
    }
}
