#include "ui/settings_bench.h"

namespace sonaric::test
{

SettingsBench::SettingsBench(UiBench& bench, QObject* parent)
    : QObject(parent)
    , m_bench(bench)
    , m_launchAtLogin(m_loginItem, [this] { ++m_loginItemsOpened; })
{
}

void SettingsBench::start(const QString& scene)
{
    m_bench.start(scene);
    m_loginItem = SimulatedLoginItemService();
    m_launchAtLogin.set(false);
    m_launchAtLogin.refresh();
    m_navigation.setPane(0);
    m_navigation.setHighlighted(-1);
    m_loginItemsOpened = 0;
    m_connectors = std::make_unique<ConnectorSettings>(*m_bench.model(), m_bench.workspace());
    emit connectorsChanged();
}

void SettingsBench::setLoginStatus(int status)
{
    m_loginItem.setStatus(LoginItemService::Status(status));
    m_launchAtLogin.refresh();
}

void SettingsBench::setStatusAfterRegister(int status)
{
    m_loginItem.setStatusAfterRegister(LoginItemService::Status(status));
}

void SettingsBench::failNextLoginCall(const QString& message)
{
    m_loginItem.failNextCall(message);
}

} // namespace sonaric::test
