#include "platform/tray/linux/dbus_menu_adaptor.h"

#include "platform/tray/linux/dbus_menu_exporter.h"

#include <QGuiApplication>

namespace sonaric
{

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenuExporter* exporter)
    : QDBusAbstractAdaptor(exporter)
    , m_exporter(exporter)
{
    // Only the adaptor's own signals reach the bus.
    connect(exporter, &DBusMenuExporter::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
}

QString DBusMenuAdaptor::textDirection() const
{
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

uint DBusMenuAdaptor::GetLayout(
    int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayoutItem& layout)
{
    uint revision = 0;
    layout = m_exporter->layout(parentId, recursionDepth, propertyNames, revision);
    return revision;
}

DBusMenuItemList DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    return m_exporter->groupProperties(ids, propertyNames);
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name)
{
    const QVariant value = m_exporter->itemProperty(id, name);
    if (!value.isValid() && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no property %1 on item %2").arg(name).arg(id));
    return QDBusVariant(value.isValid() ? value : QVariant(QString()));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp)
{
    Q_UNUSED(data)
    Q_UNUSED(timestamp)
    m_exporter->handleEvent(id, eventId);
}

QList<int> DBusMenuAdaptor::EventGroup(const DBusMenuEventList& events)
{
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!m_exporter->handleEvent(event.id, event.eventId))
            idErrors << event.id;
    }
    return idErrors;
}

bool DBusMenuAdaptor::AboutToShow(int id)
{
    return m_exporter->aboutToShow(id);
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    QList<int> updatesNeeded;
    for (const int id : ids) {
        bool known = false;
        if (m_exporter->aboutToShow(id, &known))
            updatesNeeded << id;
        if (!known)
            idErrors << id;
    }
    return updatesNeeded;
}

} // namespace sonaric
