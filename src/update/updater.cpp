#include "update/updater.h"

#include "update/update_download.h"
#include "update/update_error.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>

#include <exception>

namespace sonaric
{

namespace
{

// The feed is a few hundred bytes; a body far larger is not a feed and is not kept.
constexpr qint64 kLargestFeed = 1 << 20;

bool isHexDigits(const QString& text)
{
    return std::all_of(text.begin(), text.end(),
        [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); });
}

} // namespace

Updater::Updater(BundleServices& bundles, Workspace& workspace, QObject* parent)
    : Updater(bundles, workspace, Options {}, parent)
{
}

Updater::Updater(BundleServices& bundles, Workspace& workspace, Options options, QObject* parent)
    : QObject(parent)
    , m_bundles(bundles)
    , m_workspace(workspace)
    , m_options(std::move(options))
{
    const BundleInfo main = m_bundles.mainBundle();
    m_currentBuild = parseBuildNumber(main.string("CFBundleVersion")).value_or(0);
    m_currentVersion = main.shortVersion();
    m_timer.setInterval(checkIntervalSeconds * 1000);
    // The timer is ours, so it never outlives the updater it would call.
    connect(&m_timer, &QTimer::timeout, this, &Updater::check);
}

Updater::~Updater()
{
    // The download's reply reports to the network access manager, which goes before the children do.
    delete m_download;
}

void Updater::start()
{
    if (!m_options.feed.enabled())
        return;
    check();
    m_timer.start();
}

void Updater::check()
{
    if (m_phase == Phase::Updating || !m_options.feed.enabled())
        return;
    m_lastCheck = now();
    QNetworkRequest request(m_options.feed.url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(checkTimeoutMilliseconds);
    QNetworkReply* reply = m_network.get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kLargestFeed)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        // Checks fail silently: the state stays as it was.
        if (reply->error() == QNetworkReply::NoError
            && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200)
            checked(reply->readAll());
        emit checkFinished();
    });
}

void Updater::checked(const QByteArray& body)
{
    // A check that was already on its way when an installation started must not end the installation's phase.
    if (m_phase == Phase::Updating)
        return;
    const std::optional<UpdateInfo> result = newer(body, m_currentBuild, m_options.feed.url);
    if (result == m_available)
        return;
    m_available = result;
    emit availableChanged();
    setPhase(Phase::Idle);
}

void Updater::settingsWindowOpened()
{
    if (!m_lastCheck.isValid() || m_lastCheck.secsTo(now()) > settingsCheckAfterSeconds)
        check();
}

std::optional<UpdateInfo> Updater::newer(const QByteArray& data, qint64 build, const QUrl& feedURL)
{
    const std::optional<UpdateInfo> info = UpdateInfo::decode(data);
    if (!info || info->build <= build)
        return std::nullopt;
    // QUrl lower-cases the scheme it parses; the feed's own text must already say "https".
    const QString written = QJsonDocument::fromJson(data).object().value("url").toString();
    if (info->url.scheme() != QLatin1String("https") || !written.startsWith(QLatin1String("https:")))
        return std::nullopt;
    if (info->url.host() != feedURL.host())
        return std::nullopt;
    if (info->sha256.size() != 64 || !isHexDigits(info->sha256))
        return std::nullopt;
    if (info->size < 1 || info->size > largestImage)
        return std::nullopt;
    return info;
}

void Updater::install()
{
    if (!m_available || m_phase == Phase::Updating)
        return;
    const UpdateInfo update = *m_available;
    const BundleInfo main = m_bundles.mainBundle();
    if (!canReplace(main.path)) {
        m_workspace.openURL(update.url);
        setPhase(Phase::Failed, QLatin1String(UpdateError::cannotReplace));
        return;
    }
    setPhase(Phase::Updating);
    const QString bundleID = main.identifier();
    m_download = new UpdateDownload(
        m_network, update,
        [this, update, app = main.path, bundleID](const QString& file, const QString& error) {
            if (m_download)
                m_download->deleteLater();
            if (!error.isEmpty())
                return setPhase(Phase::Failed, error);
            downloaded(update, app, bundleID, file);
        },
        this);
}

void Updater::downloaded(const UpdateInfo& update, const QString& app, const QString& bundleID, const QString& file)
{
    BundleServices* bundles = &m_bundles;
    const QString publisherKey = m_options.feed.publisherKey;
    m_verification.async([self = QPointer(this), bundles, file, update, app, bundleID, publisherKey] {
        QString failure;
        try {
            install(*bundles, file, update, app, bundleID, publisherKey);
        } catch (const UpdateError& error) {
            failure = error.message;
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
        // Back to the main thread; an updater destroyed meanwhile hears nothing.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, failure, app] {
                if (!self)
                    return;
                if (failure.isEmpty())
                    self->relaunch(app);
                else
                    self->setPhase(Phase::Failed, failure);
            },
            Qt::QueuedConnection);
    });
}

void Updater::relaunch(const QString& app)
{
    // The replaced folder says which program to start; a name with a path in it is not one.
    QString executable = m_bundles.bundle(app).value_or(BundleInfo {}).executable();
    if (executable.isEmpty() || executable.contains(u'/'))
        executable = QStringLiteral("sonaric");
    const QStringList arguments { QStringLiteral("-c"), QLatin1String(relaunchScript), QStringLiteral("sh"),
        QString::number(QCoreApplication::applicationPid()), app, executable };
    if (!QProcess::startDetached(m_options.shell, arguments)) {
        setPhase(Phase::Failed, QLatin1String(UpdateError::relaunchFailed));
        return;
    }
    if (m_options.terminate)
        m_options.terminate();
    else
        QCoreApplication::quit();
}

void Updater::setPhase(Phase phase, const QString& failure)
{
    const QString text = phase == Phase::Failed ? failure : QString();
    if (m_phase == phase && m_failure == text)
        return;
    m_phase = phase;
    m_failure = text;
    emit phaseChanged();
}

QDateTime Updater::now() const
{
    return m_options.now ? m_options.now() : QDateTime::currentDateTimeUtc();
}

} // namespace sonaric
