#pragma once

// The tray service: the program's one status item (icon, tooltip, clicks with their position, a context menu).
// On Linux it is a StatusNotifierItem on the session bus when a watcher is registered, else an XEmbed icon; the
// simulated item is driven by tests.

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

class QMenu;

namespace sonaric
{

/// One click on the status item, as the controller's action receives it. The status item sends its action on
/// the release of either button; what a tray protocol cannot report stays at its default.
struct StatusItemEvent {
    enum class Type {
        leftMouseUp,
        rightMouseUp,
    };
    Type type = Type::leftMouseUp;
    Qt::KeyboardModifiers modifierFlags; ///< the control key makes a left click a menu click
    int clickCount = 1; ///< 2 for the second release of a double-click
    std::optional<QPoint> location; ///< where on the screen the click happened, when the tray says
    bool operator==(const StatusItemEvent&) const = default;
};

/// The program's presence in the tray. Lives on the main thread.
class StatusItem : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~StatusItem() override = default;

    /// "StatusNotifierItem", "XEmbed" or "simulated": which protocol carries the item (for logs and docs).
    virtual QString protocolName() const = 0;
    /// False when the item could not be placed in any tray (no watcher and no XEmbed tray): it has no button.
    virtual bool hasButton() const = 0;

    /// The icon drawn in the tray; a symbolic (monochrome) icon the panel may tint.
    virtual void setImage(const QIcon& icon, const QString& iconName) = 0;
    /// The accessible name of the item ("Sonaric").
    virtual void setAccessibilityDescription(const QString& text) = 0;
    virtual void setToolTip(const QString& text) = 0;

    /// Where the icon is on the screen, when the tray tells (XEmbed reports its geometry; a StatusNotifierItem
    /// host reports only the point of each click). Used to place the popover and to tell a click on the icon
    /// from a click elsewhere.
    virtual std::optional<QRect> buttonBounds() const = 0;

    /// Pops `menu` up at the item (at `location` when given) and returns when the menu has closed.
    virtual void popUpMenu(QMenu& menu, std::optional<QPoint> location) = 0;

    /// The menu that a tray which draws menus itself shows on a right-click, or nullptr. A StatusNotifierItem host
    /// (GNOME's AppIndicator extension, xfce4-panel, KDE Plasma, waybar) renders it from com.canonical.dbusmenu and
    /// never tells the program about that click; the menu's actions are triggered as the host reports the choice
    /// and its aboutToShow/aboutToHide are emitted as the host opens and closes it. Set it before the event loop
    /// first turns (hosts read it when the item registers) and keep it alive while it is set; its actions may
    /// change at any time. Trays that report right-clicks instead (XEmbed) send rightMouseUp as before.
    virtual void setContextMenu(QMenu* menu) { Q_UNUSED(menu) }

signals:
    /// A click on the item; sent once per button release.
    void clicked(const sonaric::StatusItemEvent& event);
};

} // namespace sonaric

Q_DECLARE_METATYPE(sonaric::StatusItemEvent)
