#pragma once

#include "platform/tray/status_item.h"

#include <QDBusConnection>
#include <QElapsedTimer>

#include <memory>

class QDBusServiceWatcher;

namespace sonaric
{

class DBusMenuExporter;
class StatusNotifierItemAdaptor;

/// The status item as a StatusNotifierItem of our own on the session bus: org.kde.StatusNotifierItem at
/// /StatusNotifierItem under the name org.kde.StatusNotifierItem-<pid>-<n>, on a connection of its own (so several
/// items can live in one process), registered with org.kde.StatusNotifierWatcher on the first turn of the event loop
/// and again whenever the watcher comes back. A context menu, when set, is published as com.canonical.dbusmenu at
/// /MenuBar; without one the Menu property is "/NO_DBUSMENU" and hosts that honour it call ContextMenu.
///
/// Host requests become clicks on the next turn of the event loop (the host gets its reply first): Activate is a
/// left click, ContextMenu and SecondaryActivate (a middle click on most hosts) a right click, at the point the
/// host gives; (0, 0), which hosts send when they have no point, gives no location. Hosts report no double-click:
/// an Activate within the double-click interval and distance of the one before is sent as its second click
/// (clickCount 2), as Qt does for a double-click it sees. On X11 the modifiers held at that moment are read from
/// the X server. The item never knows where its icon is.
class StatusNotifierItem : public StatusItem
{
    Q_OBJECT

public:
    explicit StatusNotifierItem(QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    QString protocolName() const override { return QStringLiteral("StatusNotifierItem"); }
    /// True while a watcher is on the bus and has not refused the item.
    bool hasButton() const override;
    void setImage(const QIcon& icon, const QString& iconName) override;
    void setAccessibilityDescription(const QString& text) override;
    void setToolTip(const QString& text) override;
    std::optional<QRect> buttonBounds() const override { return std::nullopt; }
    /// QMenu::exec at `location`, else at the pointer.
    void popUpMenu(QMenu& menu, std::optional<QPoint> location) override;
    void setContextMenu(QMenu* menu) override;

    /// The well-known name the item holds on the bus.
    QString serviceName() const { return m_serviceName; }
    /// Whether the watcher accepted the item's last registration.
    bool isRegistered() const { return m_registered; }

private:
    void hostRequest(int request, QPoint at);
    void registerWithWatcher();
    void watcherOwnerChanged(const QString& newOwner);

    QString m_connectionName;
    QString m_serviceName;
    QDBusConnection m_connection;
    StatusNotifierItemAdaptor* m_adaptor = nullptr;
    std::unique_ptr<DBusMenuExporter> m_menuExporter;
    QDBusServiceWatcher* m_watcherWatch = nullptr;
    bool m_published = false;
    bool m_watcherPresent = false;
    bool m_refused = false;
    bool m_registered = false;
    quint64 m_registrationAttempt = 0;
    QElapsedTimer m_clock;
    /// When and where the last Activate that could start a double-click came.
    std::optional<std::pair<qint64, std::optional<QPoint>>> m_lastActivate;
};

} // namespace sonaric
