#include "platform/tray/sim/simulated_status_item.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

namespace sonaric
{
namespace
{

/// The menu the program shows, with the parts a test of its controller relies on.
struct AppMenu {
    QMenu menu;
    QAction* settings = menu.addAction(QStringLiteral("&Settings…"));
    QAction* separator = menu.addSeparator();
    QMenu* output = menu.addMenu(QStringLiteral("Output"));
    QAction* speakers = output->addAction(QStringLiteral("Speakers"));
    QAction* hidden = menu.addAction(QStringLiteral("Hidden"));
    QAction* disabled = menu.addAction(QStringLiteral("Check for Updates"));
    QAction* quit = menu.addAction(QStringLiteral("Quit Sonaric"));
    AppMenu()
    {
        quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
        hidden->setVisible(false);
        disabled->setEnabled(false);
    }
};

TEST(SimulatedStatusItem, ClicksReachTheControllerAsSent)
{
    SimulatedStatusItem item;
    QList<StatusItemEvent> received;
    QObject::connect(&item, &StatusItem::clicked, [&](const StatusItemEvent& event) { received << event; });
    item.leftClick(QPoint(10, 2));
    item.leftClick(std::nullopt, Qt::ControlModifier);
    item.leftClick(QPoint(10, 2), {}, 2);
    item.rightClick(QPoint(11, 3));
    const QList<StatusItemEvent> expected {
        { StatusItemEvent::Type::leftMouseUp, {}, 1, QPoint(10, 2) },
        { StatusItemEvent::Type::leftMouseUp, Qt::ControlModifier, 1, std::nullopt },
        { StatusItemEvent::Type::leftMouseUp, {}, 2, QPoint(10, 2) },
        { StatusItemEvent::Type::rightMouseUp, {}, 1, QPoint(11, 3) },
    };
    EXPECT_EQ(received, expected);
}

TEST(SimulatedStatusItem, RecordsEachMenuAsAPersonSeesItAndAnswersInOrder)
{
    SimulatedStatusItem item;
    AppMenu app;
    QStringList triggered;
    QObject::connect(&app.menu, &QMenu::triggered, [&](QAction* action) { triggered << action->text(); });
    item.answerNextMenus({ SimulatedStatusItem::MenuAnswer::trigger(QStringLiteral("Quit Sonaric")),
        SimulatedStatusItem::MenuAnswer::trigger(QStringLiteral("Speakers")) });

    item.popUpMenu(app.menu, QPoint(5, 6));
    item.popUpMenu(app.menu, std::nullopt);
    item.popUpMenu(app.menu, std::nullopt); // no answer left: dismissed

    ASSERT_EQ(item.shownMenus().size(), 3);
    const auto& first = item.shownMenus()[0];
    EXPECT_EQ(first.location, QPoint(5, 6));
    EXPECT_EQ(first.lines(),
        (QStringList { "Settings…", "-", "Output", "Check for Updates", QStringLiteral("Quit Sonaric\tCtrl+Q") }));
    EXPECT_FALSE(first.entries[3].enabled);
    EXPECT_EQ(first.entries[2].submenu.value(0).text, "Speakers");
    EXPECT_EQ(first.chosen, "Quit Sonaric");
    EXPECT_EQ(item.shownMenus()[1].chosen, "Speakers");
    EXPECT_EQ(item.shownMenus()[2].chosen, std::nullopt);
    // QMenu relays a submenu's choice to its parent too, as it does for a person's click.
    EXPECT_EQ(triggered, (QStringList { "Quit Sonaric", "Speakers" }));
}

TEST(SimulatedStatusItem, NeverTriggersWhatAPersonCouldNotChoose)
{
    SimulatedStatusItem item;
    AppMenu app;
    int fired = 0;
    for (QAction* action : { app.disabled, app.hidden })
        QObject::connect(action, &QAction::triggered, [&] { ++fired; });
    item.answerNextMenus({ SimulatedStatusItem::MenuAnswer::trigger(QStringLiteral("Check for Updates")),
        SimulatedStatusItem::MenuAnswer::trigger(QStringLiteral("Hidden")) });
    item.popUpMenu(app.menu, std::nullopt);
    item.popUpMenu(app.menu, std::nullopt);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(item.shownMenus()[0].chosen, std::nullopt);
    EXPECT_EQ(item.shownMenus()[1].chosen, std::nullopt);
}

TEST(SimulatedStatusItem, AResponderSeesTheMenuFilledOnAboutToShow)
{
    SimulatedStatusItem item;
    QMenu menu;
    QObject::connect(&menu, &QMenu::aboutToShow, [&] {
        menu.clear();
        menu.addAction(QStringLiteral("Built just now"));
    });
    bool hidden = false;
    QObject::connect(&menu, &QMenu::aboutToHide, [&] { hidden = true; });
    QStringList triggered;
    QObject::connect(&menu, &QMenu::triggered, [&](QAction* action) { triggered << action->text(); });
    item.setMenuResponder([](const SimulatedStatusItem::ShownMenu& shown) {
        return SimulatedStatusItem::MenuAnswer::trigger(shown.entries.value(0).text);
    });
    item.popUpMenu(menu, std::nullopt);
    ASSERT_EQ(item.shownMenus().size(), 1);
    EXPECT_EQ(item.shownMenus()[0].lines(), QStringList { "Built just now" });
    EXPECT_EQ(triggered, QStringList { "Built just now" });
    EXPECT_TRUE(hidden);
}

} // namespace
} // namespace sonaric
