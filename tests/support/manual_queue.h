#pragma once

#include "platform/dispatch_queue.h"

#include <vector>

namespace sonaric::test
{

/// Collects work and runs it when the test says so, so that a test sees exactly what was delivered.
class ManualQueue final : public DispatchQueue
{
public:
    void async(std::function<void()> work) override { m_pending.push_back(std::move(work)); }
    /// Runs everything delivered so far; returns how many items ran.
    int drain()
    {
        int ran = 0;
        while (!m_pending.empty()) {
            auto items = std::move(m_pending);
            m_pending.clear();
            for (auto& item : items) {
                item();
                ++ran;
            }
        }
        return ran;
    }

private:
    std::vector<std::function<void()>> m_pending;
};

} // namespace sonaric::test
