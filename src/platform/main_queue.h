#pragma once

#include "platform/dispatch_queue.h"

namespace sonaric
{

/// The main thread's queue: work runs from the Qt event loop of the application object.
class MainQueue final : public DispatchQueue
{
public:
    void async(std::function<void()> work) override;
};

} // namespace sonaric
