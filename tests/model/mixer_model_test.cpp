#include "model/model_fixture.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

TEST(MixerModel, ListsPlayingApplicationsAndTheirDevices)
{
    ModelFixture f;
    MixerModel& model = f.start();
    ASSERT_EQ(model.apps().size(), 2u) << "the quiet application is discovered but not listed";
    EXPECT_EQ(model.apps()[0].id, kPlayer);
    EXPECT_EQ(model.apps()[1].id, kSpotify);
    ASSERT_EQ(model.outputDevices().size(), 2u);
    EXPECT_EQ(model.defaultOutputName(), "Speakers");
    EXPECT_EQ(model.maxVolume(), 2.5f);
}

TEST(MixerModel, ASliderChangeIsHeardAtTheNewLevel)
{
    ModelFixture f;
    MixerModel& model = f.start();
    EXPECT_NEAR(f.listen()["spk"], kPlayerAmplitude, 1e-3);
    model.setVolume(0.5f, f.app(kPlayer));
    EXPECT_NEAR(f.listen()["spk"], 0.5f * kPlayerAmplitude, 1e-3);
    model.setVolume(2.0f, f.app(kPlayer));
    EXPECT_NEAR(f.listen()["spk"], 0.99f, 1e-3) << "a 0.5 sine boosted 2x peaks at the limiter's ceiling";
    model.setVolume(1.02f, f.app(kPlayer));
    EXPECT_NEAR(f.listen()["spk"], kPlayerAmplitude, 1e-3);
    EXPECT_TRUE(model.engine().taps().empty()) << "100 % needs no tap";
}

TEST(MixerModel, LevelsClampAndSnapToUnity)
{
    ModelFixture f;
    MixerModel& model = f.start();
    const AudioApp player = f.app(kPlayer);
    const std::pair<float, std::optional<float>> cases[] = { { 1.03f, std::nullopt }, { 0.97f, std::nullopt },
        { 1.05f, 1.05f }, { 0.95f, 0.95f }, { -0.3f, 0.0f }, { 9.0f, 2.5f }, { 0.0f, 0.0f } };
    for (const auto& [value, stored] : cases) {
        model.setVolume(value, player);
        if (stored)
            EXPECT_EQ(model.volumes().value(kPlayer, -1), *stored) << value;
        else
            EXPECT_FALSE(model.volumes().contains(kPlayer)) << value;
    }
    model.setVolume(0.6f, player);
    model.setVolume(std::nanf(""), player);
    EXPECT_EQ(model.volumes().value(kPlayer), 0.6f) << "a level that is not a number is refused";
}

TEST(MixerModel, MuteIsSilentAndUnmuteRestoresTheSavedLevel)
{
    ModelFixture f;
    MixerModel& model = f.start();
    model.setVolume(0.5f, f.app(kPlayer));
    model.toggleMute(f.app(kPlayer));
    EXPECT_EQ(f.listen()["spk"], 0.0f);
    model.setVolume(0.25f, f.app(kPlayer)); // moving a muted slider keeps it silent
    EXPECT_EQ(f.listen()["spk"], 0.0f);
    model.toggleMute(f.app(kPlayer));
    EXPECT_NEAR(f.listen()["spk"], 0.25f * kPlayerAmplitude, 1e-3);
    EXPECT_EQ(model.volumes().value(kPlayer), 0.25f);
}

TEST(MixerModel, ASavedLevelAppliesBeforeConstructionReturns)
{
    ModelFixture f;
    {
        QSettings settings(f.settingsPath(), QSettings::IniFormat);
        settings.setValue("volumes", QVariantMap { { kQuiet, 0.5f }, { kPlayer, 0.3f } });
    }
    MixerModel& model = f.start();
    EXPECT_EQ(model.engine().requestCount(), 2) << "both discovered applications were sent to the engine at once";
    const auto taps = model.engine().taps();
    ASSERT_EQ(taps.size(), 2u) << "an application discovered without playing gets its tap too";
    EXPECT_EQ(taps.at(kQuiet).targetGain, 0.5f);
    EXPECT_NEAR(f.listen()["spk"], 0.3f * kPlayerAmplitude, 1e-3);
}

TEST(MixerModel, UnchangedApplicationsCauseNoEngineTraffic)
{
    ModelFixture f;
    MixerModel& model = f.start();
    model.setVolume(0.5f, f.app(kPlayer));
    const int before = model.engine().requestCount();
    QSignalSpy appsChanged(&model, &MixerModel::appsChanged);
    for (int i = 0; i < 5; ++i)
        model.refresh();
    EXPECT_EQ(model.engine().requestCount(), before);
    EXPECT_EQ(appsChanged.count(), 0);

    // A further process of the application changes its objects: pushed once more.
    SceneProcess helper = process(101, QStringLiteral("com.example.player.helper"), false);
    f.hw.addProcess(helper);
    f.settle();
    EXPECT_EQ(model.engine().requestCount(), before + 1);
    EXPECT_EQ(model.engine().taps().at(kPlayer).processObjects.size(), 2u);
}

TEST(MixerModel, AnApplicationThatVanishesLosesItsTapButKeepsItsSettings)
{
    ModelFixture f;
    MixerModel& model = f.start();
    model.setVolume(0.5f, f.app(kPlayer));
    ASSERT_EQ(model.engine().taps().size(), 1u);
    f.hw.setProcessPlaying(f.hw.processObjects()[0], false);
    model.refresh();
    EXPECT_EQ(model.apps().size(), 1u) << "no longer listed";
    EXPECT_EQ(model.engine().taps().size(), 1u) << "still discovered: keeps its tap";

    f.hw.removeProcess(f.hw.processObjects()[0]);
    f.settle();
    EXPECT_TRUE(model.engine().taps().empty());
    EXPECT_TRUE(f.hw.inventory().empty());
    EXPECT_EQ(model.volumes().value(kPlayer), 0.5f);
}

TEST(MixerModel, AnUnreadableProcessListChangesNothing)
{
    for (const SimCall call : { SimCall::getPropertyDataSize, SimCall::getPropertyData }) {
        ModelFixture f;
        MixerModel& model = f.start();
        model.toggleMute(f.app(kPlayer));
        f.hw.failNext(call, kAudioHardwareUnspecifiedError, 1, kAudioHardwarePropertyProcessObjectList);
        model.refresh();
        EXPECT_EQ(model.apps().size(), 2u) << "the rows stay";
        EXPECT_EQ(model.engine().taps().size(), 1u);
        EXPECT_EQ(f.listen()["spk"], 0.0f) << "the muted player stays silent";
    }
}

TEST(MixerModel, ARouteWaitsForItsApplication)
{
    ModelFixture f;
    MixerModel& model = f.start();
    const OutputDevice phones = model.outputDevices()[1];
    const QString later = QStringLiteral("com.example.later");
    model.setRoute(phones, later);
    EXPECT_TRUE(model.engine().taps().empty());

    f.workspace.launch(application(700, later, QStringLiteral("Later")));
    auto p = process(700, later, true);
    p.signal = { SceneSignal::Kind::sine, 0.2f, 300.0 };
    f.hw.addProcess(p);
    f.settle();
    const auto peaks = f.listen();
    EXPECT_NEAR(peaks.at("phones"), 0.2f, 1e-3) << "routed at unity";
    EXPECT_NEAR(peaks.at("spk"), kPlayerAmplitude, 1e-3) << "the speakers keep only the player";

    model.setRoute(std::nullopt, later);
    EXPECT_TRUE(model.engine().taps().empty());
    EXPECT_NEAR(f.listen()["spk"], kPlayerAmplitude + 0.2f, 2e-3);
}

TEST(MixerModel, LoweringTheBoostLimitLowersLevelsAndReappliesTaps)
{
    ModelFixture f;
    MixerModel& model = f.start();
    QSignalSpy limit(&model, &MixerModel::maxVolumeChanged);
    model.setVolume(2.3f, f.app(kPlayer));
    model.setVolume(2.4f, f.app(kSpotify));
    model.toggleMute(f.app(kSpotify));
    model.setMaxVolume(1.5f);
    model.setMaxVolume(2.5f);
    EXPECT_EQ(limit.count(), 0) << "an invalid or unchanged limit is ignored";

    model.setMaxVolume(2.0f);
    EXPECT_EQ(limit.count(), 1);
    EXPECT_EQ(model.volumes().value(kPlayer), 2.0f);
    const auto taps = model.engine().taps();
    EXPECT_EQ(taps.at(kPlayer).targetGain, 2.0f);
    EXPECT_EQ(taps.at(kSpotify).targetGain, 0.0f) << "mute still wins";
    EXPECT_EQ(f.openSettings()->value("maxVolume").toFloat(), 2.0f);

    model.setMaxVolume(2.5f);
    EXPECT_EQ(model.volumes().value(kPlayer), 2.0f) << "raising the limit changes no level";
}

TEST(MixerModel, ANativeConnectionTakesOverAndGivesBack)
{
    ModelFixture f;
    MixerModel& model = f.start();
    model.setVolume(0.4f, f.app(kSpotify));
    ASSERT_EQ(model.engine().taps().size(), 1u);
    NativeVolumeSession* session = model.connector(f.app(kSpotify));
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(model.connector(f.app(kPlayer)), nullptr) << "no connector for the player";

    f.spotifyController->answers.push_back(appConnection(0.7f));
    session->connectToSource();
    ASSERT_TRUE(waitUntil([&] { return session->isConnected(); }));
    EXPECT_TRUE(model.hasNativeConnection());
    EXPECT_TRUE(model.engine().taps().empty()) << "gain 1 under native control: no tap";
    EXPECT_EQ(model.apps().size(), 1u) << "the row gives way to the native row";
    EXPECT_EQ(model.connector(f.app(kPlayer)), nullptr);
    EXPECT_EQ(model.volumes().value(kSpotify), 0.4f) << "the saved level is kept, not cleared";

    session->disconnectFromSource();
    ASSERT_TRUE(waitUntil([&] { return !session->isConnected(); }));
    EXPECT_EQ(model.engine().taps().at(kSpotify).targetGain, 0.4f);
    EXPECT_EQ(model.apps().size(), 2u);
}

TEST(MixerModel, ANativeConnectionTakesOverAnApplicationKnownByItsLinuxID)
{
    // The Linux workspace names applications by their desktop entries: Debian's package, the Flatpak.
    for (const QString& id : { QStringLiteral("spotify"), QStringLiteral("com.spotify.Client") }) {
        Scene scene = modelScene();
        for (auto& app : scene.applications) {
            if (app.bundleIdentifier == kSpotify)
                app.bundleIdentifier = id;
        }
        for (auto& process : scene.processes) {
            if (process.bundleID == kSpotify)
                process.bundleID = id;
        }
        ModelFixture f(scene);
        MixerModel& model = f.start();
        model.setVolume(0.4f, f.app(id));
        ASSERT_EQ(model.engine().taps().size(), 1u);
        NativeVolumeSession* session = model.connector(f.app(id));
        ASSERT_NE(session, nullptr) << id.toStdString();
        EXPECT_EQ(session->source(), NativeVolumeSource::spotify);

        f.spotifyController->answers.push_back(appConnection(0.7f));
        session->connectToSource();
        ASSERT_TRUE(waitUntil([&] { return session->isConnected(); }));
        EXPECT_TRUE(model.engine().taps().empty()) << "gain 1 under native control: no tap";
        EXPECT_EQ(model.apps().size(), 1u) << "the row gives way to the native row";

        session->disconnectFromSource();
        ASSERT_TRUE(waitUntil([&] { return !session->isConnected(); }));
        EXPECT_EQ(model.engine().taps().at(id).targetGain, 0.4f);
        EXPECT_EQ(model.apps().size(), 2u);
    }
}

TEST(MixerModel, EngineFailuresBecomeTheLastError)
{
    ModelFixture f;
    MixerModel& model = f.start();
    f.hw.failNext(SimCall::createAggregateDevice, -50);
    model.setVolume(0.5f, f.app(kPlayer));
    ASSERT_TRUE(waitUntil([&] { return !model.lastError().isEmpty(); }));
    EXPECT_EQ(model.lastError(), "com.example.player: AudioHardwareCreateAggregateDevice failed (OSStatus -50)");
}

TEST(MixerModel, TheDefaultDeviceNameFollowsTheHardware)
{
    ModelFixture f;
    MixerModel& model = f.start();
    QSignalSpy name(&model, &MixerModel::defaultOutputNameChanged);
    f.hw.setDefaultOutputDevice("phones");
    f.settle();
    EXPECT_EQ(model.defaultOutputName(), "Headphones");
    f.hw.setDeviceName("phones", std::nullopt);
    f.hw.removeDevice("spk");
    f.settle();
    EXPECT_EQ(model.defaultOutputName(), "phones") << "a device without a name is listed under its UID";
    f.hw.failNext(
        SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioHardwarePropertyDefaultOutputDevice);
    f.hw.addDevice(outputDevice("usb", QStringLiteral("USB"), kAudioDeviceTransportTypeUSB));
    f.settle();
    EXPECT_EQ(model.defaultOutputName(), "") << "an unreadable default device has no name";
    EXPECT_EQ(name.count(), 3);
}

TEST(MixerModel, OpeningThePopoverRefreshesAtOnceAndThenOnEveryTick)
{
    ModelFixture f;
    MixerModel& model = f.start();
    const AudioObjectID quiet = f.hw.processObjects()[1];
    // Starting to play changes no process list, so only a refresh notices it.
    f.hw.setProcessPlaying(quiet, true);
    f.settle();
    ASSERT_EQ(model.apps().size(), 2u);
    model.popoverVisible(true);
    EXPECT_EQ(model.apps().size(), 3u) << "opening refreshes at once, before the first tick";
    model.popoverVisible(true);
    EXPECT_EQ(f.clock.scheduled(), 1) << "opening again restarts the poll rather than adding one";

    f.hw.setProcessPlaying(quiet, false);
    f.clock.advance(MixerModel::pollMilliseconds - 1);
    EXPECT_EQ(model.apps().size(), 3u);
    f.clock.advance(1);
    EXPECT_EQ(model.apps().size(), 2u) << "the tick refreshes";
    f.hw.setProcessPlaying(quiet, true);
    f.clock.advance(MixerModel::pollMilliseconds);
    EXPECT_EQ(model.apps().size(), 3u) << "and so does every tick after it";

    model.popoverVisible(false);
    f.hw.setProcessPlaying(quiet, false);
    f.clock.advance(10 * MixerModel::pollMilliseconds);
    EXPECT_EQ(model.apps().size(), 3u) << "no refresh on a timer once the popover closed";
    EXPECT_EQ(f.clock.scheduled(), 0);
}

TEST(MixerModel, WhatReachesTheEngineAroundNativeControlAndTheSystemDefault)
{
    // Spotify's connector answers through the fixture's fake controller; "never discovered" runs on a scene
    // where Spotify starts only at the end of the row.
    Scene withoutSpotify = modelScene();
    std::erase_if(withoutSpotify.applications, [](const auto& a) { return a.bundleIdentifier == kSpotify; });
    std::erase_if(withoutSpotify.processes, [](const auto& p) { return p.bundleID == kSpotify; });
    const auto spotifySession = [](MixerModel& model) {
        for (NativeVolumeSession* session : model.nativeSessions())
            if (session->source() == NativeVolumeSource::spotify)
                return session;
        return static_cast<NativeVolumeSession*>(nullptr);
    };
    const auto connectSpotify = [&](ModelFixture& f, MixerModel& model) {
        f.spotifyController->answers.push_back(appConnection(0.7f));
        spotifySession(model)->connectToSource();
        ASSERT_TRUE(waitUntil([&] { return spotifySession(model)->isConnected(); }));
    };
    const auto disconnectSpotify = [&](ModelFixture&, MixerModel& model) {
        spotifySession(model)->disconnectFromSource();
        ASSERT_TRUE(waitUntil([&] { return !spotifySession(model)->isConnected(); }));
    };
    const auto startSpotify = [](ModelFixture& f, MixerModel&) {
        f.workspace.launch(application(400, kSpotify, QStringLiteral("Spotify")));
        f.hw.addProcess(process(400, kSpotify, true));
        f.settle();
    };
    // A second process changes Spotify's process objects, which is what makes a refresh push an application.
    const auto addSpotifyHelper = [](ModelFixture& f, MixerModel&) {
        f.hw.addProcess(process(401, kSpotify + QStringLiteral(".helper"), false));
        f.settle();
    };
    using Step = std::function<void(ModelFixture&, MixerModel&)>;
    const auto steps = [](std::vector<Step> all) {
        return [all](ModelFixture& f, MixerModel& model) {
            for (const Step& step : all)
                step(f, model);
        };
    };
    struct Tap {
        float gain;
        std::optional<QString> route;
        std::size_t processObjects;
    };
    const struct {
        const char* what;
        Scene scene;
        Step before, act;
        std::map<QString, Tap> taps; ///< every tap after `act`
        QStringList listed; ///< the rows after `act`
        std::optional<int> requests; ///< the engine requests `act` makes, where that is the point
    } cases[] = {
        { "a muted application under native control is not pushed when its processes change", modelScene(),
            steps({ [](ModelFixture&, MixerModel& model) { model.toggleMute(kSpotify); }, connectSpotify }),
            addSpotifyHelper, {}, { kPlayer }, 0 },
        { "a routed application under native control is pushed, at unity, to its device", modelScene(),
            steps({ [](ModelFixture&, MixerModel& model) {
                       ASSERT_TRUE(model.setRoute(QStringLiteral("phones"), kSpotify));
                   },
                connectSpotify }),
            addSpotifyHelper, { { kSpotify, { 1.0f, QStringLiteral("phones"), 2 } } }, { kPlayer }, 1 },
        { "the system default for a listed application without a route keeps its level", modelScene(),
            [](ModelFixture&, MixerModel& model) { model.setVolume(kPlayer, 0.5f); },
            [](ModelFixture&, MixerModel& model) {
                EXPECT_TRUE(model.setRoute(QString(), kPlayer));
                EXPECT_TRUE(model.routes().isEmpty());
            },
            { { kPlayer, { 0.5f, std::nullopt, 1 } } }, { kPlayer, kSpotify }, std::nullopt },
        { "the system default for an application never discovered reaches no engine", modelScene(), [](auto&, auto&) {},
            [](ModelFixture&, MixerModel& model) {
                EXPECT_TRUE(model.setRoute(QString(), QStringLiteral("com.example.later")));
                EXPECT_TRUE(model.routes().isEmpty());
            },
            {}, { kPlayer, kSpotify }, 0 },
        { "connecting before the application was ever discovered: it starts under native control", withoutSpotify,
            [](ModelFixture&, MixerModel& model) {
                model.setVolume(kSpotify, 0.4f);
                model.setVolume(kPlayer, 0.5f);
            },
            steps({ connectSpotify, startSpotify }), { { kPlayer, { 0.5f, std::nullopt, 1 } } }, { kPlayer },
            std::nullopt },
        { "disconnecting before the application was ever discovered: it starts at its saved level", withoutSpotify,
            steps({ [](ModelFixture&, MixerModel& model) { model.setVolume(kSpotify, 0.4f); }, connectSpotify }),
            steps({ disconnectSpotify, startSpotify }), { { kSpotify, { 0.4f, std::nullopt, 1 } } },
            { kPlayer, kSpotify }, std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModelFixture f(c.scene);
        MixerModel& model = f.start();
        c.before(f, model);
        model.engine().taps();
        const int before = model.engine().requestCount();
        c.act(f, model);

        const auto taps = model.engine().taps();
        std::map<QString, Tap> held;
        for (const auto& [id, tap] : taps)
            held[id] = { tap.targetGain, tap.routeUID, tap.processObjects.size() };
        EXPECT_EQ(held.size(), c.taps.size());
        for (const auto& [id, tap] : c.taps) {
            ASSERT_TRUE(held.count(id)) << id.toStdString();
            EXPECT_EQ(held[id].gain, tap.gain) << id.toStdString();
            EXPECT_EQ(held[id].route, tap.route) << id.toStdString();
            EXPECT_EQ(held[id].processObjects, tap.processObjects) << id.toStdString();
        }
        QStringList listed;
        for (const AudioApp& app : model.apps())
            listed << app.id;
        EXPECT_EQ(listed, c.listed);
        if (c.requests) {
            EXPECT_EQ(model.engine().requestCount() - before, *c.requests);
        }
        EXPECT_EQ(model.lastError(), "");
    }
}

TEST(MixerModel, TheViewsChangeApplicationsByTheirId)
{
    ModelFixture f;
    MixerModel& model = f.start();
    QSignalSpy changed(&model, &MixerModel::changed);

    model.setVolume(kPlayer, 0.5f);
    EXPECT_EQ(model.level(kPlayer), 0.5f);
    EXPECT_NEAR(f.listen()["spk"], kPlayerAmplitude * 0.5f, 0.02f) << "a listed application is pushed at once";
    model.toggleMute(kPlayer);
    EXPECT_TRUE(model.isMuted(kPlayer));
    EXPECT_EQ(model.mutedValues(), QStringList { kPlayer });
    model.toggleMute(kPlayer);

    EXPECT_FALSE(model.setRoute(QStringLiteral("gone"), kPlayer)) << "a device that is not listed";
    EXPECT_FALSE(model.route(kPlayer).isValid());
    EXPECT_TRUE(model.setRoute(QStringLiteral("phones"), kPlayer));
    EXPECT_EQ(model.route(kPlayer).value<OutputRoute>(), (OutputRoute { "phones", "Headphones" }));
    EXPECT_EQ(model.routeValues().value(kPlayer).value<OutputRoute>().name, "Headphones");
    EXPECT_GT(f.listen()["phones"], 0.2f);
    EXPECT_TRUE(model.setRoute(QString(), kPlayer));
    EXPECT_TRUE(model.routes().isEmpty());

    // An application that is not discovered keeps what the user chose for when it is.
    model.setVolume(QStringLiteral("com.example.later"), 1.5f);
    model.toggleMute(QStringLiteral("com.example.later"));
    EXPECT_EQ(model.volumeValues().value(QStringLiteral("com.example.later")).toFloat(), 1.5f);
    EXPECT_TRUE(model.isMuted(QStringLiteral("com.example.later")));
    EXPECT_EQ(model.level(QStringLiteral("com.example.unknown")), 1.0f);
    EXPECT_EQ(changed.count(), 7);

    EXPECT_EQ(model.connectorFor(kSpotify), model.nativeSessions()[5]);
    EXPECT_EQ(model.connectorFor(kPlayer), nullptr);
    EXPECT_EQ(model.nativeSessionObjects().size(), 8);
}
