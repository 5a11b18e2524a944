#include "headless_chromium.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QJsonArray>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

namespace sonaric::test
{

HeadlessChromium::HeadlessChromium() = default;

HeadlessChromium::~HeadlessChromium()
{
    stop();
}

QString HeadlessChromium::executable()
{
    const QString configured = qEnvironmentVariable("SONARIC_CHROMIUM");
    if (!configured.isEmpty())
        return configured;
    for (const char* name : { "chromium", "chromium-browser" }) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return found;
    }
    return {};
}

bool HeadlessChromium::start(QString* error)
{
    const QString program = executable();
    if (program.isEmpty()) {
        *error = QStringLiteral("no Chromium executable (install the chromium package or set SONARIC_CHROMIUM)");
        return false;
    }
    m_profile = std::make_unique<QTemporaryDir>();
    if (!m_profile->isValid()) {
        *error = QStringLiteral("cannot create a profile directory");
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(program);
    m_process->setArguments({
        QStringLiteral("--headless"),
        QStringLiteral("--no-sandbox"),
        QStringLiteral("--disable-gpu"),
        QStringLiteral("--disable-quic"),
        QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"),
        QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--disable-extensions"),
        QStringLiteral("--disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication"),
        QStringLiteral("--password-store=basic"),
        QStringLiteral("--autoplay-policy=no-user-gesture-required"),
        // No name resolves: every page request is rewritten to the loopback fixture server first.
        QStringLiteral("--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"),
        QStringLiteral("--user-data-dir=") + m_profile->path(),
        QStringLiteral("--remote-debugging-address=127.0.0.1"),
        QStringLiteral("--remote-debugging-port=0"),
        QStringLiteral("about:blank"),
    });
    if (!m_extension.isEmpty()) {
        QStringList arguments = m_process->arguments();
        arguments.removeAll(QStringLiteral("--disable-extensions"));
        arguments.replace(arguments.indexOf(QStringLiteral("--headless")), QStringLiteral("--headless=new"));
        arguments.insert(arguments.size() - 1, QStringLiteral("--load-extension=") + m_extension);
        arguments.insert(arguments.size() - 1, QStringLiteral("--disable-extensions-except=") + m_extension);
        m_process->setArguments(arguments);
    }
    if (!m_runtimeDirectory.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDirectory);
        m_process->setProcessEnvironment(environment);
    }
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        *error = QStringLiteral("Chromium did not start: ") + m_process->errorString();
        return false;
    }
    std::optional<QUrl> endpoint;
    const QDeadlineTimer deadline(30000);
    while (!(endpoint = CdpClient::browserEndpoint(m_profile->path())) && !deadline.hasExpired()
        && m_process->state() == QProcess::Running)
        QThread::msleep(50);
    if (!endpoint) {
        *error = QStringLiteral("Chromium wrote no DevToolsActivePort");
        return false;
    }
    m_client = std::make_unique<CdpClient>();
    m_client->setEventHandler([this](const CdpClient::Event& event) { onEvent(event); });
    if (!m_client->open(*endpoint, 10000)) {
        *error = QStringLiteral("cannot connect to ") + endpoint->toString();
        return false;
    }
    return true;
}

void HeadlessChromium::stop()
{
    if (m_client && m_client->isOpen()) {
        m_client->call(QStringLiteral("Browser.close"), {}, {}, 5000);
        m_client->close();
    }
    m_client.reset();
    if (m_process && m_process->state() != QProcess::NotRunning) {
        if (!m_process->waitForFinished(5000)) {
            m_process->terminate();
            if (!m_process->waitForFinished(3000)) {
                m_process->kill();
                m_process->waitForFinished(3000);
            }
        }
    }
    m_process.reset();
    m_profile.reset();
}

void HeadlessChromium::onEvent(const CdpClient::Event& event)
{
    if (event.method != QStringLiteral("Fetch.requestPaused"))
        return;
    const QString requestId = event.params.value(QStringLiteral("requestId")).toString();
    const QUrl url(event.params.value(QStringLiteral("request")).toObject().value(QStringLiteral("url")).toString());
    QJsonObject params { { QStringLiteral("requestId"), requestId } };
    if (url.host() != QStringLiteral("127.0.0.1") && !m_origin.isEmpty()) {
        QString local = m_origin + url.path(QUrl::FullyEncoded);
        if (url.hasQuery())
            local += u'?' + url.query(QUrl::FullyEncoded);
        params.insert(QStringLiteral("url"), local);
    }
    m_client->post(QStringLiteral("Fetch.continueRequest"), params, event.sessionId);
}

pid_t HeadlessChromium::processId() const
{
    return m_process ? pid_t(m_process->processId()) : 0;
}

QString HeadlessChromium::profilePath() const
{
    return m_profile ? m_profile->path() : QString();
}

std::optional<HeadlessChromium::Page> HeadlessChromium::open(const QString& url, int timeoutMs, bool newWindow)
{
    const auto created = m_client->call(QStringLiteral("Target.createTarget"),
        QJsonObject {
            { QStringLiteral("url"), QStringLiteral("about:blank") }, { QStringLiteral("newWindow"), newWindow } });
    if (!created.ok())
        return std::nullopt;
    Page page { created.result.value(QStringLiteral("targetId")).toString(), {} };
    page.sessionId = m_client->attach(page.targetId);
    if (page.sessionId.isEmpty())
        return std::nullopt;
    m_client->call(QStringLiteral("Page.enable"), {}, page.sessionId);
    m_client->call(QStringLiteral("Fetch.enable"),
        QJsonObject { { QStringLiteral("patterns"),
            QJsonArray { QJsonObject { { QStringLiteral("urlPattern"), QStringLiteral("*") } } } } },
        page.sessionId);
    const auto navigated = m_client->call(
        QStringLiteral("Page.navigate"), QJsonObject { { QStringLiteral("url"), url } }, page.sessionId, timeoutMs);
    if (!navigated.ok() || navigated.result.contains(QStringLiteral("errorText"))) {
        qWarning() << "navigate failed" << navigated.errorText() << navigated.result;
        return std::nullopt;
    }
    if (!m_client->waitForEvent(QStringLiteral("Page.loadEventFired"), page.sessionId, timeoutMs)) {
        qWarning() << "no load event" << m_client->isOpen();
        return std::nullopt;
    }
    return page;
}

void HeadlessChromium::close(const Page& page)
{
    m_client->call(QStringLiteral("Target.closeTarget"), QJsonObject { { QStringLiteral("targetId"), page.targetId } });
}

bool HeadlessChromium::hasTarget(const QString& targetId)
{
    const auto targets = m_client->call(QStringLiteral("Target.getTargets"));
    for (const QJsonValue& target : targets.result.value(QStringLiteral("targetInfos")).toArray()) {
        if (target.toObject().value(QStringLiteral("targetId")).toString() == targetId)
            return true;
    }
    return false;
}

CdpClient::Reply HeadlessChromium::evaluate(const Page& page, const QString& expression, std::optional<int> contextId)
{
    return m_client->evaluate(page.sessionId, expression, contextId);
}

std::optional<QString> HeadlessChromium::evaluateString(
    const Page& page, const QString& expression, std::optional<int> contextId)
{
    const auto reply = evaluate(page, expression, contextId);
    const QJsonObject result = reply.result.value(QStringLiteral("result")).toObject();
    if (!reply.ok() || reply.result.contains(QStringLiteral("exceptionDetails"))
        || result.value(QStringLiteral("type")).toString() != QStringLiteral("string"))
        return std::nullopt;
    return result.value(QStringLiteral("value")).toString();
}

QJsonValue HeadlessChromium::evaluateValue(const Page& page, const QString& expression, std::optional<int> contextId)
{
    const auto reply = evaluate(page, expression, contextId);
    return reply.result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

std::optional<int> HeadlessChromium::isolatedWorld(const Page& page)
{
    const auto tree = m_client->call(QStringLiteral("Page.getFrameTree"), {}, page.sessionId);
    const QString frameId = tree.result.value(QStringLiteral("frameTree"))
                                .toObject()
                                .value(QStringLiteral("frame"))
                                .toObject()
                                .value(QStringLiteral("id"))
                                .toString();
    if (frameId.isEmpty())
        return std::nullopt;
    const auto world = m_client->call(QStringLiteral("Page.createIsolatedWorld"),
        QJsonObject {
            { QStringLiteral("frameId"), frameId }, { QStringLiteral("worldName"), QStringLiteral("sonaric") } },
        page.sessionId);
    if (!world.ok())
        return std::nullopt;
    return world.result.value(QStringLiteral("executionContextId")).toInt();
}

bool HeadlessChromium::waitUntil(const Page& page, const QString& expression, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (evaluateValue(page, expression).toBool())
            return true;
        QThread::msleep(25);
        QCoreApplication::processEvents();
    }
    return false;
}

} // namespace sonaric::test
