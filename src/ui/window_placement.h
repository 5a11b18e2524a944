#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QtQmlIntegration/qqmlintegration.h>

class QQuickItem;

namespace sonaric
{

/// Where a small window that belongs to a control goes: below the control, or above it when there is no room
/// below, centred on it and kept inside the screen.
class WindowPlacement : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE(<QQuickItem>)
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    /// The top-left corner of a window of `size` beside `anchor`, `gap` apart, inside `screen` (all in
    /// global coordinates). Below when it fits, else above when that fits, else on the side with more room.
    static QPoint place(const QRect& anchor, const QSize& size, const QRect& screen, int gap);

    /// The same for an item on screen, inside the available area of the screen it is on.
    Q_INVOKABLE QPoint placeBeside(QQuickItem* anchor, const QSizeF& size, int gap = 4) const;
};

} // namespace sonaric
