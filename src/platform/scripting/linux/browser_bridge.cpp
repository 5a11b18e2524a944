#include "platform/scripting/linux/browser_bridge.h"

#include "platform/scripting/linux/native_messaging.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace sonaric
{

namespace nm = NativeMessaging;

struct BrowserBridge::Shared {
    mutable std::mutex mutex;
    mutable std::condition_variable connected;
    std::map<int, Connection> ready;
    struct Pending {
        int connection = 0;
        std::shared_ptr<std::promise<std::optional<QJsonObject>>> reply;
    };
    std::map<qint64, Pending> pending;
    qint64 nextRequest = 1;
    bool listening = false;
    QString error;
    QString socketPath;

    /// Ends every request still waiting on `connection` without a reply.
    void abandon(int connection)
    {
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->second.connection == connection) {
                it->second.reply->set_value(std::nullopt);
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
    }
};

/// Lives on the bridge's thread and owns the server and its sockets.
class BrowserBridge::Worker : public QObject
{
public:
    Worker(std::shared_ptr<Shared> shared, QString origin)
        : m_shared(std::move(shared))
        , m_origin(std::move(origin))
    {
    }

    void start()
    {
        const QString path = m_shared->socketPath;
        QString error;
        if (QFile::exists(path)) {
            // A socket that answers belongs to a running Sonaric (a listing run of the program must not take it
            // over); one that does not is left over from a crash.
            QLocalSocket probe;
            probe.connectToServer(path);
            if (probe.waitForConnected(300)) {
                error = QStringLiteral("another Sonaric already serves browsers on %1").arg(path);
            } else {
                QLocalServer::removeServer(path);
            }
        }
        if (error.isEmpty()) {
            m_server = new QLocalServer(this);
            m_server->setSocketOptions(QLocalServer::UserAccessOption);
            if (m_server->listen(path)) {
                QObject::connect(m_server, &QLocalServer::newConnection, this, [this] { accept(); });
            } else {
                error = QStringLiteral("cannot listen on %1: %2").arg(path, m_server->errorString());
            }
        }
        std::lock_guard lock(m_shared->mutex);
        m_shared->listening = error.isEmpty();
        m_shared->error = error;
    }

    void stop()
    {
        const std::map<QLocalSocket*, Peer> peers = std::exchange(m_peers, {});
        for (const auto& [socket, peer] : peers) {
            socket->disconnect(this);
            socket->abort();
        }
        if (m_server) {
            m_server->close();
            delete m_server;
            m_server = nullptr;
        }
        std::lock_guard lock(m_shared->mutex);
        for (auto& [id, pending] : m_shared->pending)
            pending.reply->set_value(std::nullopt);
        m_shared->pending.clear();
        m_shared->ready.clear();
        m_shared->listening = false;
    }

    void send(int connection, const QJsonObject& message)
    {
        for (auto& [socket, peer] : m_peers) {
            if (peer.id == connection) {
                write(socket, message);
                return;
            }
        }
        std::lock_guard lock(m_shared->mutex);
        m_shared->abandon(connection);
    }

private:
    struct Peer {
        int id = 0;
        enum class Stage { host, hello, ready } stage = Stage::host;
        nm::FrameReader reader;
        Connection connection;
    };

    void accept()
    {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            ucred credentials {};
            socklen_t length = sizeof credentials;
            const int fd = int(socket->socketDescriptor());
            if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
                || credentials.uid != getuid()) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            Peer& peer = m_peers[socket];
            peer.id = ++m_nextConnection;
            peer.connection.id = peer.id;
            peer.connection.host = credentials.pid;
            peer.connection.ancestors = ancestors(credentials.pid);
            QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
            QObject::connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
            if (socket->bytesAvailable() > 0)
                read(socket);
        }
    }

    void read(QLocalSocket* socket)
    {
        auto found = m_peers.find(socket);
        if (found == m_peers.end())
            return;
        Peer& peer = found->second;
        const QByteArray bytes = socket->readAll();
        peer.reader.append(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        while (auto message = peer.reader.next()) {
            const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(*message));
            if (!document.isObject() || !handle(socket, peer, document.object())) {
                drop(socket);
                return;
            }
        }
        if (peer.reader.failed())
            drop(socket);
    }

    /// False when the peer broke the protocol and must go.
    bool handle(QLocalSocket* socket, Peer& peer, const QJsonObject& message)
    {
        const QString type = message.value(QStringLiteral("type")).toString();
        switch (peer.stage) {
        case Peer::Stage::host:
            if (type != QStringLiteral("host") || message.value(QStringLiteral("origin")).toString() != m_origin)
                return false;
            peer.stage = Peer::Stage::hello;
            return true;
        case Peer::Stage::hello: {
            const QByteArray digest = message.value(QStringLiteral("scriptDigest")).toString().toLatin1();
            if (type != QStringLiteral("hello") || digest.size() != 64)
                return false;
            peer.stage = Peer::Stage::ready;
            peer.connection.scriptDigest = digest;
            peer.connection.version = message.value(QStringLiteral("version")).toString().left(32);
            write(socket, QJsonObject { { QStringLiteral("type"), QStringLiteral("welcome") } });
            {
                std::lock_guard lock(m_shared->mutex);
                m_shared->ready[peer.id] = peer.connection;
            }
            m_shared->connected.notify_all();
            return true;
        }
        case Peer::Stage::ready:
            break;
        }
        const QJsonValue id = message.value(QStringLiteral("id"));
        if (!id.isDouble())
            return true; // nothing asked for this; ignore it
        std::lock_guard lock(m_shared->mutex);
        const auto pending = m_shared->pending.find(qint64(id.toDouble()));
        if (pending == m_shared->pending.end() || pending->second.connection != peer.id)
            return true; // a late reply to a request that gave up waiting
        QJsonObject reply = message;
        reply.remove(QStringLiteral("id"));
        pending->second.reply->set_value(reply);
        m_shared->pending.erase(pending);
        return true;
    }

    void write(QLocalSocket* socket, const QJsonObject& message)
    {
        const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
        const std::string framed = nm::frame(std::string_view(json.constData(), std::size_t(json.size())));
        if (!framed.empty())
            socket->write(framed.data(), qint64(framed.size()));
    }

    void drop(QLocalSocket* socket)
    {
        const auto found = m_peers.find(socket);
        if (found == m_peers.end())
            return;
        const int id = found->second.id;
        m_peers.erase(found);
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->ready.erase(id);
            m_shared->abandon(id);
        }
        socket->abort();
        socket->deleteLater();
    }

    std::shared_ptr<Shared> m_shared;
    QString m_origin;
    QLocalServer* m_server = nullptr;
    std::map<QLocalSocket*, Peer> m_peers;
    int m_nextConnection = 0;
};

BrowserBridge::BrowserBridge(Options options)
    : m_shared(std::make_shared<Shared>())
{
    QString path = options.socketPath;
    if (path.isEmpty()) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty())
            path = QDir(runtime).filePath(QString::fromLatin1(nm::socketName));
    }
    m_shared->socketPath = path;
    if (path.isEmpty()) {
        m_shared->error = QStringLiteral("no runtime folder ($XDG_RUNTIME_DIR) for the browsers' socket");
        return;
    }
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("sonaric.browsers"));
    m_worker = new Worker(m_shared, options.extensionOrigin);
    m_worker->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->start(); }, Qt::BlockingQueuedConnection);
}

BrowserBridge::~BrowserBridge()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->stop(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
}

bool BrowserBridge::isListening() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->listening;
}

QString BrowserBridge::error() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->error;
}

QString BrowserBridge::socketPath() const
{
    return m_shared->socketPath;
}

std::vector<BrowserBridge::Connection> BrowserBridge::connections(pid_t browser) const
{
    std::vector<Connection> found;
    std::lock_guard lock(m_shared->mutex);
    for (const auto& [id, connection] : m_shared->ready) {
        if (std::find(connection.ancestors.begin(), connection.ancestors.end(), browser) != connection.ancestors.end())
            found.push_back(connection);
    }
    return found;
}

bool BrowserBridge::waitForConnection(pid_t browser, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->connected.wait_for(lock, timeout, [&] {
        return std::any_of(m_shared->ready.begin(), m_shared->ready.end(), [&](const auto& entry) {
            const auto& chain = entry.second.ancestors;
            return std::find(chain.begin(), chain.end(), browser) != chain.end();
        });
    });
}

std::optional<QJsonObject> BrowserBridge::request(
    int connection, QJsonObject message, std::chrono::milliseconds timeout)
{
    if (!m_worker)
        return std::nullopt;
    auto reply = std::make_shared<std::promise<std::optional<QJsonObject>>>();
    std::future<std::optional<QJsonObject>> future = reply->get_future();
    qint64 id = 0;
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->ready.count(connection))
            return std::nullopt;
        id = m_shared->nextRequest++;
        m_shared->pending[id] = { connection, reply };
    }
    message.insert(QStringLiteral("id"), double(id));
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, connection, message] { worker->send(connection, message); },
        Qt::QueuedConnection);
    if (future.wait_for(timeout) == std::future_status::ready)
        return future.get();
    std::lock_guard lock(m_shared->mutex);
    const auto pending = m_shared->pending.find(id);
    if (pending != m_shared->pending.end()) {
        m_shared->pending.erase(pending);
        return std::nullopt;
    }
    // The reply arrived between the wait and the lock.
    return future.get();
}

std::vector<pid_t> BrowserBridge::ancestors(pid_t process)
{
    std::vector<pid_t> chain;
    pid_t current = process;
    // Bounded: the table can change under us while we walk it.
    for (int depth = 0; depth < 64; ++depth) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(current));
        if (!stat.open(QIODevice::ReadOnly))
            break;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        if (close < 0)
            break;
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() < 2)
            break;
        const pid_t parent = pid_t(fields[1].toInt());
        if (parent <= 1)
            break;
        chain.push_back(parent);
        current = parent;
    }
    return chain;
}

} // namespace sonaric
