#include "platform/scripting/linux/cdp_client.h"

#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>

namespace sonaric
{

namespace
{

constexpr std::size_t kBacklogLimit = 512;

bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    if (host == QStringLiteral("localhost"))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QString CdpClient::Reply::errorText() const
{
    if (timedOut)
        return QStringLiteral("no reply in time");
    if (error)
        return QStringLiteral("%1 (%2)")
            .arg(error->value(QStringLiteral("message")).toString())
            .arg(error->value(QStringLiteral("code")).toInt());
    return {};
}

CdpClient::CdpClient(QObject* parent)
    : QObject(parent)
    , m_socket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this))
{
    connect(m_socket, &QWebSocket::textMessageReceived, this, &CdpClient::receive);
    connect(m_socket, &QWebSocket::disconnected, this, &CdpClient::closed);
}

CdpClient::~CdpClient()
{
    m_socket->abort();
}

std::optional<QUrl> CdpClient::browserEndpoint(const QString& profileDirectory)
{
    QFile file(profileDirectory + QStringLiteral("/DevToolsActivePort"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 2)
        return std::nullopt;
    bool ok = false;
    const int port = lines[0].trimmed().toInt(&ok);
    const QByteArray path = lines[1].trimmed();
    if (!ok || port <= 0 || port > 65535 || !path.startsWith("/devtools/"))
        return std::nullopt;
    return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(QString::fromLatin1(path)));
}

bool CdpClient::open(const QUrl& endpoint, int timeoutMs)
{
    if (!isLoopback(endpoint))
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(m_socket, &QWebSocket::connected, &loop, &QEventLoop::quit);
    connect(m_socket, &QWebSocket::disconnected, &loop, &QEventLoop::quit);
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    m_socket->open(endpoint);
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        loop.exec();
    return isOpen();
}

void CdpClient::close()
{
    m_socket->close();
}

bool CdpClient::isOpen() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

int CdpClient::send(const QString& method, const QJsonObject& params, const QString& sessionId, bool keepReply)
{
    const int id = m_nextId++;
    QJsonObject message { { QStringLiteral("id"), id }, { QStringLiteral("method"), method },
        { QStringLiteral("params"), params } };
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    if (keepReply)
        m_awaited[id] = true;
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    return id;
}

void CdpClient::post(const QString& method, const QJsonObject& params, const QString& sessionId)
{
    send(method, params, sessionId, false);
}

CdpClient::Reply CdpClient::call(
    const QString& method, const QJsonObject& params, const QString& sessionId, int timeoutMs)
{
    Reply reply;
    if (!isOpen()) {
        reply.error = QJsonObject { { QStringLiteral("code"), -1 },
            { QStringLiteral("message"), QStringLiteral("not connected") } };
        return reply;
    }
    const int id = send(method, params, sessionId, true);
    if (!m_replies.count(id)) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &CdpClient::closed, &loop, &QEventLoop::quit);
        connect(this, &CdpClient::replyArrived, &loop, [&](int arrived) {
            if (arrived == id)
                loop.quit();
        });
        timer.start(timeoutMs);
        loop.exec();
    }
    m_awaited.erase(id);
    const auto found = m_replies.find(id);
    if (found == m_replies.end()) {
        reply.timedOut = true;
        return reply;
    }
    const QJsonObject message = found->second;
    m_replies.erase(found);
    if (message.contains(QStringLiteral("error")))
        reply.error = message.value(QStringLiteral("error")).toObject();
    else
        reply.result = message.value(QStringLiteral("result")).toObject();
    return reply;
}

void CdpClient::setEventHandler(std::function<void(const Event&)> handler)
{
    m_eventHandler = std::move(handler);
}

std::optional<CdpClient::Event> CdpClient::waitForEvent(const QString& method, const QString& sessionId, int timeoutMs,
    const std::function<bool(const QJsonObject&)>& accept)
{
    const auto take = [&]() -> std::optional<Event> {
        for (auto it = m_backlog.begin(); it != m_backlog.end(); ++it) {
            if (it->method == method && (sessionId.isEmpty() || it->sessionId == sessionId)
                && (!accept || accept(it->params))) {
                Event event = *it;
                m_backlog.erase(it);
                return event;
            }
        }
        return std::nullopt;
    };
    if (auto event = take())
        return event;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &CdpClient::closed, &loop, &QEventLoop::quit);
    std::optional<Event> found;
    connect(this, &CdpClient::eventArrived, &loop, [&] {
        // Events that arrive after the match, before the loop returns, must not replace it.
        if (!found && (found = take()))
            loop.quit();
    });
    timer.start(timeoutMs);
    loop.exec();
    return found;
}

void CdpClient::clearEvents()
{
    m_backlog.clear();
}

QString CdpClient::attach(const QString& targetId)
{
    const Reply reply = call(QStringLiteral("Target.attachToTarget"),
        QJsonObject { { QStringLiteral("targetId"), targetId }, { QStringLiteral("flatten"), true } });
    return reply.ok() ? reply.result.value(QStringLiteral("sessionId")).toString() : QString();
}

CdpClient::Reply CdpClient::evaluate(
    const QString& sessionId, const QString& expression, std::optional<int> contextId, int timeoutMs)
{
    QJsonObject params { { QStringLiteral("expression"), expression }, { QStringLiteral("returnByValue"), true } };
    if (contextId)
        params.insert(QStringLiteral("contextId"), *contextId);
    return call(QStringLiteral("Runtime.evaluate"), params, sessionId, timeoutMs);
}

void CdpClient::receive(const QString& text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.contains(QStringLiteral("id"))) {
        const int id = message.value(QStringLiteral("id")).toInt();
        if (m_awaited.count(id)) {
            m_replies[id] = message;
            emit replyArrived(id);
        }
        return;
    }
    const Event event { message.value(QStringLiteral("method")).toString(),
        message.value(QStringLiteral("params")).toObject(), message.value(QStringLiteral("sessionId")).toString() };
    if (event.method.isEmpty())
        return;
    if (m_eventHandler)
        m_eventHandler(event);
    m_backlog.push_back(event);
    while (m_backlog.size() > kBacklogLimit)
        m_backlog.pop_front();
    emit eventArrived();
}

} // namespace sonaric
