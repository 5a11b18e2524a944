#pragma once

// A small HTTPS server on loopback for the updater's tests, with a certificate from a throwaway authority
// that only the test processes trust.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTemporaryDir>

class QSslServer;
class QSslSocket;

namespace sonaric::test
{

/// A certificate authority made for one test run, and a server certificate it issued for 127.0.0.1 and
/// localhost. The files are made with the openssl command.
class TestAuthority
{
public:
    TestAuthority();
    bool ok() const { return m_ok; }
    QString caFile() const { return m_dir.filePath("ca.pem"); }
    QSslCertificate serverCertificate() const;
    QSslKey serverKey() const;
    /// Makes the authority the only one this process trusts.
    void trustOnlyThis() const;

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

/// Serves fixed answers by path, each request on a fresh connection.
class HttpsServer final : public QObject
{
    Q_OBJECT

public:
    struct Answer {
        int status = 200;
        QByteArray body;
        /// Send only this many bytes of the body (with the full length announced), then drop the connection.
        qsizetype dropAfter = -1;
        /// Keep the answer until `release` is called.
        bool held = false;
    };

    explicit HttpsServer(const TestAuthority& authority);
    ~HttpsServer() override;

    /// "127.0.0.1:<port>".
    QString host() const;
    QString url(const QString& path) const { return QStringLiteral("https://%1%2").arg(host(), path); }
    void serve(const QString& path, Answer answer);
    /// Sends the answers held back for `path`, each as it was when its request came.
    void release(const QString& path);
    /// Requests that arrived for `path`.
    int requests(const QString& path) const { return m_requests.value(path); }

private:
    void accept();
    void read(QSslSocket* socket);
    void answer(QSslSocket* socket, const Answer& answer);

    QSslServer* m_server;
    QHash<QString, Answer> m_answers;
    QHash<QString, int> m_requests;
    QHash<QString, QList<std::pair<QPointer<QSslSocket>, Answer>>> m_held;
};

} // namespace sonaric::test
