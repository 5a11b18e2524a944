#pragma once

// The values of com.canonical.dbusmenu (protocol version 3) with their QtDBus marshalling, and the conversions of a
// QAction's text and shortcut into the item properties hosts read.

#include <QDBusArgument>
#include <QKeySequence>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace sonaric
{

/// A node of the menu tree, "(ia{sv}av)": each child travels as a variant holding another node.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

/// An item's properties, "(ia{sv})" (GetGroupProperties, ItemsPropertiesUpdated).
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

/// The names of properties an item lost, "(ias)" (ItemsPropertiesUpdated).
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

/// One event of EventGroup, "(isvu)".
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

/// A key sequence as "aas": one list per chord, modifiers first ("Control", "Alt", "Shift", "Super") and the key last,
/// named as X keysyms are ("q", "comma", "F5").
using DBusMenuShortcut = QList<QStringList>;

/// Qt's mnemonic marks ("&File", "a && b") turned into the host's ("_File", "a & b"); a literal underscore doubled.
/// Text after a tab (an old way of writing the shortcut into the text) is dropped.
QString dbusMenuLabel(const QString& actionText);
DBusMenuShortcut dbusMenuShortcut(const QKeySequence& sequence);

/// Makes the types known to QtDBus; idempotent.
void registerDBusMenuTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

} // namespace sonaric

Q_DECLARE_METATYPE(sonaric::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(sonaric::DBusMenuItem)
Q_DECLARE_METATYPE(sonaric::DBusMenuItemList)
Q_DECLARE_METATYPE(sonaric::DBusMenuItemKeys)
Q_DECLARE_METATYPE(sonaric::DBusMenuItemKeysList)
Q_DECLARE_METATYPE(sonaric::DBusMenuEvent)
Q_DECLARE_METATYPE(sonaric::DBusMenuEventList)
