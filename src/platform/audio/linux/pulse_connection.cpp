#include "platform/audio/linux/pulse_connection.h"

#include <pulse/pulseaudio.h>

namespace sonaric
{

namespace
{

void onServerInfo(pa_context*, const pa_server_info*, void* self)
{
    static_cast<PulseConnection*>(self)->signal();
}

} // namespace

PulseConnection::PulseConnection(
    const QString& clientName, const QList<QPair<QString, QString>>& properties, int requestTimeoutMs)
    : m_requestTimeoutMs(requestTimeoutMs)
{
    m_mainloop = pa_threaded_mainloop_new();
    pa_proplist* list = pa_proplist_new();
    pa_proplist_sets(list, PA_PROP_APPLICATION_NAME, clientName.toUtf8().constData());
    for (const auto& [key, value] : properties)
        pa_proplist_sets(list, key.toUtf8().constData(), value.toUtf8().constData());
    m_context
        = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_mainloop), clientName.toUtf8().constData(), list);
    pa_proplist_free(list);
    pa_threaded_mainloop_set_name(m_mainloop, "sonaric-pulse");
    pa_context_set_state_callback(
        m_context, [](pa_context*, void* self) { static_cast<PulseConnection*>(self)->contextStateChanged(); }, this);
    pa_threaded_mainloop_start(m_mainloop);
}

PulseConnection::~PulseConnection()
{
    pa_threaded_mainloop_lock(m_mainloop);
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    pa_threaded_mainloop_unlock(m_mainloop);
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
}

void PulseConnection::contextStateChanged()
{
    pa_threaded_mainloop_signal(m_mainloop, 0);
    const auto state = pa_context_get_state(m_context);
    if (m_stateHandler && (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)))
        m_stateHandler(state == PA_CONTEXT_READY);
}

bool PulseConnection::connect(int timeoutMs, QString* error)
{
    Lock lock(*this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        if (error)
            *error = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
        return false;
    }
    const bool answered = waitUntil(
        [this] {
            const auto state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeoutMs);
    const auto state = pa_context_get_state(m_context);
    if (answered && state == PA_CONTEXT_READY)
        return true;
    // Past CONNECTING the socket is connected: a server is there, it only does not answer.
    m_stoppedAnswering = !answered && (state == PA_CONTEXT_AUTHORIZING || state == PA_CONTEXT_SETTING_NAME);
    if (error) {
        if (answered)
            *error = QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
        else if (m_stoppedAnswering)
            *error
                = QStringLiteral("the sound server took the connection but did not answer within %1 ms").arg(timeoutMs);
        else
            *error = QStringLiteral("the sound server did not answer within %1 ms").arg(timeoutMs);
    }
    pa_context_disconnect(m_context);
    return false;
}

bool PulseConnection::stoppedAnswering() const
{
    Lock lock(*this);
    return m_stoppedAnswering;
}

void PulseConnection::giveUp()
{
    // Closing is the one way on: a late answer could no longer be matched to a request that gave up, and
    // whoever holds the connection hears of it through the state handler as of a server that went away.
    m_stoppedAnswering = true;
    pa_context_disconnect(m_context);
}

void PulseConnection::setStateHandler(std::function<void(bool)> handler)
{
    Lock lock(*this);
    m_stateHandler = std::move(handler);
}

bool PulseConnection::isReady() const
{
    return pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

QString PulseConnection::serverName() const
{
    Lock lock(*this);
    const char* server = pa_context_get_server(m_context);
    return server ? QString::fromUtf8(server) : QString();
}

bool PulseConnection::wait(pa_operation* op)
{
    if (!op)
        return false;
    // Requests sent without a reply callback finish silently; their state change wakes us instead.
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* self) { static_cast<PulseConnection*>(self)->signal(); }, this);
    const bool finished = waitUntil(
        [op, this] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING || !isReady(); }, m_requestTimeoutMs);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!finished) {
        pa_operation_cancel(op);
        giveUp();
    }
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return done;
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    // A timer event wakes the wait so that a silent server cannot block the caller forever.
    bool expired = false;
    struct Timeout {
        PulseConnection* connection;
        bool* expired;
    } timeout { this, &expired };
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    pa_time_event* timer = pa_context_rttime_new(
        m_context, pa_rtclock_now() + pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* t = static_cast<Timeout*>(data);
            *t->expired = true;
            t->connection->signal();
        },
        &timeout);
    while (!done() && !expired && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
        pa_threaded_mainloop_wait(m_mainloop);
    api->time_free(timer);
    return done();
}

bool PulseConnection::sync()
{
    Lock lock(*this);
    return wait(pa_context_get_server_info(m_context, onServerInfo, this));
}

void PulseConnection::signal()
{
    pa_threaded_mainloop_signal(m_mainloop, 0);
}

PulseConnection::Lock::Lock(const PulseConnection& connection)
    : m_mainloop(connection.m_mainloop)
{
    pa_threaded_mainloop_lock(m_mainloop);
}

PulseConnection::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_mainloop);
}

} // namespace sonaric
