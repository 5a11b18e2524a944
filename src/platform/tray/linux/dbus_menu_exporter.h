#pragma once

#include "platform/tray/linux/dbus_menu_types.h"

#include <QAction>
#include <QDBusConnection>
#include <QHash>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace sonaric
{

/// Publishes a QMenu as com.canonical.dbusmenu on one object path, for StatusNotifierItem hosts that draw the menu
/// themselves. Each action keeps the number it was first given (the root is 0). A change to the actions of the menu
/// or of a submenu bumps the layout revision and is announced with one LayoutUpdated per turn of the event loop.
/// A host's "clicked" triggers the action on the next turn; AboutToShow emits the menu's aboutToShow (so a menu
/// that fills itself then is current when the host reads it) and "closed" its aboutToHide.
class DBusMenuExporter : public QObject
{
    Q_OBJECT

public:
    DBusMenuExporter(const QDBusConnection& connection, const QString& objectPath, QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    /// The menu to publish; nullptr publishes an empty one.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }
    QString objectPath() const { return m_objectPath; }
    uint revision() const { return m_revision; }

    // The calls of com.canonical.dbusmenu: DBusMenuAdaptor forwards them.
    /// The item `parentId` and its descendants down to `depth` levels (-1: all), with the named properties (none
    /// named: all). The revision the layout belongs to goes to `revision`.
    DBusMenuLayoutItem layout(int parentId, int depth, const QStringList& propertyNames, uint& revision);
    DBusMenuItemList groupProperties(const QList<int>& ids, const QStringList& propertyNames);
    /// The property's value; an invalid QVariant when the item or the property does not exist.
    QVariant itemProperty(int id, const QString& name);
    /// "clicked", "opened", "closed" (others are ignored); false when no item has that id.
    bool handleEvent(int id, const QString& eventId);
    /// Tells the menu of item `id` that it is about to show; true when that changed the layout.
    bool aboutToShow(int id, bool* known = nullptr);

signals:
    void layoutUpdated(uint revision, int parentId);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int idFor(QAction* action);
    QAction* actionFor(int id) const;
    /// The menu shown under item `id` (the root menu for 0); nullptr when it has none.
    QMenu* menuFor(int id) const;
    QVariantMap propertiesOf(QAction* action, const QStringList& names);
    DBusMenuLayoutItem node(int id, QMenu* submenu, QAction* action, int depth, const QStringList& names);
    void watch(QMenu* menu);
    void menuChanged();
    void announce();

    QDBusConnection m_connection;
    QString m_objectPath;
    QPointer<QMenu> m_menu;
    QHash<QAction*, int> m_ids;
    QHash<int, QPointer<QAction>> m_actions;
    QList<QPointer<QMenu>> m_watched;
    int m_nextId = 1;
    uint m_revision = 1;
    bool m_dirty = false;
    QTimer m_announceTimer;
};

} // namespace sonaric
