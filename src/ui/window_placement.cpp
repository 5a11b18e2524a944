#include "ui/window_placement.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>

#include <algorithm>

namespace sonaric
{

QPoint WindowPlacement::place(const QRect& anchor, const QSize& size, const QRect& screen, int gap)
{
    int x = anchor.x() + anchor.width() / 2 - size.width() / 2;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));

    const int below = anchor.bottom() + 1 + gap;
    const int above = anchor.top() - gap - size.height();
    const int roomBelow = screen.bottom() + 1 - below;
    const int roomAbove = anchor.top() - gap - screen.top();
    int y;
    if (roomBelow >= size.height())
        y = below;
    else if (roomAbove >= size.height())
        y = above;
    else
        y = roomBelow >= roomAbove ? below : above;
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return { x, y };
}

QPoint WindowPlacement::placeBeside(QQuickItem* anchor, const QSizeF& size, int gap) const
{
    if (!anchor)
        return {};
    const QPointF topLeft = anchor->mapToGlobal(QPointF(0, 0));
    const QRect bounds(topLeft.toPoint(), QSize(qRound(anchor->width()), qRound(anchor->height())));
    QScreen* screen = QGuiApplication::screenAt(bounds.center());
    if (!screen && anchor->window())
        screen = anchor->window()->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(bounds.topLeft(), size.toSize());
    return place(bounds, size.toSize(), area, gap);
}

} // namespace sonaric
