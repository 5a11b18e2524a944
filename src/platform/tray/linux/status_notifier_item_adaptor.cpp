#include "platform/tray/linux/status_notifier_item_adaptor.h"

namespace sonaric
{

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(QObject* parent, RequestHandler handler)
    : QDBusAbstractAdaptor(parent)
    , m_handler(std::move(handler))
{
}

void StatusNotifierItemAdaptor::setTitle(const QString& title)
{
    if (m_title == title)
        return;
    m_title = title;
    emit NewTitle();
}

void StatusNotifierItemAdaptor::setIcon(const QString& name, const SniIconPixmapList& pixmaps)
{
    if (m_iconName == name && m_iconPixmap == pixmaps)
        return;
    m_iconName = name;
    m_iconPixmap = pixmaps;
    emit NewIcon();
}

void StatusNotifierItemAdaptor::setToolTipTitle(const QString& title)
{
    // The whole text goes in the title, which hosts show as plain text; some render the description as markup.
    if (m_toolTip.title == title)
        return;
    m_toolTip.title = title;
    emit NewToolTip();
}

void StatusNotifierItemAdaptor::Activate(int x, int y)
{
    m_handler(Request::activate, { x, y });
}

void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y)
{
    m_handler(Request::secondaryActivate, { x, y });
}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y)
{
    m_handler(Request::contextMenu, { x, y });
}

void StatusNotifierItemAdaptor::Scroll(int delta, const QString& orientation)
{
    Q_UNUSED(delta)
    Q_UNUSED(orientation)
}

void StatusNotifierItemAdaptor::ProvideXdgActivationToken(const QString& token)
{
    Q_UNUSED(token)
}

} // namespace sonaric
