#pragma once

// The views' test bench: a mixer model on the simulated system, built from a named scene, with connectors
// whose answers the test decides (or, for the screenshots, the simulated scripting's fake applications and
// browsers), and the QML-facing operations the Quick tests and the screenshot tool use.

#include "model/mixer_model.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/main_queue.h"
#include "platform/scripting/sim/simulated_scripting.h"

#include "platform/workspace/sim/simulated_workspace.h"
#include <functional>

#include "support/event_loop.h"
#include "support/fake_controller.h"
#include "support/manual_clock.h"
#include "ui/forwarding_workspace.h"

#include <QObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariantList>

#include <map>
#include <memory>

namespace sonaric::test
{

/// A desk: speakers (the default), Bluetooth headphones and an HDMI television; a player, a video call, Chrome
/// and Spotify playing.
Scene deskScene();

class UiBench : public QObject
{
    Q_OBJECT
    Q_PROPERTY(sonaric::MixerModel* model READ model NOTIFY modelChanged)
    Q_PROPERTY(sonaric::test::ManualClock* clock READ clock CONSTANT)

public:
    /// Fake connectors answer as the test says; simulated ones run the real controllers against `scripting`.
    enum class Connectors { fake, simulated };

    explicit UiBench(Connectors connectors = Connectors::fake, QObject* parent = nullptr);
    ~UiBench() override;

    /// The workspace to hand to `registerUi`: it follows every scene the bench starts.
    const Workspace& workspace() const { return m_workspace; }
    MixerModel* model() const { return m_model.get(); }
    ManualClock* clock() { return &m_clock; }
    SimulatedAudioHardware& hardware() { return *m_hw; }
    SimulatedScripting& scripting() { return *m_scripting; }
    /// Wraps the simulated scripting that the simulated connectors talk to, from the next start on (the
    /// screenshots show it as the Linux program does).
    using ScriptingWrapper = std::function<std::unique_ptr<Scripting>(std::unique_ptr<Scripting>, const Workspace&)>;
    void setScriptingWrapper(ScriptingWrapper wrapper) { m_wrapScripting = std::move(wrapper); }
    FakeController* controller(NativeVolumeSource source) const;

    /// Starts anew on a scene: "desk" (deskScene), "quiet" (the desk's devices, nothing playing), "hostile"
    /// (applications whose names look like markup), "demo" (the built-in demo scene).
    Q_INVOKABLE void start(const QString& scene);
    void start(const Scene& scene);

    Q_INVOKABLE sonaric::NativeVolumeSession* session(int source) const;
    /// Connects an application connector, reporting this volume and mute.
    Q_INVOKABLE void connectApp(int source, double volume, bool muted = false);
    /// Connects a browser connector with these tabs: maps with "id", "title", "playing", "volume", "muted".
    Q_INVOKABLE void connectBrowser(int source, const QVariantList& tabs);
    /// Starts connecting and leaves the answer out, so the session stays busy.
    Q_INVOKABLE void holdConnect(int source);
    /// The next connect fails with this message.
    Q_INVOKABLE void failNextConnect(int source, const QString& message);
    /// A connected session's next read fails with this message, and the session reads now.
    Q_INVOKABLE void failRefresh(int source, const QString& message);
    /// Starts a playing application (with one process) and refreshes the model.
    Q_INVOKABLE void addPlayer(int pid, const QString& bundleID, const QString& name);
    /// Stops an application's processes playing and refreshes the model.
    Q_INVOKABLE void stopPlayer(int pid);
    Q_INVOKABLE void removeDevice(const QString& uid);
    /// Runs what is queued for the main thread.
    Q_INVOKABLE void settle();

signals:
    void modelChanged();

private:
    std::unique_ptr<NativeVolumeControlling> makeController(NativeVolumeSource source);

    Connectors m_connectors;
    ForwardingWorkspace m_workspace;
    ManualClock m_clock;
    MainQueue m_mainQueue;
    QTemporaryDir m_dir;
    int m_run = 0;
    std::unique_ptr<SimulatedAudioHardware> m_hw;
    std::unique_ptr<SimulatedWorkspace> m_simulatedWorkspace;
    ScriptingWrapper m_wrapScripting;
    std::unique_ptr<Scripting> m_service; ///< what the connectors talk to: the simulated scripting, or its wrapper
    SimulatedScripting* m_scripting = nullptr;
    std::unique_ptr<QSettings> m_settings;
    std::map<int, FakeController*> m_controllers;
    std::map<int, AudioObjectID> m_players;
    std::unique_ptr<MixerModel> m_model;
};

} // namespace sonaric::test
