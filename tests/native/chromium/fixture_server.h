#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for the fixture pages: GET and HEAD of files under one directory plus
// bodies added in memory (generated media), with byte ranges for media elements. Loopback only.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace sonaric::test
{

class FixtureServer final : public QObject
{
    Q_OBJECT
public:
    explicit FixtureServer(QString root, QObject* parent = nullptr);

    /// Listens on 127.0.0.1 at a free port; false when that fails.
    bool start();
    quint16 port() const;
    /// "http://127.0.0.1:PORT".
    QString origin() const;
    /// Serves `body` at `path` (for example "/media/tone.wav") with the given content type.
    void add(const QString& path, QByteArray body, QByteArray contentType);
    /// How many requests arrived, for tests that want to see the page load through this server.
    int requestCount() const { return m_requests; }

private:
    void serve(QTcpSocket* socket);

    QString m_root;
    QTcpServer* m_server;
    QHash<QString, QPair<QByteArray, QByteArray>> m_memory;
    int m_requests = 0;
};

/// A mono 16-bit PCM WAV file of a sine tone.
QByteArray sineWav(double seconds, int sampleRate = 8000, double frequency = 440.0);

} // namespace sonaric::test
