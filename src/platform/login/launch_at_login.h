#pragma once

#include "platform/login/login_item_service.h"

#include <QObject>

#include <functional>

namespace sonaric
{

/// Starting the program at login, as the General pane's switch shows and changes it. The login item's
/// registration is the only state (nothing of ours is stored); `status` mirrors it and is read again whenever
/// it may have changed behind our back (the settings window opening or coming to the front). `error` keeps the
/// text of the last failed change until the next one. Main thread only.
class LaunchAtLogin : public QObject
{
    Q_OBJECT
    /// A `LoginItemService::Status`.
    Q_PROPERTY(int status READ statusValue NOTIFY statusChanged)
    /// On while registered, also while the registration waits for the user's approval.
    Q_PROPERTY(bool isOn READ isOn NOTIFY statusChanged)
    Q_PROPERTY(bool requiresApproval READ requiresApproval NOTIFY statusChanged)
    /// Why the last change failed; empty when it did not. Plain text.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    /// Opens the place where the user allows or removes login items.
    using OpenLoginItems = std::function<void()>;

    /// `service` must outlive it. Reads the status once.
    explicit LaunchAtLogin(LoginItemService& service, OpenLoginItems openLoginItems = {}, QObject* parent = nullptr);

    LoginItemService::Status status() const { return m_status; }
    int statusValue() const { return int(m_status); }
    bool isOn() const;
    bool requiresApproval() const { return m_status == LoginItemService::Status::requiresApproval; }
    QString error() const { return m_error; }

    /// The switch's change: registers, or unregisters when there is something to unregister; then reads the
    /// status, so the switch shows what the desktop recorded.
    Q_INVOKABLE void set(bool on);
    /// Reads the status again.
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void openLoginItems();

signals:
    void statusChanged();
    void errorChanged();

private:
    void setError(const QString& error);

    LoginItemService& m_service;
    OpenLoginItems m_openLoginItems;
    LoginItemService::Status m_status;
    QString m_error;
};

} // namespace sonaric
