#include "platform/login/launch_at_login.h"

namespace sonaric
{

LaunchAtLogin::LaunchAtLogin(LoginItemService& service, OpenLoginItems openLoginItems, QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_openLoginItems(std::move(openLoginItems))
    , m_status(service.status())
{
}

bool LaunchAtLogin::isOn() const
{
    return m_status == LoginItemService::Status::enabled || m_status == LoginItemService::Status::requiresApproval;
}

void LaunchAtLogin::set(bool on)
{
    setError({});
    QString failure;
    if (on)
        failure = m_service.registerMainApp();
    else if (m_status != LoginItemService::Status::notRegistered)
        failure = m_service.unregisterMainApp();
    setError(failure);
    refresh();
}

void LaunchAtLogin::refresh()
{
    const LoginItemService::Status status = m_service.status();
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void LaunchAtLogin::openLoginItems()
{
    if (m_openLoginItems)
        m_openLoginItems();
}

void LaunchAtLogin::setError(const QString& error)
{
    if (error == m_error)
        return;
    m_error = error;
    emit errorChanged();
}

} // namespace sonaric
