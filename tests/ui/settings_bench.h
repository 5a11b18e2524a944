#pragma once

// What the settings views read besides the mixer model, for the views' Quick tests and the screenshots: the
// launch-at-login state on a simulated login item, the navigation, and the Connectors pane's list on the
// bench's model and workspace.

#include "platform/login/launch_at_login.h"
#include "platform/login/sim/simulated_login_item_service.h"
#include "ui/connector_settings.h"
#include "ui/settings_navigation.h"
#include "ui/ui_bench.h"

#include <QObject>

#include <memory>

namespace sonaric::test
{

class SettingsBench : public QObject
{
    Q_OBJECT
    Q_PROPERTY(sonaric::LaunchAtLogin* launchAtLogin READ launchAtLogin CONSTANT)
    Q_PROPERTY(sonaric::SettingsNavigation* navigation READ navigation CONSTANT)
    Q_PROPERTY(sonaric::ConnectorSettings* connectors READ connectors NOTIFY connectorsChanged)
    /// How many times the login item was asked to change.
    Q_PROPERTY(int loginCalls READ loginCalls)
    /// How many times "Open Autostart Folder" was pressed.
    Q_PROPERTY(int loginItemsOpened READ loginItemsOpened)

public:
    explicit SettingsBench(UiBench& bench, QObject* parent = nullptr);

    LaunchAtLogin* launchAtLogin() { return &m_launchAtLogin; }
    SettingsNavigation* navigation() { return &m_navigation; }
    ConnectorSettings* connectors() { return m_connectors.get(); }
    int loginCalls() const { return m_loginItem.calls(); }
    int loginItemsOpened() const { return m_loginItemsOpened; }

    /// Starts the bench on `scene` and sets everything here back: not registered, General, nothing marked.
    Q_INVOKABLE void start(const QString& scene);
    /// What the login item reports from now on (a `LoginItemService::Status`), read at once.
    Q_INVOKABLE void setLoginStatus(int status);
    /// The status a registration leads to.
    Q_INVOKABLE void setStatusAfterRegister(int status);
    Q_INVOKABLE void failNextLoginCall(const QString& message);

signals:
    void connectorsChanged();

private:
    UiBench& m_bench;
    SimulatedLoginItemService m_loginItem;
    LaunchAtLogin m_launchAtLogin;
    SettingsNavigation m_navigation;
    std::unique_ptr<ConnectorSettings> m_connectors;
    int m_loginItemsOpened = 0;
};

} // namespace sonaric::test
