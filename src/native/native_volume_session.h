#pragma once

#include "native/cancellation_token.h"
#include "native/native_volume_controlling.h"
#include "native/native_volume_records.h"
#include "native/native_volume_source.h"
#include "platform/delay_clock.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace sonaric
{

/// The main-thread face of one native connector: connects and disconnects its controller, re-reads its
/// volumes, and sends volume changes after a 120 ms pause, all in at most one task at a time. A revision
/// counter drops results that a newer request has made stale.
class NativeVolumeSession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int source READ sourceCase CONSTANT)
    Q_PROPERTY(bool isBrowser READ isBrowser CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString menuName READ menuName CONSTANT)
    Q_PROPERTY(QString appName READ appName CONSTANT)
    Q_PROPERTY(QString bundleID READ bundleID CONSTANT)
    Q_PROPERTY(QString switchHelp READ switchHelp CONSTANT)
    Q_PROPERTY(bool connected READ isConnected NOTIFY connectionChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged)
    Q_PROPERTY(QStringList errorSteps READ errorSteps NOTIFY errorStepsChanged)
    /// Whether `state()` is present, and its volume and mute (0 and false when it is not).
    Q_PROPERTY(bool hasState READ hasState NOTIFY stateChanged)
    Q_PROPERTY(float volume READ stateVolume NOTIFY stateChanged)
    Q_PROPERTY(bool muted READ stateMuted NOTIFY stateChanged)
    /// The pending changes by key, each a map with "volume" and "muted".
    Q_PROPERTY(QVariantMap desired READ desiredValues NOTIFY desiredChanged)

public:
    /// How long volume changes wait for further changes before they are sent.
    static constexpr int debounceMilliseconds = 120;

    /// Drives `controller`, which the composition root chose for `source` (`makeNativeVolumeController`). The
    /// debounce runs on `clock`, which must outlive the session; without one, on precise Qt timers of its own.
    NativeVolumeSession(NativeVolumeSource source, std::unique_ptr<NativeVolumeControlling> controller,
        DelayClock* clock = nullptr, QObject* parent = nullptr);
    ~NativeVolumeSession() override;

    NativeVolumeSource source() const { return m_source; }
    int sourceCase() const { return int(m_source.value()); }
    bool isBrowser() const { return m_source.isBrowser(); }
    QString title() const { return m_source.title(); }
    QString menuName() const { return m_source.menuName(); }
    QString appName() const { return m_source.appName(); }
    QString bundleID() const { return m_source.bundleID(); }
    QString switchHelp() const { return m_source.switchHelp(); }
    const std::optional<NativeVolumeConnection>& connection() const { return m_connection; }
    bool isConnected() const { return m_connection.has_value(); }
    bool busy() const { return m_busy; }
    QString error() const { return m_error.value_or(QString()); }
    bool hasError() const { return m_error.has_value(); }
    QStringList errorSteps() const { return m_errorSteps; }
    const NativeVolumeChanges& desired() const { return m_desired; }
    /// The application's own volume as shown: a pending change first, else the last one read.
    std::optional<NativeVolumeState> state() const;
    bool hasState() const { return state().has_value(); }
    float stateVolume() const;
    bool stateMuted() const;
    QVariantMap desiredValues() const;

    /// Called with true after a successful connect and with false after a disconnect.
    std::function<void(bool connected)> onConnectionChange;

    // Connect and disconnect; named apart from QObject's own `connect` and `disconnect`, which they would hide.
    /// Takes the source's volume over: the controller verifies it can drive the source and reads its volumes.
    /// Ignored while busy; `onFailure` runs (on the main thread) when the connect fails.
    void connectToSource(std::function<void()> onFailure = {});
    /// Gives the source's volume back once the controller has finished what it has pending. Ignored while busy.
    void disconnectFromSource();
    void refresh();
    void setVolume(float volume, const std::optional<NativeVolumeTab>& tab = std::nullopt);
    void toggleMute(const std::optional<NativeVolumeTab>& tab = std::nullopt);
    /// Records `state` under `key` ("" = the application, else a tab key) and sends every pending change once
    /// no further change has come for the debounce interval.
    void update(const NativeVolumeState& state, const QString& key);

    // The same operations for the views, which know a tab by its key.
    Q_INVOKABLE void update(float volume, bool muted, const QString& key);
    /// Does nothing when the connection has no tab with this key.
    Q_INVOKABLE void setTabVolume(const QString& tabID, float volume);
    Q_INVOKABLE void toggleTabMute(const QString& tabID);
    /// Connects on the user's behalf from the mixer: a failure is announced by `switchToNativeFailed()`, so
    /// the row that offered the switch can take the user to the connector's settings.
    Q_INVOKABLE void switchToNative();
    /// At termination: cancels the pending task and makes every result still on its way stale.
    void cancelPendingWork();

signals:
    void connectionChanged();
    void busyChanged();
    void errorChanged();
    void errorStepsChanged();
    void desiredChanged();
    /// `state()` changed.
    void stateChanged();
    void switchToNativeFailed();

private:
    struct Task {
        CancellationToken cancellation;
        /// The debounce's scheduled send, 0 when there is none.
        DelayClock::Handle delay = 0;
    };

    CancellationToken startTask();
    void cancelTask();
    void dropTask() { m_task.reset(); }
    /// Runs `handle` on the main thread with the result, if the session still exists.
    NativeVolumeControlling::Completion onMainThread(std::function<void(const NativeVolumeResult&)> handle);
    void fail(const NativeVolumeError& error);
    void setConnection(std::optional<NativeVolumeConnection> connection);
    void setBusy(bool busy);
    void setError(std::optional<QString> error, QStringList steps);
    void setDesired(NativeVolumeChanges desired);
    void publishState();
    std::optional<NativeVolumeTab> tab(const QString& tabID) const;

    const NativeVolumeSource m_source;
    std::unique_ptr<NativeVolumeControlling> m_controller;
    DelayClock m_ownClock;
    QPointer<DelayClock> m_clock;
    std::optional<NativeVolumeConnection> m_connection;
    bool m_busy = false;
    std::optional<QString> m_error;
    QStringList m_errorSteps;
    NativeVolumeChanges m_desired;
    std::optional<NativeVolumeState> m_publishedState;
    std::optional<Task> m_task;
    quint64 m_revision = 0;
};

} // namespace sonaric
