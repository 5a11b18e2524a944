#pragma once

#include "platform/login/login_item_service.h"

namespace sonaric
{

/// A login item in memory. Registering moves to `statusAfterRegister` (enabled unless a test wants an item
/// that waits for approval), unregistering to not registered; the next call can be made to fail, and every
/// call is counted, so a test can tell that nothing was asked.
class SimulatedLoginItemService final : public LoginItemService
{
public:
    Status status() const override { return m_status; }
    QString registerMainApp() override;
    QString unregisterMainApp() override;

    /// What the desktop records from now on, as if the user changed it in the desktop's settings.
    void setStatus(Status status) { m_status = status; }
    void setStatusAfterRegister(Status status) { m_statusAfterRegister = status; }
    /// The next register or unregister fails with `message` and changes nothing.
    void failNextCall(const QString& message) { m_nextFailure = message; }
    int calls() const { return m_calls; }

private:
    Status m_status = Status::notRegistered;
    Status m_statusAfterRegister = Status::enabled;
    QString m_nextFailure;
    int m_calls = 0;
};

} // namespace sonaric
