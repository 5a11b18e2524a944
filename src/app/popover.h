#pragma once

// The mixer popover as the status bar controller sees it: shown under the status item, closed by the icon, by
// a click elsewhere or by Escape. The window that implements it lives in popover_window.h; tests use their own.

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace sonaric
{

/// Where the popover should appear: under (or above) the status item's icon when its place is known, else at
/// the point of the click, else next to the pointer.
struct PopoverAnchor {
    std::optional<QRect> iconBounds;
    std::optional<QPoint> clickLocation;
    bool operator==(const PopoverAnchor&) const = default;
};

/// The popover's top-left corner for a content of `size` on a screen whose free area is `available`: centred
/// under the anchor, or above it when the anchor is in the lower half of the screen (a panel at the bottom),
/// and kept inside `available`. `pointer` stands in for an anchor without a place.
QPoint popoverPosition(const QSize& size, const PopoverAnchor& anchor, const QRect& available, const QPoint& pointer);

class Popover : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~Popover() override = default;

    virtual bool isShown() const = 0;
    /// Shows the popover at the anchor and makes it the key window, so the keyboard works at once.
    virtual void show(const PopoverAnchor& anchor) = 0;
    /// Closes it as the icon does; the close is reported with no pointer position.
    virtual void performClose() = 0;
    /// Closes it without animation (for the context menu and the settings window).
    virtual void close() = 0;

signals:
    void willShow();
    /// The popover closed. `pointerAt` is where the pointer was when a click elsewhere closed it (the window
    /// lost focus to that click); empty when it closed for any other reason (Escape, the icon, the program).
    void didClose(std::optional<QPoint> pointerAt);
};

} // namespace sonaric
