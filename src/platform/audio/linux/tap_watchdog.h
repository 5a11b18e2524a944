#pragma once

#include <QString>

#include <sys/types.h>

namespace sonaric
{

/// The `sonaric-audio-watchdog` process of one backend instance: it undoes this instance's taps (see
/// TapRecovery) as soon as this process ends, however it ends, because the pipe it reads closes then.
///
/// Used under the backend's operations lock only.
class TapWatchdog
{
public:
    /// `configured`: the executable; empty: found beside this program or in the build tree; "none": none.
    explicit TapWatchdog(QString configured);
    /// Closes the pipe and gives the watchdog up to 2 s to finish its (by then empty) recovery.
    ~TapWatchdog();
    TapWatchdog(const TapWatchdog&) = delete;
    TapWatchdog& operator=(const TapWatchdog&) = delete;

    /// Starts the watchdog for `owner`'s taps in `journalPath` unless it runs already; a failure leaves the
    /// taps to the recovery at the next start.
    void ensureRunning(const QString& owner, const QString& journalPath);

private:
    QString m_configured;
    pid_t m_pid = -1;
    int m_pipe = -1;
};

} // namespace sonaric
