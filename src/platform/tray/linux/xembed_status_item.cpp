#include "platform/tray/linux/xembed_status_item.h"

#include "platform/tray/linux/tray_log.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include <algorithm>

namespace sonaric
{

XEmbedStatusItem::XEmbedStatusItem(QObject* parent)
    : StatusItem(parent)
{
    connect(&m_icon, &QSystemTrayIcon::activated, this, &XEmbedStatusItem::activated);
}

bool XEmbedStatusItem::hasButton() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void XEmbedStatusItem::setImage(const QIcon& icon, const QString& iconName)
{
    QIcon shown = icon;
    if (shown.isNull() && !iconName.isEmpty())
        shown = QIcon::fromTheme(iconName);
    if (shown.isNull()) {
        qCWarning(lcTray) << "no icon to show in the tray (theme name" << iconName << ")";
        return;
    }
    m_icon.setIcon(shown);
    m_icon.show();
}

void XEmbedStatusItem::setAccessibilityDescription(const QString& text)
{
    m_accessibilityDescription = text;
    if (m_toolTip.isEmpty())
        m_icon.setToolTip(text);
}

void XEmbedStatusItem::setToolTip(const QString& text)
{
    m_toolTip = text;
    m_icon.setToolTip(text.isEmpty() ? m_accessibilityDescription : text);
}

std::optional<QRect> XEmbedStatusItem::buttonBounds() const
{
    const QRect geometry = m_icon.geometry();
    if (!m_icon.isVisible() || !geometry.isValid() || geometry.isEmpty())
        return std::nullopt;
    // Qt's icon window stands at the screen's origin until the tray embeds it, and only the tray maps it: the
    // geometry is the icon's once the window with that geometry is mapped.
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool embedded = std::any_of(windows.begin(), windows.end(), [&](const QWidget* window) {
        return window->objectName() == QLatin1String("QSystemTrayIconSys") && window->testAttribute(Qt::WA_Mapped)
            && QRect(window->mapToGlobal(QPoint(0, 0)), window->size()) == geometry;
    });
    if (!embedded)
        return std::nullopt;
    return geometry;
}

void XEmbedStatusItem::popUpMenu(QMenu& menu, std::optional<QPoint> location)
{
    QPoint at = QCursor::pos();
    if (location)
        at = *location;
    else if (const auto bounds = buttonBounds())
        at = bounds->bottomLeft() + QPoint(0, 1);
    menu.exec(at);
}

void XEmbedStatusItem::activated(QSystemTrayIcon::ActivationReason reason)
{
    StatusItemEvent event;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        event.type = StatusItemEvent::Type::leftMouseUp;
        break;
    case QSystemTrayIcon::DoubleClick:
        event.type = StatusItemEvent::Type::leftMouseUp;
        event.clickCount = 2;
        break;
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
        event.type = StatusItemEvent::Type::rightMouseUp;
        break;
    case QSystemTrayIcon::Unknown:
        return;
    }
    // The modifiers of the press itself, which Qt has just handled.
    event.modifierFlags = QGuiApplication::keyboardModifiers();
    event.location = QCursor::pos();
    // Sent once Qt has finished with the press: the click may open a menu that grabs the pointer.
    QMetaObject::invokeMethod(
        this, [this, event] { emit clicked(event); }, Qt::QueuedConnection);
}

} // namespace sonaric
