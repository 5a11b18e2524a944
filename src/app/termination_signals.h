#pragma once

#include <QObject>

class QSocketNotifier;

namespace sonaric
{

/// SIGTERM, SIGINT and SIGHUP (log-out, `kill`, Ctrl+C) reach the event loop as a signal of this object: the
/// handler only writes the signal number into a pipe, and a socket notifier reads it on the main thread, so
/// no Qt code ever runs inside a signal handler.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace sonaric
