#include "platform/tray/linux/dbus_menu_exporter.h"

#include "platform/tray/linux/dbus_menu_adaptor.h"
#include "platform/tray/linux/tray_log.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QMenu>

namespace sonaric
{

DBusMenuExporter::DBusMenuExporter(const QDBusConnection& connection, const QString& objectPath, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
    , m_objectPath(objectPath)
{
    registerDBusMenuTypes();
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(0);
    connect(&m_announceTimer, &QTimer::timeout, this, &DBusMenuExporter::announce);
    new DBusMenuAdaptor(this);
    if (!m_connection.registerObject(m_objectPath, this, QDBusConnection::ExportAdaptors))
        qCWarning(lcTray) << "could not publish the menu at" << m_objectPath << m_connection.lastError().message();
}

DBusMenuExporter::~DBusMenuExporter()
{
    m_connection.unregisterObject(m_objectPath);
}

void DBusMenuExporter::setMenu(QMenu* menu)
{
    if (m_menu == menu)
        return;
    for (const QPointer<QMenu>& watched : std::as_const(m_watched)) {
        if (watched)
            watched->removeEventFilter(this);
    }
    m_watched.clear();
    m_menu = menu;
    if (menu)
        watch(menu);
    menuChanged();
}

void DBusMenuExporter::watch(QMenu* menu)
{
    if (!menu || m_watched.contains(menu))
        return;
    m_watched << menu;
    menu->installEventFilter(this);
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
    case QEvent::ActionChanged:
        menuChanged();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void DBusMenuExporter::menuChanged()
{
    m_dirty = true;
    m_announceTimer.start();
}

void DBusMenuExporter::announce()
{
    m_announceTimer.stop();
    if (!m_dirty)
        return;
    m_dirty = false;
    ++m_revision;
    emit layoutUpdated(m_revision, 0);
}

int DBusMenuExporter::idFor(QAction* action)
{
    if (const auto found = m_ids.constFind(action); found != m_ids.constEnd())
        return *found;
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    // An address can be reused by a later action, which must not inherit this one's number.
    connect(action, &QObject::destroyed, this, [this, action, id] {
        m_ids.remove(action);
        m_actions.remove(id);
    });
    return id;
}

QAction* DBusMenuExporter::actionFor(int id) const
{
    return m_actions.value(id);
}

QMenu* DBusMenuExporter::menuFor(int id) const
{
    if (id == 0)
        return m_menu;
    QAction* action = actionFor(id);
    return action ? action->menu() : nullptr;
}

QVariantMap DBusMenuExporter::propertiesOf(QAction* action, const QStringList& names)
{
    QVariantMap properties;
    if (!action) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (action->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        properties.insert(QStringLiteral("visible"), action->isVisible());
    } else {
        properties.insert(QStringLiteral("type"), QStringLiteral("standard"));
        properties.insert(QStringLiteral("label"), dbusMenuLabel(action->text()));
        properties.insert(QStringLiteral("enabled"), action->isEnabled());
        properties.insert(QStringLiteral("visible"), action->isVisible());
        if (action->isCheckable()) {
            const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
            properties.insert(
                QStringLiteral("toggle-type"), radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        if (!action->shortcut().isEmpty())
            properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(dbusMenuShortcut(action->shortcut())));
        if (!action->icon().name().isEmpty())
            properties.insert(QStringLiteral("icon-name"), action->icon().name());
        if (action->menu()) {
            properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            watch(action->menu());
        }
    }
    if (names.isEmpty())
        return properties;
    QVariantMap named;
    for (const QString& name : names) {
        if (const auto found = properties.constFind(name); found != properties.constEnd())
            named.insert(name, *found);
    }
    return named;
}

DBusMenuLayoutItem DBusMenuExporter::node(int id, QMenu* submenu, QAction* action, int depth, const QStringList& names)
{
    DBusMenuLayoutItem item;
    item.id = id;
    item.properties = propertiesOf(action, names);
    if (submenu && depth != 0) {
        for (QAction* child : submenu->actions())
            item.children << node(idFor(child), child->menu(), child, depth - 1, names);
    }
    return item;
}

DBusMenuLayoutItem DBusMenuExporter::layout(int parentId, int depth, const QStringList& propertyNames, uint& revision)
{
    // A change not yet announced is announced now, so the revision given out matches the layout.
    announce();
    revision = m_revision;
    QAction* action = parentId == 0 ? nullptr : actionFor(parentId);
    if (parentId != 0 && !action)
        return DBusMenuLayoutItem { parentId, {}, {} };
    return node(parentId, menuFor(parentId), action, depth, propertyNames);
}

DBusMenuItemList DBusMenuExporter::groupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    DBusMenuItemList items;
    for (const int id : ids) {
        if (id == 0)
            items << DBusMenuItem { 0, propertiesOf(nullptr, propertyNames) };
        else if (QAction* action = actionFor(id))
            items << DBusMenuItem { id, propertiesOf(action, propertyNames) };
    }
    return items;
}

QVariant DBusMenuExporter::itemProperty(int id, const QString& name)
{
    QAction* action = actionFor(id);
    if (id != 0 && !action)
        return {};
    return propertiesOf(action, { name }).value(name);
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId)
{
    QAction* action = actionFor(id);
    if (id != 0 && !action)
        return false;
    if (eventId == QLatin1String("clicked")) {
        if (action && action->isEnabled() && !action->menu()) {
            // Triggered on the next turn: the host gets its reply first, and whatever the action opens (a window,
            // a dialog with its own event loop) runs outside this call.
            QTimer::singleShot(0, action, [action = QPointer<QAction>(action)] {
                if (action && action->isEnabled())
                    action->trigger();
            });
        }
    } else if (eventId == QLatin1String("closed")) {
        if (QMenu* menu = menuFor(id))
            emit menu->aboutToHide();
    }
    return true;
}

bool DBusMenuExporter::aboutToShow(int id, bool* known)
{
    QMenu* menu = menuFor(id);
    if (known)
        *known = id == 0 || actionFor(id);
    if (!menu)
        return false;
    emit menu->aboutToShow();
    if (!m_dirty)
        return false;
    announce();
    return true;
}

} // namespace sonaric
