#pragma once

// A mixer model on the simulated system with its real tap engine, a real settings file, a fake controller
// for the Spotify connector and a clock the test moves; the test listens to what the devices play.

#include "model/mixer_model.h"
#include "native/native_volume_sessions.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/main_queue.h"
#include "platform/scripting/sim/simulated_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include "support/event_loop.h"
#include "support/fake_controller.h"
#include "support/manual_clock.h"
#include "support/scenes.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace sonaric::test
{

inline constexpr float kPlayerAmplitude = 0.5f;
inline const QString kPlayer = QStringLiteral("com.example.player");
inline const QString kQuiet = QStringLiteral("com.example.quiet");
inline const QString kSpotify = QStringLiteral("com.spotify.client");

inline Scene modelScene()
{
    Scene s;
    s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
    s.devices.push_back(outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth));
    s.applications = { application(100, kPlayer, QStringLiteral("Player")),
        application(300, kQuiet, QStringLiteral("Quiet")), application(400, kSpotify, QStringLiteral("Spotify")) };
    auto player = process(100, kPlayer, true);
    player.signal = { SceneSignal::Kind::sine, kPlayerAmplitude, 441.0 };
    auto quiet = process(300, kQuiet, false);
    auto spotify = process(400, kSpotify, true);
    spotify.signal = { SceneSignal::Kind::silence, 0.0f, 1.0 };
    s.processes = { player, quiet, spotify };
    return s;
}

class ModelFixture
{
public:
    explicit ModelFixture(Scene scene = modelScene())
        : hw(scene)
        , workspace(scene)
    {
    }

    QString settingsPath() const { return dir.filePath(QStringLiteral("Sonaric.conf")); }

    /// Settings as a fresh process would see them.
    std::unique_ptr<QSettings> openSettings() const
    {
        return std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
    }

    MixerModel& start()
    {
        model.reset();
        settings = openSettings();
        auto controllers = [this](NativeVolumeSource source) -> std::unique_ptr<NativeVolumeControlling> {
            if (source.bundleID() != kSpotify)
                return makeNativeVolumeController(source, scripting, workspace);
            auto fake = std::make_unique<FakeController>();
            spotifyController = fake.get();
            return fake;
        };
        model = std::make_unique<MixerModel>(
            hw, workspace, *settings, mainQueue, makeNativeVolumeSessions(controllers, &clock), &clock);
        return *model;
    }

    /// Restarts the model the way a relaunch would: settings written, everything built anew.
    MixerModel& restart()
    {
        model.reset();
        settings->sync();
        return start();
    }

    const AudioApp& app(const QString& id) const
    {
        for (const AudioApp& a : model->apps())
            if (a.id == id)
                return a;
        static AudioApp none;
        ADD_FAILURE() << "no row for " << id.toStdString();
        return none;
    }

    /// Lets the engine finish, then plays `frames` frames and returns each device's loudest sample.
    std::map<QString, float> listen(std::uint32_t frames = 4800)
    {
        model->engine().taps();
        hw.advance(512);
        for (const char* uid : { "spk", "phones" })
            hw.takePlayed(uid);
        hw.advance(frames);
        std::map<QString, float> peaks;
        for (const char* uid : { "spk", "phones" }) {
            float peak = 0;
            for (float s : hw.takePlayed(uid))
                peak = std::max(peak, std::fabs(s));
            peaks[uid] = peak;
        }
        return peaks;
    }

    /// Runs what the hardware's listeners delivered to the main thread.
    void settle() { deliverPosted(); }

    QTemporaryDir dir;
    SimulatedAudioHardware hw;
    SimulatedWorkspace workspace;
    SimulatedScripting scripting;
    MainQueue mainQueue;
    ManualClock clock;
    std::unique_ptr<QSettings> settings;
    FakeController* spotifyController = nullptr;
    std::unique_ptr<MixerModel> model;
};

} // namespace sonaric::test
