#pragma once

// A delay clock that moves only when the test says so.

#include "platform/delay_clock.h"

#include <map>

namespace sonaric::test
{

class ManualClock : public DelayClock
{
    Q_OBJECT

public:
    using DelayClock::DelayClock;

    Handle schedule(int milliseconds, std::function<void()> work) override
    {
        const Handle handle = ++m_next;
        m_due.emplace(handle, Due { m_now + milliseconds, std::move(work) });
        return handle;
    }
    void cancel(Handle handle) override { m_due.erase(handle); }

    /// Moves the clock on, running what falls due on the way in the order it falls due.
    Q_INVOKABLE void advance(int milliseconds)
    {
        const qint64 end = m_now + milliseconds;
        for (;;) {
            auto next = m_due.end();
            for (auto it = m_due.begin(); it != m_due.end(); ++it)
                if (it->second.at <= end && (next == m_due.end() || it->second.at < next->second.at))
                    next = it;
            if (next == m_due.end())
                break;
            m_now = next->second.at;
            auto work = std::move(next->second.work);
            m_due.erase(next);
            work();
        }
        m_now = end;
    }
    Q_INVOKABLE int scheduled() const { return int(m_due.size()); }

private:
    struct Due {
        qint64 at;
        std::function<void()> work;
    };
    std::map<Handle, Due> m_due;
    Handle m_next = 0;
    qint64 m_now = 0;
};

} // namespace sonaric::test
