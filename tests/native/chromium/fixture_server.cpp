#include "fixture_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <cmath>

namespace sonaric::test
{

namespace
{

QByteArray contentTypeFor(const QString& path)
{
    if (path.endsWith(".html"))
        return "text/html; charset=utf-8";
    if (path.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (path.endsWith(".css"))
        return "text/css; charset=utf-8";
    if (path.endsWith(".wav"))
        return "audio/wav";
    return "application/octet-stream";
}

void appendLE(QByteArray& bytes, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

} // namespace

QByteArray sineWav(double seconds, int sampleRate, double frequency)
{
    const int samples = int(seconds * sampleRate);
    QByteArray wav;
    wav.append("RIFF");
    appendLE(wav, 36 + samples * 2, 4);
    wav.append("WAVEfmt ");
    appendLE(wav, 16, 4);
    appendLE(wav, 1, 2); // PCM
    appendLE(wav, 1, 2); // mono
    appendLE(wav, sampleRate, 4);
    appendLE(wav, sampleRate * 2, 4);
    appendLE(wav, 2, 2);
    appendLE(wav, 16, 2);
    wav.append("data");
    appendLE(wav, samples * 2, 4);
    for (int i = 0; i < samples; ++i) {
        const double value = 0.2 * std::sin(2 * M_PI * frequency * i / sampleRate);
        appendLE(wav, quint32(quint16(qint16(value * 32767))), 2);
    }
    return wav;
}

FixtureServer::FixtureServer(QString root, QObject* parent)
    : QObject(parent)
    , m_root(std::move(root))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool FixtureServer::start()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FixtureServer::port() const
{
    return m_server->serverPort();
}

QString FixtureServer::origin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FixtureServer::add(const QString& path, QByteArray body, QByteArray contentType)
{
    m_memory.insert(path, { std::move(body), std::move(contentType) });
}

void FixtureServer::serve(QTcpSocket* socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    if (!request.contains("\r\n\r\n")) {
        socket->setProperty("request", request);
        return;
    }
    socket->setProperty("request", QByteArray());
    ++m_requests;
    const QList<QByteArray> lines = request.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    const QByteArray method = requestLine.value(0);
    const QString path = QUrl(QString::fromLatin1(requestLine.value(1))).path();

    QByteArray body;
    QByteArray type;
    bool found = false;
    if (m_memory.contains(path)) {
        std::tie(body, type) = std::pair(m_memory[path].first, m_memory[path].second);
        found = true;
    } else {
        const QString file = QDir(m_root).filePath(path.mid(1));
        const QString canonical = QFileInfo(file).canonicalFilePath();
        QFile input(canonical);
        if (!canonical.isEmpty() && canonical.startsWith(QDir(m_root).canonicalPath() + u'/')
            && input.open(QIODevice::ReadOnly)) {
            body = input.readAll();
            type = contentTypeFor(canonical);
            found = true;
        }
    }

    QByteArray status = "200 OK";
    QByteArray extra;
    if (!found || (method != "GET" && method != "HEAD")) {
        status = found ? "405 Method Not Allowed" : "404 Not Found";
        body = status;
        type = "text/plain";
    } else {
        static const QRegularExpression rangePattern(
            QStringLiteral("^range:\\s*bytes=(\\d*)-(\\d*)"), QRegularExpression::CaseInsensitiveOption);
        for (const QByteArray& line : lines) {
            const auto range = rangePattern.match(QString::fromLatin1(line.trimmed()));
            if (!range.hasMatch() || body.isEmpty())
                continue;
            const qsizetype total = body.size();
            qsizetype first = range.captured(1).isEmpty() ? 0 : range.captured(1).toLongLong();
            qsizetype last
                = range.captured(2).isEmpty() ? total - 1 : std::min(range.captured(2).toLongLong(), qint64(total - 1));
            if (range.captured(1).isEmpty() && !range.captured(2).isEmpty()) {
                first = std::max<qsizetype>(0, total - range.captured(2).toLongLong());
                last = total - 1;
            }
            if (first < total && first <= last) {
                status = "206 Partial Content";
                extra = "Content-Range: bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) + '/'
                    + QByteArray::number(total) + "\r\n";
                body = body.mid(first, last - first + 1);
            }
        }
        extra += "Accept-Ranges: bytes\r\n";
    }
    QByteArray response = "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nCache-Control: no-store\r\n" + extra + "Connection: close\r\n\r\n";
    if (method != "HEAD")
        response += body;
    socket->write(response);
    socket->disconnectFromHost();
}

} // namespace sonaric::test
