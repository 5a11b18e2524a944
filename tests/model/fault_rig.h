#pragma once

// A desk for randomized fault runs: the real mixer model and tap engine on the simulated system, the real app
// connectors on the simulated scripting, and applications whose processes each play a sine of a frequency of
// their own, so that what every device plays can be taken apart per process and compared with what the model
// says each application should sound like.

#include "model/mixer_model.h"
#include "native/native_volume_sessions.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/main_queue.h"
#include "platform/scripting/sim/simulated_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include "support/event_loop.h"
#include "support/scenes.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <vector>

namespace sonaric::test
{

struct ProcessSpec {
    pid_t pid;
    QString bundleID;
    float amplitude;
    double frequency; ///< a multiple of 10 Hz: whole cycles in the listening window, so sines do not leak
    AudioObjectID object = 0; ///< 0 while the process does not exist
    bool playing = true;
};

struct AppSpec {
    QString id;
    QString name;
    std::vector<ProcessSpec> processes; ///< the first is the application's own; the others are helpers
    bool running = true;
};

struct DeviceSpec {
    SceneDevice scene;
    bool plugged = true;
};

/// What one application should sound like: its gain on one device.
struct Hearing {
    float gain = 1.0f;
    QString deviceUID;
    bool operator==(const Hearing&) const = default;
};

class FaultRig
{
public:
    static constexpr std::uint32_t kRate = 48000;
    static constexpr std::uint32_t kWindow = 4800; ///< frames listened to per check: 0.1 s
    static constexpr float kCeiling = 0.99f; ///< the tap's peak limiter

    FaultRig()
        : apps(makeApps())
        , devices(makeDevices())
        , hw(scene())
        , workspace(scene())
    {
        for (AppSpec& app : apps)
            for (ProcessSpec& p : app.processes)
                p.object = objectFor(p.pid);
        // Each read that finds a new aggregate device not yet alive costs the build 10 ms of real time; one
        // still takes the waiting path, and keeps thousands of builds quick.
        hw.setAggregateAliveAfterReads(1);
        // The connectors' applications answer the app connector's scripts; they never stop running, since the
        // fakes must not change while a script may run.
        FakeMediaApp spotify;
        spotify.bundleID = QStringLiteral("com.spotify.client");
        spotify.hasMute = false;
        scripting.addApp(spotify);
        FakeMediaApp music;
        music.bundleID = QStringLiteral("com.apple.Music");
        scripting.addApp(music);
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("Sonaric.conf")), QSettings::IniFormat);
        model = std::make_unique<MixerModel>(
            hw, workspace, *settings, mainQueue, makeNativeVolumeSessions([this](NativeVolumeSource source) {
                return makeNativeVolumeController(source, scripting, workspace);
            }));
    }

    // MARK: The scene

    AppSpec& app(const QString& id)
    {
        for (AppSpec& a : apps)
            if (a.id == id)
                return a;
        std::abort();
    }

    void setRunning(AppSpec& app, bool running)
    {
        if (app.running == running)
            return;
        app.running = running;
        if (running)
            workspace.launch(application(app.processes.front().pid, app.id, app.name));
        for (ProcessSpec& p : app.processes) {
            if (running) {
                addProcess(p);
            } else if (p.object) {
                hw.removeProcess(std::exchange(p.object, 0));
            }
        }
        if (!running)
            workspace.terminate(app.processes.front().pid);
    }

    /// A helper process of a running application comes or goes: the application's process set changes.
    void setPresent(AppSpec& app, ProcessSpec& p, bool present)
    {
        if (!app.running || bool(p.object) == present)
            return;
        if (present)
            addProcess(p);
        else
            hw.removeProcess(std::exchange(p.object, 0));
    }

    void setPlaying(ProcessSpec& p, bool playing)
    {
        p.playing = playing;
        if (p.object)
            hw.setProcessPlaying(p.object, playing);
    }

    void setPlugged(DeviceSpec& device, bool plugged)
    {
        if (device.plugged == plugged)
            return;
        device.plugged = plugged;
        if (plugged) {
            SceneDevice scene = device.scene;
            scene.isDefaultOutput = false;
            hw.addDevice(scene);
        } else {
            hw.removeDevice(device.scene.uid);
        }
    }

    int pluggedCount() const
    {
        return int(std::count_if(devices.begin(), devices.end(), [](const DeviceSpec& d) { return d.plugged; }));
    }

    // MARK: Waiting and listening

    /// Delivers what the hardware's listeners, the engine and the connectors posted to the main thread, and lets
    /// the engine finish everything asked of it.
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            waitUntil([&] {
                for (NativeVolumeSession* s : model->nativeSessions())
                    if (s->busy())
                        return false;
                return true;
            });
            QCoreApplication::sendPostedEvents();
            model->engine().taps();
            QCoreApplication::sendPostedEvents();
        }
    }

    /// How loud each playing process is heard on each channel of each plugged device, by process object and
    /// device UID: the amplitude of its sine in what the device played over the next window.
    using Heard = std::map<AudioObjectID, std::map<QString, std::vector<float>>>;
    Heard listen(std::uint32_t before)
    {
        hw.advance(before);
        for (const DeviceSpec& d : devices)
            hw.takePlayed(d.scene.uid);
        hw.advance(kWindow);
        Heard heard;
        for (const DeviceSpec& d : devices) {
            if (!d.plugged)
                continue;
            const std::vector<float> played = hw.takePlayed(d.scene.uid);
            const std::uint32_t channels = hw.outputChannels(d.scene.uid);
            for (const AppSpec& app : apps)
                for (const ProcessSpec& p : app.processes)
                    if (p.object && p.playing)
                        for (std::uint32_t c = 0; c < std::min<std::uint32_t>(channels, 2); ++c)
                            heard[p.object][d.scene.uid].push_back(amplitude(played, channels, c, p.frequency));
        }
        return heard;
    }

    static float amplitude(const std::vector<float>& played, std::uint32_t channels, std::uint32_t channel, double hz)
    {
        if (played.size() < std::size_t(kWindow) * channels)
            return 0.0f;
        double re = 0, im = 0;
        for (std::uint32_t n = 0; n < kWindow; ++n) {
            const double x = played[std::size_t(n) * channels + channel];
            const double w = 2.0 * std::numbers::pi * hz * n / kRate;
            re += x * std::cos(w);
            im += x * std::sin(w);
        }
        return float(2.0 * std::hypot(re, im) / kWindow);
    }

    // MARK: What the model says

    /// The application as the model wants it heard: its level, nothing when muted, unity while a connector
    /// controls it; on its route while that device is plugged, else on the default device.
    Hearing wanted(const AppSpec& app) const
    {
        Hearing h { 1.0f, hw.defaultOutputUID() };
        const NativeVolumeSession* session = nullptr;
        for (const NativeVolumeSession* s : model->nativeSessions())
            if (s->bundleID() == app.id)
                session = s;
        if (!(session && session->isConnected()))
            h.gain = model->isMuted(app.id) ? 0.0f : model->level(app.id);
        if (const QVariant route = model->route(app.id); route.isValid()) {
            const QString uid = route.value<OutputRoute>().uid;
            if (hw.objectForDevice(uid) != 0)
                h.deviceUID = uid;
        }
        return h;
    }

    /// The application as it sounds with no tap at all.
    Hearing untouched() const { return { 1.0f, hw.defaultOutputUID() }; }

    /// Whether every playing process of `app` is heard as `h` says: at the gain times its amplitude on both
    /// channels of that device, and not at all elsewhere. Above the limiter's ceiling the processes are heard
    /// at most at their gain and at least scaled down to the ceiling, with room for the limiter's release
    /// between peaks. Empty when it matches, else what was off.
    std::string mismatch(const AppSpec& app, const Hearing& h, const Heard& heard) const
    {
        float sum = 0;
        for (const ProcessSpec& p : app.processes)
            if (p.object && p.playing)
                sum += p.amplitude;
        const bool limited = h.gain * sum > kCeiling;
        std::string off;
        for (const ProcessSpec& p : app.processes) {
            if (!p.object || !p.playing)
                continue;
            for (const auto& [uid, channels] : heard.at(p.object)) {
                const float target = uid == h.deviceUID ? h.gain * p.amplitude : 0.0f;
                const float low = limited && uid == h.deviceUID ? p.amplitude * kCeiling / sum * 0.93f : target;
                for (float a : channels) {
                    if (a < low - kTolerance || a > target + kTolerance)
                        off += QStringLiteral(" %1 Hz on %2 at %3, wants %4;")
                                   .arg(p.frequency)
                                   .arg(uid)
                                   .arg(a, 0, 'f', 4)
                                   .arg(low == target
                                           ? QString::number(target, 'f', 4)
                                           : QStringLiteral("%1…%2").arg(low, 0, 'f', 4).arg(target, 0, 'f', 4))
                                   .toStdString();
                }
            }
        }
        return off;
    }

    /// Whether any process of `app` plays.
    static bool audible(const AppSpec& app)
    {
        return std::any_of(
            app.processes.begin(), app.processes.end(), [](const ProcessSpec& p) { return p.object && p.playing; });
    }

    static constexpr float kTolerance = 2e-3f;

    std::vector<AppSpec> apps;
    std::vector<DeviceSpec> devices;
    QTemporaryDir dir;
    SimulatedAudioHardware hw;
    SimulatedWorkspace workspace;
    SimulatedScripting scripting;
    MainQueue mainQueue;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<MixerModel> model;

private:
    // Frequencies whose low odd harmonics (what a limiter adds) and the helper pair's intermodulation miss
    // every other one.
    static std::vector<AppSpec> makeApps()
    {
        return {
            { QStringLiteral("com.example.player"), QStringLiteral("Player"),
                { { 100, QStringLiteral("com.example.player"), 0.4f, 430 },
                    { 101, QStringLiteral("com.example.player.helper"), 0.15f, 670 } } },
            { QStringLiteral("com.example.chat"), QStringLiteral("Chat"),
                { { 200, QStringLiteral("com.example.chat"), 0.3f, 730 } } },
            { QStringLiteral("com.example.game"), QStringLiteral("Game"),
                { { 300, QStringLiteral("com.example.game"), 0.9f, 1210 } } },
            { QStringLiteral("com.spotify.client"), QStringLiteral("Spotify"),
                { { 400, QStringLiteral("com.spotify.client"), 0.5f, 970 } } },
            { QStringLiteral("com.apple.Music"), QStringLiteral("Music"),
                { { 500, QStringLiteral("com.apple.Music"), 0.25f, 1090 } } },
        };
    }

    // Speakers (the default), headphones, an interface with inputs of its own (a tap that reads the wrong
    // input buffer is heard as its hum) and a TV whose two channels are separate streams.
    static std::vector<DeviceSpec> makeDevices()
    {
        auto usb = outputDevice("usb", QStringLiteral("Interface"), kAudioDeviceTransportTypeUSB);
        usb.inputStreams = { 2 };
        auto tv = outputDevice("tv", QStringLiteral("TV"), kAudioDeviceTransportTypeHDMI);
        tv.outputStreams = { 1, 1 };
        return { { outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true) },
            { outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth) }, { usb },
            { tv } };
    }

    Scene scene() const
    {
        Scene s;
        for (const DeviceSpec& d : devices)
            s.devices.push_back(d.scene);
        for (const AppSpec& app : apps) {
            s.applications.push_back(application(app.processes.front().pid, app.id, app.name));
            for (const ProcessSpec& p : app.processes)
                s.processes.push_back(sceneProcess(p));
        }
        return s;
    }

    static SceneProcess sceneProcess(const ProcessSpec& p)
    {
        SceneProcess s = process(p.pid, p.bundleID, p.playing);
        s.signal = { SceneSignal::Kind::sine, p.amplitude, p.frequency };
        return s;
    }

    void addProcess(ProcessSpec& p) { p.object = hw.addProcess(sceneProcess(p)); }

    /// The object of a scene process: the scene's processes get theirs in scene order.
    AudioObjectID objectFor(pid_t pid) const
    {
        const std::vector<AudioObjectID> objects = hw.processObjects();
        std::size_t index = 0;
        for (const AppSpec& app : apps)
            for (const ProcessSpec& p : app.processes) {
                if (p.pid == pid)
                    return objects.at(index);
                ++index;
            }
        return 0;
    }
};

} // namespace sonaric::test
