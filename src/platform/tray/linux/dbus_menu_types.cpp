#include "platform/tray/linux/dbus_menu_types.h"

#include <QDBusMetaType>
#include <QHash>

namespace sonaric
{

namespace
{

/// Qt's portable key names that differ from the X keysym names GTK hosts parse.
QString keysymName(const QString& qtName)
{
    static const QHash<QString, QString> names = {
        { QStringLiteral(","), QStringLiteral("comma") },
        { QStringLiteral("."), QStringLiteral("period") },
        { QStringLiteral("/"), QStringLiteral("slash") },
        { QStringLiteral("\\"), QStringLiteral("backslash") },
        { QStringLiteral(";"), QStringLiteral("semicolon") },
        { QStringLiteral("'"), QStringLiteral("apostrophe") },
        { QStringLiteral("["), QStringLiteral("bracketleft") },
        { QStringLiteral("]"), QStringLiteral("bracketright") },
        { QStringLiteral("-"), QStringLiteral("minus") },
        { QStringLiteral("="), QStringLiteral("equal") },
        { QStringLiteral("+"), QStringLiteral("plus") },
        { QStringLiteral("`"), QStringLiteral("grave") },
        { QStringLiteral("Space"), QStringLiteral("space") },
        { QStringLiteral("Esc"), QStringLiteral("Escape") },
        { QStringLiteral("Del"), QStringLiteral("Delete") },
        { QStringLiteral("Ins"), QStringLiteral("Insert") },
        { QStringLiteral("Backspace"), QStringLiteral("BackSpace") },
        { QStringLiteral("PgUp"), QStringLiteral("Page_Up") },
        { QStringLiteral("PgDown"), QStringLiteral("Page_Down") },
    };
    return names.value(qtName, qtName);
}

} // namespace

QString dbusMenuLabel(const QString& actionText)
{
    const QString text = actionText.section(QLatin1Char('\t'), 0, 0);
    QString label;
    label.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else if (c == QLatin1Char('&') && i + 1 < text.size()) {
            // "&&" is a literal ampersand; "&x" marks x.
            ++i;
            if (text[i] != QLatin1Char('&'))
                label += QLatin1Char('_');
            label += text[i];
        } else {
            label += c;
        }
    }
    return label;
}

DBusMenuShortcut dbusMenuShortcut(const QKeySequence& sequence)
{
    DBusMenuShortcut out;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination chord = sequence[i];
        const Qt::KeyboardModifiers modifiers = chord.keyboardModifiers();
        QStringList tokens;
        if (modifiers & Qt::ControlModifier)
            tokens << QStringLiteral("Control");
        if (modifiers & Qt::AltModifier)
            tokens << QStringLiteral("Alt");
        if (modifiers & Qt::ShiftModifier)
            tokens << QStringLiteral("Shift");
        if (modifiers & Qt::MetaModifier)
            tokens << QStringLiteral("Super");
        tokens << keysymName(QKeySequence(chord.key()).toString(QKeySequence::PortableText));
        out << tokens;
    }
    return out;
}

void registerDBusMenuTypes()
{
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<DBusMenuItemList>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<DBusMenuItemKeysList>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEventList>();
    qDBusRegisterMetaType<DBusMenuShortcut>();
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    item.children.clear();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        const auto inner = child.variant().value<QDBusArgument>();
        DBusMenuLayoutItem node;
        inner >> node;
        item.children << node;
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys)
{
    argument.beginStructure();
    argument << keys.id << keys.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys)
{
    argument.beginStructure();
    argument >> keys.id >> keys.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event)
{
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event)
{
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

} // namespace sonaric
