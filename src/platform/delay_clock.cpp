#include "platform/delay_clock.h"

#include <QTimer>

namespace sonaric
{

DelayClock::DelayClock(QObject* parent)
    : QObject(parent)
{
}

DelayClock::~DelayClock()
{
    qDeleteAll(m_timers);
}

DelayClock::Handle DelayClock::schedule(int milliseconds, std::function<void()> work)
{
    const Handle handle = ++m_next;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, handle, work = std::move(work)] {
        if (QTimer* done = m_timers.take(handle))
            done->deleteLater();
        work();
    });
    m_timers.insert(handle, timer);
    timer->start(milliseconds);
    return handle;
}

void DelayClock::cancel(Handle handle)
{
    if (QTimer* timer = m_timers.take(handle)) {
        timer->stop();
        timer->deleteLater();
    }
}

} // namespace sonaric
