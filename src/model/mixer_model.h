#pragma once

#include "audio/audio_app.h"
#include "audio/output_device.h"
#include "audio/tap_engine.h"
#include "model/output_route.h"
#include "native/native_volume_session.h"
#include "platform/delay_clock.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

class QSettings;

namespace sonaric
{

class AudioHardware;
class DispatchQueue;
class Workspace;

/// The one model of the mixer: the applications that play, their levels, mutes and routes, the boost limit,
/// the output devices and the last engine failure. Lives on the main thread; every change it makes to what the
/// applications sound like goes to the tap engine, and every user setting is written through to the settings.
///
/// Published values notify only when they really change; the unpublished dictionaries (`volumes`, `muted`,
/// `routes`) are announced by `changed()`.
class MixerModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(float maxVolume READ maxVolume NOTIFY maxVolumeChanged)
    Q_PROPERTY(QString defaultOutputName READ defaultOutputName NOTIFY defaultOutputNameChanged)
    Q_PROPERTY(bool hasNativeConnection READ hasNativeConnection NOTIFY changed)
    // What the views read, in QML's types: the applications (`AudioApp`) and devices (`OutputDevice`) as
    // lists of gadgets, levels by application id, the muted ids, routes (`OutputRoute`) by application id.
    Q_PROPERTY(QVariantList apps READ appValues NOTIFY appsChanged)
    Q_PROPERTY(QVariantList outputDevices READ outputDeviceValues NOTIFY outputDevicesChanged)
    Q_PROPERTY(QVariantMap volumes READ volumeValues NOTIFY changed)
    Q_PROPERTY(QStringList muted READ mutedValues NOTIFY changed)
    Q_PROPERTY(QVariantMap routes READ routeValues NOTIFY changed)
    Q_PROPERTY(QVariantList nativeSessions READ nativeSessionObjects CONSTANT)

public:
    /// The boost limits the user can choose, in order.
    static const std::vector<float>& maxVolumeOptions();
    /// How often the applications are re-read while the popover is open.
    static constexpr int pollMilliseconds = 1500;

    /// Takes the connectors' sessions as its children (the composition root makes them with
    /// `makeNativeVolumeSessions`), builds the engine, restores the settings, installs the hardware listeners
    /// (delivered on `mainQueue`), reads the devices and refreshes once: saved levels have their taps requested
    /// on return. The popover's poll runs on `clock`, which must outlive the model; without one, on precise Qt
    /// timers of its own.
    MixerModel(AudioHardware& hw, const Workspace& workspace, QSettings& settings, DispatchQueue& mainQueue,
        std::vector<std::unique_ptr<NativeVolumeSession>> sessions, DelayClock* clock = nullptr,
        QObject* parent = nullptr);
    ~MixerModel() override;

    const std::vector<AudioApp>& apps() const { return m_apps; }
    QString lastError() const { return m_lastError.value_or(QString()); }
    float maxVolume() const { return m_maxVolume; }
    const std::vector<OutputDevice>& outputDevices() const { return m_outputDevices; }
    QString defaultOutputName() const { return m_defaultOutputName; }
    const QHash<QString, float>& volumes() const { return m_volumes; }
    const QSet<QString>& muted() const { return m_muted; }
    const QHash<QString, OutputRoute>& routes() const { return m_routes; }
    const std::vector<NativeVolumeSession*>& nativeSessions() const { return m_sessions; }
    TapEngine& engine() { return m_engine; }

    /// Re-reads the applications, reconciles their taps and re-reads every connected session.
    Q_INVOKABLE void refresh();
    /// The popover opens (refresh now and every `pollMilliseconds`) or closes (stop refreshing on a timer).
    Q_INVOKABLE void popoverVisible(bool visible);

    void setVolume(float value, const AudioApp& app);
    void toggleMute(const AudioApp& app);
    Q_INVOKABLE void setMaxVolume(float value);
    void setRoute(const std::optional<OutputDevice>& device, const QString& appID);
    /// The session that could take over this application's volume, while it is not connected.
    NativeVolumeSession* connector(const AudioApp& app) const;
    bool hasNativeConnection() const;

    // The same operations for the views, which know an application by its id.
    /// The level shown for an application: the stored one, 1 when none is stored.
    Q_INVOKABLE float level(const QString& appID) const;
    Q_INVOKABLE bool isMuted(const QString& appID) const;
    /// The application's `OutputRoute`, or null when it follows the system default.
    Q_INVOKABLE QVariant route(const QString& appID) const;
    /// An application that is not discovered at the moment keeps the level (or mute) for when it is.
    Q_INVOKABLE void setVolume(const QString& appID, float value);
    Q_INVOKABLE void toggleMute(const QString& appID);
    /// Routes to the listed device with this UID, or back to the system default with "". A UID that is not
    /// listed (the device left while the list was open) changes nothing and gives false.
    Q_INVOKABLE bool setRoute(const QString& deviceUID, const QString& appID);
    Q_INVOKABLE sonaric::NativeVolumeSession* connectorFor(const QString& appID) const;

    QVariantList appValues() const;
    QVariantList outputDeviceValues() const;
    QVariantMap volumeValues() const;
    QStringList mutedValues() const;
    QVariantMap routeValues() const;
    QVariantList nativeSessionObjects() const;

signals:
    void appsChanged();
    void lastErrorChanged();
    void maxVolumeChanged();
    void outputDevicesChanged();
    void defaultOutputNameChanged();
    /// The levels, mutes or routes changed.
    void changed();

private:
    void installListeners(DispatchQueue& mainQueue);
    void schedulePoll();
    void stopPolling();
    void refreshOutputDevices();
    bool hasNativeControl(const QString& appID) const;
    float effectiveGain(const QString& appID) const;
    std::optional<QString> outputUID(const QString& appID) const;
    void push(const AudioApp& app);
    /// Stores a level as `setVolume` does; false when the value is no level at all.
    bool storeLevel(const QString& appID, float value);
    void persist();
    void connectionChanged(NativeVolumeSource source);

    AudioHardware& m_hw;
    const Workspace& m_workspace;
    QSettings& m_settings;

    std::vector<AudioApp> m_apps;
    std::optional<QString> m_lastError;
    std::vector<NativeVolumeSession*> m_sessions; // children of the model
    float m_maxVolume = 2.5f;
    std::vector<OutputDevice> m_outputDevices;
    QString m_defaultOutputName;
    QHash<QString, float> m_volumes;
    QSet<QString> m_muted;
    QHash<QString, OutputRoute> m_routes;
    QHash<QString, AudioApp> m_discovered;
    QHash<QString, std::vector<AudioObjectID>> m_appliedObjects;
    DelayClock m_ownClock;
    QPointer<DelayClock> m_clock;
    DelayClock::Handle m_poll = 0; ///< the next poll while the popover is open, else 0
    bool m_listenersInstalled = false;
    TapEngine m_engine;
};

} // namespace sonaric
