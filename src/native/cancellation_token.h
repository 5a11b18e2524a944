#pragma once

#include <atomic>
#include <memory>

namespace sonaric
{

/// Shared between the one who may cancel an operation and the operation, which checks it at the points its
/// behaviour names. Copies share the same flag.
class CancellationToken
{
public:
    CancellationToken()
        : m_cancelled(std::make_shared<std::atomic<bool>>(false))
    {
    }

    void cancel() const { m_cancelled->store(true); }
    bool isCancelled() const { return m_cancelled->load(); }

private:
    std::shared_ptr<std::atomic<bool>> m_cancelled;
};

} // namespace sonaric
