#include "platform/tray/linux/no_tray_status_item.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>

namespace sonaric
{

NoTrayStatusItem::NoTrayStatusItem(QString reason, QObject* parent)
    : StatusItem(parent)
    , m_reason(std::move(reason))
{
}

void NoTrayStatusItem::popUpMenu(QMenu& menu, std::optional<QPoint> location)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    menu.exec(location.value_or(QCursor::pos()));
}

} // namespace sonaric
