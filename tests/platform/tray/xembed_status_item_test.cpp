// The XEmbed item in a real XEmbed tray (trayer) on Xvfb, clicked with xdotool; run by with_x_tray.sh inside
// with_session_bus.sh, so that the session has a bus but no StatusNotifierWatcher.

#include "platform/tray/linux/linux_status_item.h"
#include "support/event_loop.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <gtest/gtest.h>

namespace sonaric
{
namespace
{

using test::waitUntil;

bool xdotool(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

class XEmbedStatusItemTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run me with with_x_tray.sh";
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
        item = makeLinuxStatusItem();
        ASSERT_EQ(item->protocolName(), "XEmbed");
        item->setImage(QIcon(QStringLiteral(SONARIC_TRAY_ICON)), QString());
        ASSERT_TRUE(waitUntil([&] { return item->buttonBounds().has_value(); }));
        QObject::connect(item.get(), &StatusItem::clicked, [this](const StatusItemEvent& event) { clicks << event; });
    }

    QPoint centre() const { return item->buttonBounds()->center(); }

    std::unique_ptr<StatusItem> item;
    QList<StatusItemEvent> clicks;
};

TEST_F(XEmbedStatusItemTest, TheTrayEmbedsTheIconWhereItDocks)
{
    EXPECT_TRUE(item->hasButton());
    const QRect bounds = *item->buttonBounds();
    EXPECT_GE(bounds.width(), 16);
    EXPECT_GE(bounds.height(), 16);
    // trayer docks at the top right of the 1280x800 screen.
    EXPECT_LE(bounds.top(), 24);
    EXPECT_GE(bounds.left(), 1280 - 100);
}

TEST_F(XEmbedStatusItemTest, ClicksOnTheIconBecomeTheControllersEvents)
{
    using Type = StatusItemEvent::Type;
    const QPoint at = centre();
    ASSERT_TRUE(xdotool({ "mousemove", QString::number(at.x()), QString::number(at.y()) }));
    struct Case {
        const char* name;
        QStringList input;
        QList<StatusItemEvent> expected;
    };
    const QList<Case> cases {
        { "left click", { "click", "1" }, { { Type::leftMouseUp, {}, 1, at } } },
        { "right click", { "click", "3" }, { { Type::rightMouseUp, {}, 1, at } } },
        { "middle click", { "click", "2" }, { { Type::rightMouseUp, {}, 1, at } } },
        { "control-click", { "keydown", "ctrl", "click", "1", "keyup", "ctrl" },
            { { Type::leftMouseUp, Qt::ControlModifier, 1, at } } },
        { "double-click", { "click", "--repeat", "2", "--delay", "60", "1" },
            { { Type::leftMouseUp, {}, 1, at }, { Type::leftMouseUp, {}, 2, at } } },
    };
    for (const Case& c : cases) {
        clicks.clear();
        ASSERT_TRUE(xdotool(c.input)) << c.name;
        EXPECT_TRUE(waitUntil([&] { return clicks.size() >= c.expected.size(); })) << c.name;
        // Past the double-click interval, so that the next case's click starts afresh.
        test::spin(QApplication::doubleClickInterval() + 150);
        EXPECT_EQ(clicks, c.expected) << c.name;
    }
}

TEST_F(XEmbedStatusItemTest, AMenuOpensBelowTheIconAndReturnsOnceChosen)
{
    QMenu menu;
    QAction* settings = menu.addAction(QStringLiteral("Settings…"));
    menu.addAction(QStringLiteral("Quit Sonaric"));
    bool chosen = false;
    QObject::connect(settings, &QAction::triggered, [&] { chosen = true; });
    QRect shownAt;
    // Once the menu is up, read where it is and choose its first entry with the keyboard, as a person would.
    QTimer::singleShot(400, [&] {
        shownAt = menu.geometry();
        xdotool({ "key", "Down", "Return" });
    });
    item->popUpMenu(menu, std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return chosen; }));
    EXPECT_FALSE(menu.isVisible());
    const QRect icon = *item->buttonBounds();
    EXPECT_NEAR(shownAt.top(), icon.bottom() + 1, 2) << "top " << shownAt.top();
    EXPECT_GE(shownAt.right(), icon.left());
}

} // namespace
} // namespace sonaric
