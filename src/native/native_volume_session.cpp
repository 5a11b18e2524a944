#include "native/native_volume_session.h"

namespace sonaric
{

NativeVolumeSession::NativeVolumeSession(
    NativeVolumeSource source, std::unique_ptr<NativeVolumeControlling> controller, DelayClock* clock, QObject* parent)
    : QObject(parent)
    , m_source(source)
    , m_controller(std::move(controller))
    , m_clock(clock ? clock : &m_ownClock)
{
    Q_ASSERT(m_controller);
}

NativeVolumeSession::~NativeVolumeSession()
{
    cancelTask();
}

std::optional<NativeVolumeState> NativeVolumeSession::state() const
{
    if (auto it = m_desired.find(QString()); it != m_desired.end())
        return *it;
    return m_connection ? m_connection->state : std::nullopt;
}

float NativeVolumeSession::stateVolume() const
{
    const auto current = state();
    return current ? current->volume : 0.0f;
}

bool NativeVolumeSession::stateMuted() const
{
    const auto current = state();
    return current && current->muted;
}

QVariantMap NativeVolumeSession::desiredValues() const
{
    QVariantMap values;
    for (auto it = m_desired.begin(); it != m_desired.end(); ++it)
        values.insert(
            it.key(), QVariantMap { { QStringLiteral("volume"), it->volume }, { QStringLiteral("muted"), it->muted } });
    return values;
}

std::optional<NativeVolumeTab> NativeVolumeSession::tab(const QString& tabID) const
{
    if (!m_connection)
        return std::nullopt;
    for (const NativeVolumeTab& tab : m_connection->tabs)
        if (tab.id == tabID)
            return tab;
    return std::nullopt;
}

void NativeVolumeSession::update(float volume, bool muted, const QString& key)
{
    update(NativeVolumeState { volume, muted }, key);
}

void NativeVolumeSession::setTabVolume(const QString& tabID, float volume)
{
    if (const auto found = tab(tabID))
        setVolume(volume, found);
}

void NativeVolumeSession::toggleTabMute(const QString& tabID)
{
    if (const auto found = tab(tabID))
        toggleMute(found);
}

void NativeVolumeSession::switchToNative()
{
    connectToSource([self = QPointer(this)] {
        if (self)
            emit self->switchToNativeFailed();
    });
}

void NativeVolumeSession::connectToSource(std::function<void()> onFailure)
{
    if (m_busy)
        return;
    cancelTask();
    const quint64 revision = ++m_revision;
    setBusy(true);
    setError(std::nullopt, {});
    m_controller->connect(
        startTask(), onMainThread([this, revision, onFailure = std::move(onFailure)](const NativeVolumeResult& result) {
            if (m_revision != revision)
                return; // a newer operation owns the session's state
            if (result.isSuccess()) {
                setConnection(result.connection());
                setDesired({});
                if (onConnectionChange)
                    onConnectionChange(true);
            } else if (result.isFailure()) {
                fail(result.error());
                if (onFailure)
                    onFailure();
            }
            if (m_revision == revision) {
                setBusy(false);
                dropTask();
            }
        }));
}

void NativeVolumeSession::disconnectFromSource()
{
    if (m_busy)
        return;
    cancelTask();
    ++m_revision;
    setBusy(true);
    startTask();
    m_controller->finishPendingOperations([self = QPointer(this)] {
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (!self)
                    return;
                self->setConnection(std::nullopt);
                self->setDesired({});
                self->setError(std::nullopt, {});
                self->setBusy(false);
                self->dropTask();
                if (self->onConnectionChange)
                    self->onConnectionChange(false);
            },
            Qt::QueuedConnection);
    });
}

void NativeVolumeSession::refresh()
{
    if (!m_connection || m_task || m_error)
        return;
    const quint64 revision = m_revision;
    m_controller->read(*m_connection, startTask(), onMainThread([this, revision](const NativeVolumeResult& result) {
        if (m_revision != revision || result.isCancelled())
            return;
        if (result.isSuccess())
            setConnection(result.connection());
        else
            fail(result.error());
        dropTask();
    }));
}

void NativeVolumeSession::setVolume(float volume, const std::optional<NativeVolumeTab>& tab)
{
    if (tab) {
        auto pending = m_desired.find(tab->id);
        update({ volume, pending != m_desired.end() ? pending->muted : tab->state.muted }, tab->id);
        return;
    }
    const auto current = state();
    if (!current)
        return;
    update({ volume, current->muted }, QString());
}

void NativeVolumeSession::toggleMute(const std::optional<NativeVolumeTab>& tab)
{
    if (tab) {
        auto pending = m_desired.find(tab->id);
        const NativeVolumeState current = pending != m_desired.end() ? *pending : tab->state;
        update({ current.volume, !current.muted }, tab->id);
        return;
    }
    const auto current = state();
    if (!current)
        return;
    update({ current->volume, !current->muted }, QString());
}

void NativeVolumeSession::update(const NativeVolumeState& state, const QString& key)
{
    if (!m_connection || m_busy || m_error)
        return;
    NativeVolumeChanges desired = m_desired;
    desired.insert(key, state);
    setDesired(desired);
    const NativeVolumeConnection current = *m_connection;
    cancelTask();
    const quint64 revision = ++m_revision;
    const CancellationToken cancellation = startTask();

    m_task->delay = m_clock->schedule(debounceMilliseconds, [this, desired, current, cancellation, revision] {
        if (m_task)
            m_task->delay = 0;
        if (cancellation.isCancelled())
            return;
        m_controller->set(
            desired, current, cancellation, onMainThread([this, revision](const NativeVolumeResult& result) {
                if (m_revision != revision || result.isCancelled())
                    return;
                if (result.isSuccess()) {
                    // The new connection first: emptying `desired` before it would show the old level for
                    // one notification.
                    setConnection(result.connection());
                    setDesired({});
                } else {
                    setDesired({});
                    fail(result.error());
                }
                dropTask();
            }));
    });
}

CancellationToken NativeVolumeSession::startTask()
{
    m_task = Task {};
    return m_task->cancellation;
}

void NativeVolumeSession::cancelPendingWork()
{
    cancelTask();
    ++m_revision;
}

void NativeVolumeSession::cancelTask()
{
    if (!m_task)
        return;
    m_task->cancellation.cancel();
    if (m_task->delay && m_clock)
        m_clock->cancel(m_task->delay);
    m_task.reset();
}

NativeVolumeControlling::Completion NativeVolumeSession::onMainThread(
    std::function<void(const NativeVolumeResult&)> handle)
{
    return [self = QPointer(this), handle = std::move(handle)](const NativeVolumeResult& result) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, handle, result] {
                if (self)
                    handle(result);
            },
            Qt::QueuedConnection);
    };
}

void NativeVolumeSession::fail(const NativeVolumeError& error)
{
    setError(error.message, error.steps);
}

void NativeVolumeSession::setConnection(std::optional<NativeVolumeConnection> connection)
{
    // A connection read again with the same volumes notifies nobody.
    if (m_connection == connection)
        return;
    m_connection = std::move(connection);
    emit connectionChanged();
    publishState();
}

void NativeVolumeSession::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void NativeVolumeSession::setError(std::optional<QString> error, QStringList steps)
{
    if (m_error != error) {
        m_error = std::move(error);
        emit errorChanged();
    }
    if (m_errorSteps != steps) {
        m_errorSteps = std::move(steps);
        emit errorStepsChanged();
    }
}

void NativeVolumeSession::setDesired(NativeVolumeChanges desired)
{
    if (m_desired == desired)
        return;
    m_desired = std::move(desired);
    emit desiredChanged();
    publishState();
}

void NativeVolumeSession::publishState()
{
    const auto current = state();
    if (current == m_publishedState)
        return;
    m_publishedState = current;
    emit stateChanged();
}

} // namespace sonaric
