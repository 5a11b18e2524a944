#pragma once

// Runs sonaric-test-sni-host (sni_host.cpp) as a child process on the test's session bus and reads its JSON lines.

#include "support/event_loop.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <functional>
#include <optional>

namespace sonaric::test
{

class SniHostProcess
{
public:
    explicit SniHostProcess(QString program)
        : m_program(std::move(program))
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~SniHostProcess() { stop(); }

    /// Starts the host and waits until it owns the watcher name.
    bool start()
    {
        m_lines.clear();
        m_taken = 0;
        m_process.start(m_program, {});
        if (!m_process.waitForStarted(5000))
            return false;
        return next([](const QJsonObject& line) { return line.value("event") == "ready"; }).has_value();
    }

    /// Asks the host to leave the bus and waits until it has.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        send("quit");
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    void send(const QString& command)
    {
        m_process.write((command + '\n').toUtf8());
        m_process.waitForBytesWritten(1000);
    }

    /// The first line not yet taken that `match` accepts, waiting for it while the event loop runs; the lines
    /// before it are passed over.
    std::optional<QJsonObject> next(const std::function<bool(const QJsonObject&)>& match, int milliseconds = 5000)
    {
        std::optional<QJsonObject> found;
        waitUntil(
            [&] {
                read();
                while (m_taken < m_lines.size()) {
                    const QJsonObject line = m_lines[m_taken++];
                    if (match(line)) {
                        found = line;
                        return true;
                    }
                }
                return false;
            },
            milliseconds);
        return found;
    }

    /// The next line with that "event" (and, when given, that "method" or "signal").
    std::optional<QJsonObject> nextEvent(const QString& event, const QString& detail = {}, int milliseconds = 5000)
    {
        return next(
            [&](const QJsonObject& line) {
                return line.value("event") == event
                    && (detail.isEmpty() || line.value("method") == detail || line.value("signal") == detail);
            },
            milliseconds);
    }

    const QList<QJsonObject>& lines()
    {
        read();
        return m_lines;
    }

private:
    void read()
    {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                m_lines << document.object();
        }
    }

    QString m_program;
    QProcess m_process;
    QList<QJsonObject> m_lines;
    qsizetype m_taken = 0;
};

} // namespace sonaric::test
