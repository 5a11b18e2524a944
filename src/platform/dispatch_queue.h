#pragma once

#include <functional>

namespace sonaric
{

/// A place to run work: the main thread's event loop or a serial queue of our own.
/// Platform services deliver callbacks (property listeners, replies) on the queue the caller names.
class DispatchQueue
{
public:
    virtual ~DispatchQueue() = default;
    /// Runs `work` later on this queue; returns at once.
    virtual void async(std::function<void()> work) = 0;
};

} // namespace sonaric
