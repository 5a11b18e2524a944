#pragma once

// A small client of the Chrome DevTools protocol on Qt WebSockets. It talks to a browser endpoint
// (ws://127.0.0.1:PORT/devtools/browser/…) and to page targets through flattened sessions. Calls block the
// calling thread in a local event loop until their reply arrives, so the client works on a serial queue of the
// connectors as well as in tests; events arrive through a handler and a small backlog that `waitForEvent` reads.

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>
#include <optional>

class QWebSocket;

namespace sonaric
{

class CdpClient final : public QObject
{
    Q_OBJECT
public:
    /// The reply to one command: its result, or the protocol error, or nothing when it timed out or the
    /// connection closed.
    struct Reply {
        QJsonObject result;
        std::optional<QJsonObject> error; ///< {"code": …, "message": …}
        bool timedOut = false;
        bool ok() const { return !error && !timedOut; }
        /// A one-line description of what went wrong; empty when ok.
        QString errorText() const;
    };

    struct Event {
        QString method;
        QJsonObject params;
        QString sessionId;
    };

    explicit CdpClient(QObject* parent = nullptr);
    ~CdpClient() override;

    /// The browser endpoint a Chromium started with --remote-debugging-port=0 writes into its profile
    /// (DevToolsActivePort: the port, then the path); absent until the file is complete.
    static std::optional<QUrl> browserEndpoint(const QString& profileDirectory);

    /// Connects; waits at most `timeoutMs`. Only loopback endpoints are accepted.
    bool open(const QUrl& endpoint, int timeoutMs = 10000);
    void close();
    bool isOpen() const;

    /// Sends one command and waits for its reply.
    Reply call(
        const QString& method, const QJsonObject& params = {}, const QString& sessionId = {}, int timeoutMs = 10000);
    /// Sends one command without waiting; its reply is dropped.
    void post(const QString& method, const QJsonObject& params = {}, const QString& sessionId = {});

    /// Called for every event as it arrives (inside whatever call or wait is running).
    void setEventHandler(std::function<void(const Event&)> handler);
    /// Waits for an event of `method` (and `sessionId`, when not empty) that satisfies `accept`, taking it from
    /// the events that arrived since the last `clearEvents` first.
    std::optional<Event> waitForEvent(const QString& method, const QString& sessionId, int timeoutMs,
        const std::function<bool(const QJsonObject&)>& accept = {});
    void clearEvents();

    // Conveniences over the protocol.
    /// Attaches to a target with a flattened session; the session id, or empty on failure.
    QString attach(const QString& targetId);
    /// Runtime.evaluate in the session's page (or in an execution context), returning the value by value.
    Reply evaluate(
        const QString& sessionId, const QString& expression, std::optional<int> contextId = {}, int timeoutMs = 10000);

signals:
    void replyArrived(int id);
    void eventArrived();
    void closed();

private:
    int send(const QString& method, const QJsonObject& params, const QString& sessionId, bool keepReply);
    void receive(const QString& message);

    QWebSocket* m_socket;
    int m_nextId = 1;
    std::map<int, QJsonObject> m_replies;
    std::map<int, bool> m_awaited;
    std::deque<Event> m_backlog;
    std::function<void(const Event&)> m_eventHandler;
};

} // namespace sonaric
