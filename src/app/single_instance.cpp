#include "app/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sonaric
{

namespace
{
const QByteArray showMixerRequest = "show-mixer\n";
const QByteArray acknowledgement = "ok\n";
} // namespace

SingleInstance::SingleInstance(QString runtimeDirectory, QObject* parent)
    : QObject(parent)
    , m_directory(runtimeDirectory.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                                             : std::move(runtimeDirectory))
{
}

SingleInstance::~SingleInstance()
{
    if (m_server) {
        m_server->close();
        QFile::remove(socketPath());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::socketPath() const
{
    return QDir(m_directory).filePath(QStringLiteral("sonaric.socket"));
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_directory.isEmpty()) {
        m_error = QStringLiteral("no runtime folder ($XDG_RUNTIME_DIR) to keep the instance lock in");
        return Claim::failed;
    }
    const QByteArray lockPath = QFile::encodeName(QDir(m_directory).filePath(QStringLiteral("sonaric.lock")));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        m_error = QStringLiteral("cannot open %1: %2")
                      .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno)));
        return Claim::failed;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(m_lockFd);
        m_lockFd = -1;
        if (error == EWOULDBLOCK)
            return Claim::secondary;
        m_error = QStringLiteral("cannot lock %1: %2")
                      .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(error)));
        return Claim::failed;
    }

    // Holding the lock, any socket left here belongs to an instance that died.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath())) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(socketPath(), m_server->errorString());
        return Claim::failed;
    }
    QObject::connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serve);
    return Claim::primary;
}

void SingleInstance::serve()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // A request is one short line; anything longer or different is not ours and is dropped.
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort();
                return;
            }
            if (socket->readLine(64) == showMixerRequest) {
                socket->write(acknowledgement);
                socket->flush();
                emit showMixerRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

bool SingleInstance::askPrimaryToShowMixer(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(showMixerRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine(64) == acknowledgement;
}

} // namespace sonaric
