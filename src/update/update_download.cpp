#include "update/update_download.h"

#include "update/update_error.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace sonaric
{

UpdateDownload::UpdateDownload(
    QNetworkAccessManager& network, const UpdateInfo& update, Completion done, QObject* parent)
    : QObject(parent)
    , m_update(update)
    , m_done(std::move(done))
    , m_file(std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/sonaric-update-XXXXXX.squashfs")))
{
    if (!m_file->open()) {
        const QString error = QStringLiteral("Couldn't save the download in %1: %2")
                                  .arg(QDir::toNativeSeparators(QDir::tempPath()), m_file->errorString());
        m_file.reset();
        QMetaObject::invokeMethod(
            this, [this, error] { fail(error); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(update.url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(timeoutMilliseconds);
    m_reply = network.get(request);
    m_reply->setParent(this);
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateDownload::receive);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateDownload::finish);
}

UpdateDownload::~UpdateDownload()
{
    // Aborting reports the reply finished; nobody is told about a download that is being destroyed.
    m_done = nullptr;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void UpdateDownload::receive()
{
    // Only the body of a 200 answer is the image; an error page is not worth keeping.
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!m_failure.isEmpty() || !m_file || status.toInt() != 200)
        return;
    const QByteArray data = m_reply->readAll();
    if (m_file->size() + data.size() > m_update.size) {
        m_failure = QLatin1String(UpdateError::damaged);
    } else if (m_file->write(data) != data.size()) {
        m_failure = QStringLiteral("Couldn't save the download in %1: %2")
                        .arg(QDir::toNativeSeparators(QDir::tempPath()), m_file->errorString());
    }
    if (!m_failure.isEmpty())
        m_reply->abort();
}

void UpdateDownload::finish()
{
    if (!m_failure.isEmpty())
        return fail(m_failure);
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200)
        return fail(QLatin1String(UpdateError::downloadRefused));
    if (m_reply->error() != QNetworkReply::NoError || !status.isValid())
        return fail(QLatin1String(UpdateError::downloadFailed));
    receive();
    if (!m_failure.isEmpty())
        return fail(m_failure);
    if (!m_file->flush())
        return fail(QStringLiteral("Couldn't save the download: %1").arg(m_file->errorString()));
    m_file->setAutoRemove(false);
    const QString path = m_file->fileName();
    m_file->close();
    m_file.reset();
    const Completion done = std::move(m_done);
    done(path, {});
}

void UpdateDownload::fail(const QString& error)
{
    m_file.reset();
    if (const Completion done = std::move(m_done))
        done({}, error);
}

} // namespace sonaric
