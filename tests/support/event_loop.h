#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace sonaric::test
{

/// Runs the event loop until `done` holds or `milliseconds` pass; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000)
{
    QDeadlineTimer deadline(milliseconds, Qt::PreciseTimer);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

/// Delivers what has been posted to this thread (queued calls included), and what that posts in turn, without
/// waiting for time to pass. Each round delivers what the round before posted.
inline void deliverPosted(int rounds = 8)
{
    for (int round = 0; round < rounds; ++round)
        QCoreApplication::sendPostedEvents();
}

/// Runs the event loop for `milliseconds`.
inline void spin(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

} // namespace sonaric::test
