#include "model/mixer_model.h"

#include "audio/ca.h"
#include "audio/process_discovery.h"
#include "model/mixer_settings.h"
#include "platform/dispatch_queue.h"

#include <QSettings>

#include <cmath>

namespace sonaric
{

const std::vector<float>& MixerModel::maxVolumeOptions()
{
    static const std::vector<float> options { 2.0f, 2.5f };
    return options;
}

MixerModel::MixerModel(AudioHardware& hw, const Workspace& workspace, QSettings& settings, DispatchQueue& mainQueue,
    std::vector<std::unique_ptr<NativeVolumeSession>> sessions, DelayClock* clock, QObject* parent)
    : QObject(parent)
    , m_hw(hw)
    , m_workspace(workspace)
    , m_settings(settings)
    , m_clock(clock ? clock : &m_ownClock)
    , m_engine(hw)
{
    // Children of the model, so QML never takes a session it was handed for its own.
    for (std::unique_ptr<NativeVolumeSession>& session : sessions) {
        session->setParent(this);
        m_sessions.push_back(session.release());
    }

    MixerSettings::Restored restored = MixerSettings::restore(settings, maxVolumeOptions());
    m_maxVolume = restored.maxVolume;
    m_volumes = std::move(restored.volumes);
    m_muted = std::move(restored.muted);
    m_routes = std::move(restored.routes);

    // The engine reports on its own queue; the message becomes the last error on the main thread.
    m_engine.setOnError([self = QPointer(this)](const QString& message) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, message] {
                if (self && self->m_lastError != message) {
                    self->m_lastError = message;
                    emit self->lastErrorChanged();
                }
            },
            Qt::QueuedConnection);
    });

    for (NativeVolumeSession* session : m_sessions) {
        const NativeVolumeSource source = session->source();
        session->onConnectionChange = [self = QPointer(this), source](bool) {
            if (self)
                self->connectionChanged(source);
        };
    }

    installListeners(mainQueue);
    refreshOutputDevices();
    refresh();
}

MixerModel::~MixerModel()
{
    stopPolling();
    // Sessions are children of the model; they must not call back into a model that is half gone.
    for (NativeVolumeSession* session : m_sessions)
        session->onConnectionChange = nullptr;
}

void MixerModel::connectionChanged(NativeVolumeSource source)
{
    // On Linux the application's id is its desktop entry's ("chromium"), not the source's bundle identifier.
    QStringList ids { source.bundleID() };
    for (const QString& id : m_discovered.keys() + m_appliedObjects.keys()) {
        if (!ids.contains(id) && NativeVolumeSource::connector(id) == source)
            ids << id;
    }
    for (const QString& id : ids) {
        if (auto it = m_discovered.find(id); it != m_discovered.end()) {
            push(*it);
        } else {
            m_appliedObjects.remove(id);
            m_engine.remove(id);
        }
    }
    emit changed();
    refresh();
}

void MixerModel::refresh()
{
    OSStatus listStatus = noErr;
    const std::vector<AudioApp> found = ProcessDiscovery::apps(m_hw, m_workspace, &listStatus);
    // A process list that cannot be read is not an empty one: taking every application for gone would drop
    // every tap, and a muted application would be heard at full level until the next refresh.
    if (listStatus != noErr)
        return;
    m_discovered.clear();
    for (const AudioApp& app : found)
        m_discovered.insert(app.id, app);

    std::vector<AudioApp> visible;
    for (const AudioApp& app : found)
        if (app.isPlaying && !hasNativeControl(app.id))
            visible.push_back(app);
    if (visible != m_apps) {
        m_apps = std::move(visible);
        emit appsChanged();
    }

    for (const AudioApp& app : found) {
        const bool native = hasNativeControl(app.id);
        auto level = m_volumes.find(app.id);
        const bool needsProcessing
            = (!native && (m_muted.contains(app.id) || (level != m_volumes.end() && *level != 1.0f)))
            || m_routes.contains(app.id);
        if (!needsProcessing)
            continue;
        auto applied = m_appliedObjects.find(app.id);
        if (applied == m_appliedObjects.end() || *applied != app.processObjects)
            push(app);
    }

    const QStringList appliedIDs = m_appliedObjects.keys();
    for (const QString& id : appliedIDs) {
        if (m_discovered.contains(id))
            continue;
        m_appliedObjects.remove(id);
        m_engine.remove(id);
    }

    for (NativeVolumeSession* session : m_sessions)
        session->refresh();
}

void MixerModel::popoverVisible(bool visible)
{
    stopPolling();
    if (!visible)
        return;
    refresh();
    schedulePoll();
}

void MixerModel::schedulePoll()
{
    m_poll = m_clock->schedule(pollMilliseconds, [this] {
        schedulePoll();
        refresh();
    });
}

void MixerModel::stopPolling()
{
    if (m_poll && m_clock)
        m_clock->cancel(m_poll);
    m_poll = 0;
}

void MixerModel::installListeners(DispatchQueue& mainQueue)
{
    if (m_listenersInstalled)
        return;
    m_listenersInstalled = true;
    const QPointer self(this);
    m_hw.addPropertyListenerBlock(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyProcessObjectList),
        mainQueue, [self](std::uint32_t, const AudioObjectPropertyAddress*) {
            if (self)
                self->refresh();
        });
    m_hw.addPropertyListenerBlock(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice),
        mainQueue, [self](std::uint32_t, const AudioObjectPropertyAddress*) {
            if (!self)
                return;
            self->m_engine.outputDeviceChanged();
            self->refreshOutputDevices();
        });
    m_hw.addPropertyListenerBlock(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), mainQueue,
        [self](std::uint32_t, const AudioObjectPropertyAddress*) {
            if (!self)
                return;
            self->m_engine.devicesChanged();
            self->refreshOutputDevices();
        });
}

void MixerModel::refreshOutputDevices()
{
    std::vector<OutputDevice> devices = CA::outputDevices(m_hw);
    const AudioObjectID defaultDevice = CA::defaultOutputDevice(m_hw);
    QString name;
    auto listed
        = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.objectID == defaultDevice; });
    if (listed != devices.end())
        name = listed->name;
    else
        name = CA::string(m_hw, defaultDevice, kAudioObjectPropertyName).value_or(QString());
    if (devices != m_outputDevices) {
        m_outputDevices = std::move(devices);
        emit outputDevicesChanged();
    }
    if (name != m_defaultOutputName) {
        m_defaultOutputName = name;
        emit defaultOutputNameChanged();
    }
}

bool MixerModel::hasNativeControl(const QString& appID) const
{
    const auto source = NativeVolumeSource::connector(appID);
    return source && std::any_of(m_sessions.begin(), m_sessions.end(), [&](const NativeVolumeSession* s) {
        return s->source() == *source && s->isConnected();
    });
}

float MixerModel::effectiveGain(const QString& appID) const
{
    if (hasNativeControl(appID))
        return 1.0f;
    if (m_muted.contains(appID))
        return 0.0f;
    return m_volumes.value(appID, 1.0f);
}

std::optional<QString> MixerModel::outputUID(const QString& appID) const
{
    auto it = m_routes.find(appID);
    if (it == m_routes.end())
        return std::nullopt;
    return it->uid;
}

void MixerModel::push(const AudioApp& app)
{
    const float gain = effectiveGain(app.id);
    const std::optional<QString> uid = outputUID(app.id);
    if (gain == 1.0f && !uid)
        m_appliedObjects.remove(app.id);
    else
        m_appliedObjects.insert(app.id, app.processObjects);
    m_engine.apply(app.id, app.processObjects, gain, uid);
}

bool MixerModel::storeLevel(const QString& appID, float value)
{
    // A slider never sends NaN; a caller that does must not turn the application into noise.
    if (std::isnan(value))
        return false;
    float level = value <= 0.0f ? 0.0f : std::min(value, m_maxVolume);
    if (std::fabs(level - 1.0f) < 0.04f)
        level = 1.0f;
    if (level == 1.0f)
        m_volumes.remove(appID);
    else
        m_volumes.insert(appID, level);
    return true;
}

void MixerModel::setVolume(float value, const AudioApp& app)
{
    if (!storeLevel(app.id, value))
        return;
    persist();
    push(app);
    emit changed();
}

void MixerModel::setVolume(const QString& appID, float value)
{
    if (const auto it = m_discovered.constFind(appID); it != m_discovered.constEnd()) {
        const AudioApp app = *it;
        setVolume(value, app);
        return;
    }
    if (!storeLevel(appID, value))
        return;
    persist();
    emit changed();
}

void MixerModel::toggleMute(const QString& appID)
{
    if (const auto it = m_discovered.constFind(appID); it != m_discovered.constEnd()) {
        const AudioApp app = *it;
        toggleMute(app);
        return;
    }
    if (!m_muted.remove(appID))
        m_muted.insert(appID);
    persist();
    emit changed();
}

bool MixerModel::setRoute(const QString& deviceUID, const QString& appID)
{
    if (deviceUID.isEmpty()) {
        setRoute(std::nullopt, appID);
        return true;
    }
    const auto device = std::find_if(
        m_outputDevices.begin(), m_outputDevices.end(), [&](const OutputDevice& d) { return d.id == deviceUID; });
    if (device == m_outputDevices.end())
        return false;
    setRoute(*device, appID);
    return true;
}

float MixerModel::level(const QString& appID) const
{
    return m_volumes.value(appID, 1.0f);
}

bool MixerModel::isMuted(const QString& appID) const
{
    return m_muted.contains(appID);
}

QVariant MixerModel::route(const QString& appID) const
{
    const auto it = m_routes.constFind(appID);
    return it == m_routes.constEnd() ? QVariant() : QVariant::fromValue(*it);
}

QVariantList MixerModel::appValues() const
{
    QVariantList values;
    for (const AudioApp& app : m_apps)
        values.append(QVariant::fromValue(app));
    return values;
}

QVariantList MixerModel::outputDeviceValues() const
{
    QVariantList values;
    for (const OutputDevice& device : m_outputDevices)
        values.append(QVariant::fromValue(device));
    return values;
}

QVariantMap MixerModel::volumeValues() const
{
    QVariantMap values;
    for (auto it = m_volumes.begin(); it != m_volumes.end(); ++it)
        values.insert(it.key(), it.value());
    return values;
}

QStringList MixerModel::mutedValues() const
{
    QStringList values(m_muted.begin(), m_muted.end());
    values.sort();
    return values;
}

QVariantMap MixerModel::routeValues() const
{
    QVariantMap values;
    for (auto it = m_routes.begin(); it != m_routes.end(); ++it)
        values.insert(it.key(), QVariant::fromValue(it.value()));
    return values;
}

QVariantList MixerModel::nativeSessionObjects() const
{
    QVariantList sessions;
    for (NativeVolumeSession* session : m_sessions)
        sessions.append(QVariant::fromValue(static_cast<QObject*>(session)));
    return sessions;
}

void MixerModel::toggleMute(const AudioApp& app)
{
    if (!m_muted.remove(app.id))
        m_muted.insert(app.id);
    persist();
    push(app);
    emit changed();
}

void MixerModel::setMaxVolume(float value)
{
    const auto& options = maxVolumeOptions();
    if (std::find(options.begin(), options.end(), value) == options.end() || value == m_maxVolume)
        return;
    m_maxVolume = value;
    emit maxVolumeChanged();
    MixerSettings::writeMaxVolume(m_settings, value);

    const QHash<QString, float> snapshot = m_volumes;
    for (auto it = snapshot.begin(); it != snapshot.end(); ++it) {
        if (it.value() <= value)
            continue;
        m_volumes.insert(it.key(), value);
        if (auto applied = m_appliedObjects.find(it.key()); applied != m_appliedObjects.end())
            m_engine.apply(it.key(), *applied, effectiveGain(it.key()), outputUID(it.key()));
    }
    persist();
    emit changed();
}

void MixerModel::setRoute(const std::optional<OutputDevice>& device, const QString& appID)
{
    if (device)
        m_routes.insert(appID, { device->id, device->name });
    else
        m_routes.remove(appID);
    persist();
    if (auto it = m_discovered.find(appID); it != m_discovered.end())
        push(*it);
    emit changed();
}

NativeVolumeSession* MixerModel::connector(const AudioApp& app) const
{
    return connectorFor(app.id);
}

NativeVolumeSession* MixerModel::connectorFor(const QString& appID) const
{
    const auto source = NativeVolumeSource::connector(appID);
    if (!source)
        return nullptr;
    for (NativeVolumeSession* session : m_sessions)
        if (session->source() == *source)
            return session->isConnected() ? nullptr : session;
    return nullptr;
}

bool MixerModel::hasNativeConnection() const
{
    return std::any_of(
        m_sessions.begin(), m_sessions.end(), [](const NativeVolumeSession* s) { return s->isConnected(); });
}

void MixerModel::persist()
{
    MixerSettings::persist(m_settings, m_volumes, m_muted, m_routes);
}

} // namespace sonaric
