#pragma once

#include "platform/dispatch_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace sonaric
{

/// Runs work items one at a time, in submission order, on a thread of its own.
/// The destructor drains what was already submitted, then joins the thread.
class SerialQueue final : public DispatchQueue
{
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }

    void async(std::function<void()> work) override;
    /// Runs `work` on the queue and waits for it. Calling it from the queue's own thread runs
    /// `work` inline instead of deadlocking.
    void sync(const std::function<void()>& work);
    /// True when called from a work item of this queue.
    bool isCurrent() const;

private:
    void run();

    std::string m_label;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_items;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace sonaric
