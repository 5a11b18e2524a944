#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_proplist;

namespace sonaric
{

/// One client connection to the sound server with a threaded main loop of its own.
///
/// Server calls are made with the loop locked (`Lock`) and waited for with `wait`, which returns early when
/// the connection fails, so a server that dies never hangs a caller. A server that is there but silent (frozen,
/// stopped, overloaded beyond use) gets a deadline: a request it leaves unanswered for `requestTimeoutMs`
/// closes the connection, as if the server had gone, and every later wait fails at once. Never call `wait`
/// from the loop's own thread (libpulse callbacks run there).
class PulseConnection
{
public:
    /// How long a request may wait for its answer, unless the connection is given another deadline.
    static constexpr int kDefaultRequestTimeoutMs = 3000;

    /// `properties` (key=value pairs) are added to the client's property list.
    explicit PulseConnection(const QString& clientName, const QList<QPair<QString, QString>>& properties = {},
        int requestTimeoutMs = kDefaultRequestTimeoutMs);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    /// Connects to the default server (PULSE_SERVER, the session's runtime directory, ...). Never spawns a
    /// server. Fails when the server does not answer within `timeoutMs`.
    bool connect(int timeoutMs, QString* error);
    /// True once a server took the connection and then left it, or a request, unanswered past its deadline.
    bool stoppedAnswering() const;
    int requestTimeoutMs() const { return m_requestTimeoutMs; }
    /// Called on the loop's thread whenever the context state changes, after `connect` succeeded.
    void setStateHandler(std::function<void(bool ready)> handler);

    bool isReady() const;
    pa_threaded_mainloop* mainloop() const { return m_mainloop; }
    pa_context* context() const { return m_context; }
    /// The server this connection talks to, as libpulse names it.
    QString serverName() const;

    /// Waits for `op` (may be null) to finish; the loop must be locked. Unreferences it. False when the
    /// connection failed meanwhile, the request's deadline passed (which closes the connection) or `op` was null.
    bool wait(pa_operation* op);
    /// Waits until `done()` holds or the connection fails, or `timeoutMs` passes; the loop must be locked.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    /// A round trip to the server, so that everything sent before has been handled.
    bool sync();
    /// Wakes every `wait`; for callbacks that completed something waited for.
    void signal();

    class Lock
    {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop;
    };

private:
    void contextStateChanged();
    void giveUp();

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    std::function<void(bool)> m_stateHandler;
    const int m_requestTimeoutMs;
    bool m_stoppedAnswering = false; // written and read with the loop locked
};

} // namespace sonaric
