#pragma once

#include "platform/tray/status_item.h"

#include <QKeySequence>
#include <QList>
#include <QStringList>

#include <functional>

namespace sonaric
{

/// A status item that lives in memory, for tests and for a run without any tray. A test clicks it, places its
/// button, and answers every menu it pops up: `popUpMenu` records what the menu showed, then triggers the answer
/// (an action chosen by its text) or dismisses it, and returns at once, as a real menu would after the person
/// chose.
class SimulatedStatusItem : public StatusItem
{
    Q_OBJECT

public:
    /// One entry of a menu as it was shown.
    struct MenuEntry {
        QString text; ///< without the mnemonic marks ("&Quit" reads "Quit")
        bool separator = false;
        QKeySequence shortcut;
        bool enabled = true;
        bool checkable = false;
        bool checked = false;
        QList<MenuEntry> submenu;
        bool operator==(const MenuEntry&) const = default;
    };

    /// A menu that was popped up, and what became of it.
    struct ShownMenu {
        std::optional<QPoint> location;
        QList<MenuEntry> entries; ///< the visible entries, in order
        std::optional<QString> chosen; ///< the text of the action triggered; none when dismissed
        /// One line per entry as a person reads it: "Quit Sonaric\tCtrl+Q", "Settings…", or "-" for a separator.
        QStringList lines() const;
    };

    /// How a test answers a menu: trigger the enabled, visible action with that text (submenus included), or
    /// dismiss it.
    struct MenuAnswer {
        std::optional<QString> choose;
        static MenuAnswer dismiss() { return {}; }
        static MenuAnswer trigger(const QString& text) { return { text }; }
    };
    using MenuResponder = std::function<MenuAnswer(const ShownMenu&)>;

    explicit SimulatedStatusItem(QObject* parent = nullptr);

    QString protocolName() const override { return QStringLiteral("simulated"); }
    bool hasButton() const override { return m_hasButton; }
    void setImage(const QIcon& icon, const QString& iconName) override;
    void setAccessibilityDescription(const QString& text) override { m_accessibilityDescription = text; }
    void setToolTip(const QString& text) override { m_toolTip = text; }
    std::optional<QRect> buttonBounds() const override { return m_buttonBounds; }
    void popUpMenu(QMenu& menu, std::optional<QPoint> location) override;
    void setContextMenu(QMenu* menu) override { m_contextMenu = menu; }

    // Driving the item.
    /// Sends `event` as the tray would.
    void click(const StatusItemEvent& event) { emit clicked(event); }
    void leftClick(std::optional<QPoint> at = {}, Qt::KeyboardModifiers modifiers = {}, int clickCount = 1);
    void rightClick(std::optional<QPoint> at = {});
    void setButtonBounds(std::optional<QRect> bounds) { m_buttonBounds = bounds; }
    void setHasButton(bool hasButton) { m_hasButton = hasButton; }
    /// Answers the next menus in order; a menu popped up with no answer left is dismissed.
    void answerNextMenus(const QList<MenuAnswer>& answers) { m_answers += answers; }
    /// Answers every menu that the queued answers do not, by looking at it.
    void setMenuResponder(MenuResponder responder) { m_responder = std::move(responder); }

    // What the program did to the item.
    const QList<ShownMenu>& shownMenus() const { return m_shownMenus; }
    QIcon image() const { return m_image; }
    QString imageName() const { return m_imageName; }
    QString accessibilityDescription() const { return m_accessibilityDescription; }
    QString toolTip() const { return m_toolTip; }
    QMenu* contextMenu() const { return m_contextMenu; }

    /// The entries of `menu` as a person sees them (hidden actions left out).
    static QList<MenuEntry> entriesOf(const QMenu& menu);

private:
    MenuAnswer nextAnswer(const ShownMenu& shown);

    bool m_hasButton = true;
    std::optional<QRect> m_buttonBounds;
    QIcon m_image;
    QString m_imageName;
    QString m_accessibilityDescription;
    QString m_toolTip;
    QMenu* m_contextMenu = nullptr;
    QList<MenuAnswer> m_answers;
    MenuResponder m_responder;
    QList<ShownMenu> m_shownMenus;
};

} // namespace sonaric
