// The StatusNotifierItem against a real watcher and panel (sonaric-test-sni-host) on a private session bus; run by
// with_session_bus.sh.

#include "platform/tray/linux/linux_status_item.h"
#include "platform/tray/linux/status_notifier_item.h"
#include "support/event_loop.h"
#include "support/sni_host/sni_host_process.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QMenu>
#include <QPixmap>
#include <QStyleHints>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace sonaric
{
namespace
{

using test::waitUntil;

QIcon filled(QColor colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

class StatusNotifierItemTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run me with with_session_bus.sh";
        ASSERT_TRUE(host.start());
    }

    /// Collects the item's clicks.
    void listen(StatusItem& item)
    {
        QObject::connect(&item, &StatusItem::clicked, [this](const StatusItemEvent& event) { clicks << event; });
    }

    test::SniHostProcess host { QStringLiteral(SONARIC_SNI_HOST) };
    QList<StatusItemEvent> clicks;
};

TEST_F(StatusNotifierItemTest, RegistersWithTheWatcherShowingWhatWasSetBeforehand)
{
    StatusNotifierItem item;
    EXPECT_TRUE(item.hasButton());
    item.setImage(filled(Qt::red), QString());
    item.setToolTip(QStringLiteral("Sonaric: 3 applications"));
    item.setAccessibilityDescription(QStringLiteral("Sonaric"));

    const auto line = host.nextEvent("registered");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->value("service").toString(), item.serviceName());
    EXPECT_TRUE(item.serviceName().startsWith(
        QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(QCoreApplication::applicationPid())));
    const QList<std::pair<const char*, QJsonValue>> expected {
        { "path", "/StatusNotifierItem" },
        { "Id", "sonaric" },
        { "Category", "Hardware" },
        { "Status", "Active" },
        { "Title", "Sonaric" },
        { "ToolTipTitle", "Sonaric: 3 applications" },
        { "ToolTipDescription", "" },
        { "IconName", "" },
        { "ItemIsMenu", false },
        { "WindowId", 0 },
        { "Menu", "/NO_DBUSMENU" },
    };
    for (const auto& [field, value] : expected)
        EXPECT_EQ(line->value(field), value) << field;
    const QJsonArray pixmaps = line->value("pixmaps").toArray();
    ASSERT_EQ(pixmaps.size(), 6);
    EXPECT_EQ(pixmaps[0].toObject().value("width"), 16);
    EXPECT_EQ(pixmaps[5].toObject().value("bytes"), 64 * 64 * 4);
    EXPECT_EQ(pixmaps[0].toObject().value("center"), "ffff0000");
    EXPECT_TRUE(waitUntil([&] { return item.isRegistered(); }));
}

TEST_F(StatusNotifierItemTest, ANameTheIconThemeHasGoesWithoutPixmaps)
{
    // A theme of our own that has "sonaric-test-symbolic".
    QTemporaryDir themes;
    QDir(themes.path()).mkpath(QStringLiteral("sonaric-test/scalable/apps"));
    QFile index(themes.filePath(QStringLiteral("sonaric-test/index.theme")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=sonaric-test\nDirectories=scalable/apps\n\n"
                "[scalable/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    index.close();
    ASSERT_TRUE(QFile::copy(QStringLiteral(SONARIC_TRAY_ICON),
        themes.filePath(QStringLiteral("sonaric-test/scalable/apps/sonaric-test-symbolic.svg"))));
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({ themes.path() });
    QIcon::setThemeName(QStringLiteral("sonaric-test"));
    ASSERT_TRUE(QIcon::hasThemeIcon(QStringLiteral("sonaric-test-symbolic")));

    StatusNotifierItem item;
    item.setImage(QIcon::fromTheme(QStringLiteral("sonaric-test-symbolic")), QStringLiteral("sonaric-test-symbolic"));
    const auto registered = host.nextEvent("registered");
    item.setImage(filled(Qt::red), QStringLiteral("sonaric-not-in-the-theme"));
    const auto changed = host.nextEvent("changed", "NewIcon");
    QIcon::setThemeName(themeName);
    QIcon::setThemeSearchPaths(searchPaths);

    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->value("IconName"), "sonaric-test-symbolic");
    EXPECT_TRUE(registered->value("pixmaps").toArray().isEmpty());
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->value("IconName"), "sonaric-not-in-the-theme");
    EXPECT_EQ(changed->value("pixmaps").toArray().size(), 6);
}

TEST_F(StatusNotifierItemTest, HostRequestsBecomeClicksAtTheHostsPoint)
{
    StatusNotifierItem item;
    listen(item);
    ASSERT_TRUE(host.nextEvent("registered"));
    using Type = StatusItemEvent::Type;
    const QList<std::pair<QString, std::optional<StatusItemEvent>>> cases {
        { "activate 10 20", StatusItemEvent { Type::leftMouseUp, {}, 1, QPoint(10, 20) } },
        { "context 30 40", StatusItemEvent { Type::rightMouseUp, {}, 1, QPoint(30, 40) } },
        { "secondary 50 60", StatusItemEvent { Type::rightMouseUp, {}, 1, QPoint(50, 60) } },
        // Hosts that know no point send (0, 0); the controller then uses the pointer.
        { "activate 0 0", StatusItemEvent { Type::leftMouseUp, {}, 1, std::nullopt } },
        { "scroll 120 vertical", std::nullopt },
    };
    for (const auto& [command, expected] : cases) {
        clicks.clear();
        host.send(command);
        const auto called = host.nextEvent("called");
        ASSERT_TRUE(called) << command.toStdString();
        EXPECT_TRUE(called->value("ok").toBool()) << command.toStdString();
        test::spin(30);
        if (expected)
            EXPECT_EQ(clicks, QList<StatusItemEvent> { *expected }) << command.toStdString();
        else
            EXPECT_TRUE(clicks.isEmpty()) << command.toStdString();
    }
}

TEST_F(StatusNotifierItemTest, TwoActivatesCloseInTimeAndPlaceAreADoubleClick)
{
    const int interval = 400;
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(interval);
    StatusNotifierItem item;
    listen(item);
    ASSERT_TRUE(host.nextEvent("registered"));
    const auto counts = [&](const QStringList& commands, int pauseMs) {
        clicks.clear();
        for (const QString& command : commands) {
            host.send(command);
            EXPECT_TRUE(host.nextEvent("called"));
            test::spin(pauseMs);
        }
        QList<int> out;
        for (const StatusItemEvent& click : clicks)
            out << click.clickCount;
        test::spin(interval + 50); // the next case starts afresh
        return out;
    };
    EXPECT_EQ(counts({ "activate 10 20", "activate 11 21", "activate 10 20" }, 0), (QList<int> { 1, 2, 1 }));
    EXPECT_EQ(counts({ "activate 10 20", "activate 10 20" }, interval + 50), (QList<int> { 1, 1 })) << "too slow";
    EXPECT_EQ(counts({ "activate 10 20", "activate 60 20" }, 0), (QList<int> { 1, 1 })) << "too far apart";
    EXPECT_EQ(counts({ "activate 10 20", "context 10 20", "activate 10 20" }, 0), (QList<int> { 1, 1, 1 }));
}

TEST_F(StatusNotifierItemTest, AnnouncesEachRealChangeWithItsSignal)
{
    StatusNotifierItem item;
    item.setToolTip(QStringLiteral("Sonaric"));
    ASSERT_TRUE(host.nextEvent("registered"));
    struct Case {
        std::function<void()> change;
        const char* signal;
        const char* field;
        QJsonValue value;
    };
    const QList<Case> cases {
        { [&] { item.setToolTip(QStringLiteral("Sonaric: Spotify muted")); }, "NewToolTip", "ToolTipTitle",
            "Sonaric: Spotify muted" },
        { [&] { item.setAccessibilityDescription(QStringLiteral("Sonaric mixer")); }, "NewTitle", "Title",
            "Sonaric mixer" },
        { [&] { item.setImage(QIcon(), QStringLiteral("audio-volume-high-symbolic")); }, "NewIcon", "IconName",
            "audio-volume-high-symbolic" },
    };
    for (const Case& c : cases) {
        c.change();
        c.change(); // the same value again is no change
        const auto line = host.nextEvent("changed");
        ASSERT_TRUE(line) << c.signal;
        EXPECT_EQ(line->value("signal"), c.signal);
        EXPECT_EQ(line->value(c.field), c.value) << c.signal;
    }
    test::spin(200);
    const auto changed = std::count_if(host.lines().begin(), host.lines().end(),
        [](const QJsonObject& line) { return line.value("event") == "changed"; });
    EXPECT_EQ(changed, cases.size());
}

TEST_F(StatusNotifierItemTest, RegistersAgainWhenTheWatcherComesBack)
{
    StatusNotifierItem item;
    ASSERT_TRUE(host.nextEvent("registered"));
    ASSERT_TRUE(waitUntil([&] { return item.isRegistered(); }));

    host.stop();
    EXPECT_TRUE(waitUntil([&] { return !item.hasButton(); }));
    EXPECT_FALSE(item.isRegistered());

    test::SniHostProcess restarted { QStringLiteral(SONARIC_SNI_HOST) };
    ASSERT_TRUE(restarted.start());
    const auto line = restarted.nextEvent("registered");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->value("service").toString(), item.serviceName());
    EXPECT_TRUE(waitUntil([&] { return item.hasButton() && item.isRegistered(); }));
}

TEST_F(StatusNotifierItemTest, PublishesTheContextMenuForHostsThatDrawIt)
{
    QMenu menu;
    QAction* settings = menu.addAction(QStringLiteral("&Settings…"));
    settings->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    menu.addSeparator();
    QAction* quit = menu.addAction(QStringLiteral("Quit Sonaric"));
    int shown = 0;
    QObject::connect(&menu, &QMenu::aboutToShow, [&] { ++shown; });
    bool quitChosen = false;
    QObject::connect(quit, &QAction::triggered, [&] { quitChosen = true; });

    StatusNotifierItem item;
    listen(item);
    item.setContextMenu(&menu);
    const auto registered = host.nextEvent("registered");
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->value("Menu"), "/MenuBar");

    host.send("menu");
    const auto layout = host.nextEvent("menu");
    ASSERT_TRUE(layout);
    EXPECT_EQ(shown, 1);
    const QJsonArray children = layout->value("layout").toObject().value("children").toArray();
    ASSERT_EQ(children.size(), 3);
    const auto props = [&](int index) { return children[index].toObject().value("properties").toObject(); };
    EXPECT_EQ(props(0).value("label"), "_Settings…");
    EXPECT_EQ(props(0).value("shortcut"), (QJsonArray { QJsonArray { "Control", "comma" } }));
    EXPECT_EQ(props(1).value("type"), "separator");
    EXPECT_EQ(props(2).value("label"), "Quit Sonaric");

    host.send("menu-click Quit Sonaric");
    const auto clicked = host.nextEvent("called", "Event");
    ASSERT_TRUE(clicked);
    EXPECT_TRUE(clicked->value("ok").toBool());
    EXPECT_TRUE(waitUntil([&] { return quitChosen; }));
    EXPECT_TRUE(clicks.isEmpty()) << "a host-drawn menu is no click of the item";

    const int revision = layout->value("revision").toInt();
    menu.insertAction(settings, new QAction(QStringLiteral("Open Mixer"), &menu));
    const auto updated = host.nextEvent("layout-updated");
    ASSERT_TRUE(updated);
    EXPECT_GT(updated->value("revision").toInt(), revision);
}

TEST_F(StatusNotifierItemTest, TheFactoryChoosesTheStatusNotifierItemWhenAWatcherIsThere)
{
    const std::unique_ptr<StatusItem> item = makeLinuxStatusItem();
    EXPECT_EQ(item->protocolName(), "StatusNotifierItem");
    EXPECT_TRUE(item->hasButton());
    EXPECT_TRUE(host.nextEvent("registered"));
}

TEST_F(StatusNotifierItemTest, WithoutAWatcherOrAnXTrayTheFactoryGivesAnItemWithoutAButton)
{
    host.stop();
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    const std::unique_ptr<StatusItem> item = makeLinuxStatusItem();
    EXPECT_EQ(item->protocolName(), "none");
    EXPECT_FALSE(item->hasButton());
    EXPECT_EQ(item->buttonBounds(), std::nullopt);
    item->setImage(filled(Qt::blue), QStringLiteral("audio-volume-high-symbolic"));
    item->setToolTip(QStringLiteral("Sonaric"));
}

} // namespace
} // namespace sonaric
