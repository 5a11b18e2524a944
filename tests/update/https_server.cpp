#include "https_server.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>

namespace sonaric::test
{

namespace
{

bool openssl(const QString& dir, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStringLiteral("openssl"), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}

} // namespace

TestAuthority::TestAuthority()
{
    QFile extensions(m_dir.filePath("server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return;
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                     "extendedKeyUsage=serverAuth\n");
    extensions.close();
    const QString dir = m_dir.path();
    m_ok = openssl(dir,
               { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                   "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Sonaric test authority" })
        && openssl(dir,
            { "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1" })
        && openssl(dir,
            { "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
                "-extfile", "server.ext", "-out", "server.pem" });
}

QSslCertificate TestAuthority::serverCertificate() const
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(m_dir.filePath("server.pem"));
    return certificates.value(0);
}

QSslKey TestAuthority::serverKey() const
{
    QFile file(m_dir.filePath("server.key"));
    file.open(QIODevice::ReadOnly);
    return QSslKey(file.readAll(), QSsl::Ec);
}

void TestAuthority::trustOnlyThis() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(caFile()));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

HttpsServer::HttpsServer(const TestAuthority& authority)
    : m_server(new QSslServer(this))
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(authority.serverCertificate());
    configuration.setPrivateKey(authority.serverKey());
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server->setSslConfiguration(configuration);
    connect(m_server, &QSslServer::pendingConnectionAvailable, this, &HttpsServer::accept);
    m_server->listen(QHostAddress::LocalHost, 0);
}

HttpsServer::~HttpsServer() = default;

QString HttpsServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_server->serverPort());
}

void HttpsServer::serve(const QString& path, Answer answer)
{
    m_answers.insert(path, std::move(answer));
}

void HttpsServer::release(const QString& path)
{
    for (const auto& [socket, reply] : m_held.take(path))
        if (socket)
            answer(socket, reply);
}

void HttpsServer::accept()
{
    while (QTcpSocket* connection = m_server->nextPendingConnection()) {
        auto* socket = static_cast<QSslSocket*>(connection);
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable())
            read(socket);
    }
}

void HttpsServer::read(QSslSocket* socket)
{
    const QByteArray received = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", received);
    if (!received.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = received.left(received.indexOf("\r\n")).split(' ');
    const QString path = QString::fromLatin1(requestLine.value(1));
    ++m_requests[path];
    const Answer reply = m_answers.value(path, Answer { 404, "not here" });
    if (reply.held)
        m_held[path].append({ socket, reply });
    else
        answer(socket, reply);
}

void HttpsServer::answer(QSslSocket* socket, const Answer& reply)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) + "\r\n";
    head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    socket->write(head);
    if (reply.dropAfter >= 0) {
        socket->write(reply.body.left(reply.dropAfter));
        socket->flush();
        // Closing with the body short of its announced length: the client sees the connection drop.
        socket->disconnectFromHost();
        return;
    }
    socket->write(reply.body);
    socket->disconnectFromHost();
}

} // namespace sonaric::test
