#include "platform/tray/sim/simulated_status_item.h"

#include <QAction>
#include <QLoggingCategory>
#include <QMenu>
#include <QPointer>

namespace sonaric
{

Q_LOGGING_CATEGORY(lcSimulatedTray, "SimulatedStatusItem")

namespace
{

/// "&Quit" reads "Quit", "Fish && Chips" reads "Fish & Chips"; a tab starts the shortcut text some menus carry.
QString readableText(const QString& text)
{
    QString out;
    const QString shown = text.section(QLatin1Char('\t'), 0, 0);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (shown[i] == QLatin1Char('&') && i + 1 < shown.size()) {
            ++i;
        }
        out += shown[i];
    }
    return out;
}

QAction* findAction(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (!action->isVisible() || action->isSeparator())
            continue;
        if (action->menu()) {
            if (QAction* inner = findAction(*action->menu(), text))
                return inner;
            continue;
        }
        if (readableText(action->text()) == text)
            return action;
    }
    return nullptr;
}

} // namespace

SimulatedStatusItem::SimulatedStatusItem(QObject* parent)
    : StatusItem(parent)
{
}

QStringList SimulatedStatusItem::ShownMenu::lines() const
{
    QStringList out;
    for (const MenuEntry& entry : entries) {
        if (entry.separator)
            out << QStringLiteral("-");
        else if (entry.shortcut.isEmpty())
            out << entry.text;
        else
            out << entry.text + QLatin1Char('\t') + entry.shortcut.toString(QKeySequence::PortableText);
    }
    return out;
}

void SimulatedStatusItem::setImage(const QIcon& icon, const QString& iconName)
{
    m_image = icon;
    m_imageName = iconName;
}

void SimulatedStatusItem::leftClick(std::optional<QPoint> at, Qt::KeyboardModifiers modifiers, int clickCount)
{
    click({ StatusItemEvent::Type::leftMouseUp, modifiers, clickCount, at });
}

void SimulatedStatusItem::rightClick(std::optional<QPoint> at)
{
    click({ StatusItemEvent::Type::rightMouseUp, {}, 1, at });
}

QList<SimulatedStatusItem::MenuEntry> SimulatedStatusItem::entriesOf(const QMenu& menu)
{
    QList<MenuEntry> entries;
    for (const QAction* action : menu.actions()) {
        if (!action->isVisible())
            continue;
        MenuEntry entry;
        entry.separator = action->isSeparator();
        if (!entry.separator) {
            entry.text = readableText(action->text());
            entry.shortcut = action->shortcut();
            entry.enabled = action->isEnabled();
            entry.checkable = action->isCheckable();
            entry.checked = action->isChecked();
            if (action->menu())
                entry.submenu = entriesOf(*action->menu());
        }
        entries << entry;
    }
    return entries;
}

SimulatedStatusItem::MenuAnswer SimulatedStatusItem::nextAnswer(const ShownMenu& shown)
{
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (m_responder)
        return m_responder(shown);
    return MenuAnswer::dismiss();
}

void SimulatedStatusItem::popUpMenu(QMenu& menu, std::optional<QPoint> location)
{
    // A real menu tells its owner before it draws, so entries built on aboutToShow are what the person sees.
    emit menu.aboutToShow();
    ShownMenu shown;
    shown.location = location;
    shown.entries = entriesOf(menu);
    const MenuAnswer answer = nextAnswer(shown);

    QPointer<QAction> chosen;
    if (answer.choose) {
        chosen = findAction(menu, *answer.choose);
        if (!chosen)
            qCWarning(lcSimulatedTray) << "the menu has no action" << *answer.choose << "; shown:" << shown.lines();
        else if (!chosen->isEnabled())
            qCWarning(lcSimulatedTray) << "the action" << *answer.choose << "is disabled and cannot be chosen";
        if (chosen && chosen->isEnabled())
            shown.chosen = *answer.choose;
        else
            chosen = nullptr;
    }
    m_shownMenus << shown;
    emit menu.aboutToHide();
    // Like QMenu::exec, the choice is acted on before the call returns; QMenu relays it as triggered(action).
    if (chosen)
        chosen->trigger();
}

} // namespace sonaric
