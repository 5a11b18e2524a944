#pragma once

#include <QHash>
#include <QObject>

#include <functional>

class QTimer;

namespace sonaric
{

/// Runs work after a delay on the calling thread, and can cancel it before it runs: the clock of the views'
/// timing rules, the connectors' debounce and the mixer's poll. This one uses precise Qt timers; tests put a
/// clock they advance by hand in its place.
class DelayClock : public QObject
{
    Q_OBJECT

public:
    using Handle = quint64;

    explicit DelayClock(QObject* parent = nullptr);
    ~DelayClock() override;

    /// Runs `work` once `milliseconds` have passed, unless `cancel` comes first. Never 0.
    virtual Handle schedule(int milliseconds, std::function<void()> work);
    /// Does nothing for work that ran or was cancelled already.
    virtual void cancel(Handle handle);

private:
    QHash<Handle, QTimer*> m_timers;
    Handle m_next = 0;
};

} // namespace sonaric
