#include "platform/login/sim/simulated_login_item_service.h"

namespace sonaric
{

QString SimulatedLoginItemService::registerMainApp()
{
    ++m_calls;
    if (!m_nextFailure.isEmpty())
        return std::exchange(m_nextFailure, QString());
    m_status = m_statusAfterRegister;
    return {};
}

QString SimulatedLoginItemService::unregisterMainApp()
{
    ++m_calls;
    if (!m_nextFailure.isEmpty())
        return std::exchange(m_nextFailure, QString());
    m_status = Status::notRegistered;
    return {};
}

} // namespace sonaric
