#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

class QThread;

namespace sonaric
{

/// Sonaric's end of the road to its browser extension: a local socket in the user's runtime folder on which
/// the native-messaging host (started by the browser for the extension) relays the extension's port. Each
/// connection is one copy of the extension, one per browser profile that runs it; it counts once its host has
/// named the extension (only Sonaric's own is accepted) and the extension has said hello with the digest of the
/// page script it carries. Only processes of the same user get in: the socket is the owner's alone, and each
/// peer's credentials are checked again. The socket lives on a thread of its own; `request` blocks the calling
/// thread (a controller's queue), never the socket's.
class BrowserBridge
{
public:
    struct Options {
        QString socketPath; ///< empty: sonaric-browsers.socket in $XDG_RUNTIME_DIR
        QString extensionOrigin; ///< the one origin accepted: "chrome-extension://<id>/"
    };

    /// One ready copy of the extension.
    struct Connection {
        int id = 0;
        pid_t host = 0; ///< the host's process
        std::vector<pid_t> ancestors; ///< the host's parent, its parent, … (the browser is among them)
        QByteArray scriptDigest; ///< of the page script the extension carries
        QString version;
    };

    explicit BrowserBridge(Options options);
    ~BrowserBridge();
    BrowserBridge(const BrowserBridge&) = delete;
    BrowserBridge& operator=(const BrowserBridge&) = delete;

    /// False when the socket could not be opened (no runtime folder, another Sonaric serves it); see `error`.
    bool isListening() const;
    QString error() const;
    QString socketPath() const;

    /// The ready connections whose host was started by `browser` (or by a process below it), oldest first.
    std::vector<Connection> connections(pid_t browser) const;
    /// Waits at most `timeout` until `browser` has a ready connection.
    bool waitForConnection(pid_t browser, std::chrono::milliseconds timeout) const;
    /// Sends `message` (an "id" is added) on a connection and waits at most `timeout` for the reply with the
    /// same id; absent when none came or the connection closed.
    std::optional<QJsonObject> request(int connection, QJsonObject message, std::chrono::milliseconds timeout);

    /// The parent chain of a process from /proc, nearest first, without pid 1.
    static std::vector<pid_t> ancestors(pid_t process);

    class Worker;
    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    Worker* m_worker = nullptr;
};

} // namespace sonaric
