#include "app/popover.h"

#include <algorithm>

namespace sonaric
{

namespace
{
// The gap between the icon and the popover's edge.
constexpr int anchorGap = 4;
} // namespace

QPoint popoverPosition(const QSize& size, const PopoverAnchor& anchor, const QRect& available, const QPoint& pointer)
{
    QRect target;
    if (anchor.iconBounds && anchor.iconBounds->isValid())
        target = *anchor.iconBounds;
    else if (anchor.clickLocation)
        target = QRect(*anchor.clickLocation, QSize(1, 1));
    else
        target = QRect(pointer, QSize(1, 1));

    int x = target.left() + target.width() / 2 - size.width() / 2;
    const bool panelBelow = target.top() + target.height() / 2 > available.top() + available.height() / 2;
    int y = panelBelow ? target.top() - anchorGap - size.height() : target.bottom() + 1 + anchorGap;

    // Keep the whole popover on the screen's free area; the top-left wins when the popover is larger than it.
    x = std::max(available.left(), std::min(x, available.right() + 1 - size.width()));
    y = std::max(available.top(), std::min(y, available.bottom() + 1 - size.height()));
    return { x, y };
}

} // namespace sonaric
