// The settings window with the tray controller: every way in, what closing does, and that the one window is
// reused where the user left it. The window is real (offscreen), loaded from the views' module.

#include "app/settings/settings_window.h"
#include "app/status_bar_controller.h"
#include "platform/login/launch_at_login.h"
#include "platform/login/sim/simulated_login_item_service.h"
#include "platform/tray/sim/simulated_status_item.h"
#include "ui/settings_navigation.h"
#include "ui/ui.h"

#include "model/model_fixture.h"
#include "support/event_loop.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Sonaric_UiPlugin)

using namespace sonaric;
using namespace sonaric::test;

namespace
{

class RecordingPopover final : public Popover
{
public:
    bool isShown() const override { return shown; }
    void show(const PopoverAnchor&) override
    {
        emit willShow();
        shown = true;
    }
    void performClose() override { close(); }
    void close() override
    {
        if (!shown)
            return;
        shown = false;
        emit didClose(std::nullopt);
    }
    bool shown = false;
};

constexpr int general = int(SettingsPane::general);
constexpr int connectors = int(SettingsPane::connectors);

class SettingsWindowTest : public ::testing::Test
{
protected:
    SettingsWindowTest()
    {
        fixture.start();
        registerUi(engine, fixture.workspace);
        controller = std::make_unique<StatusBarController>(*fixture.model, item, popover);
        window = std::make_unique<SettingsWindow>(
            engine, navigation, *fixture.model, fixture.workspace, launchAtLogin, nullptr);
        QObject::connect(controller.get(), &StatusBarController::settingsRequested, window.get(),
            [this](int pane, int highlighted) { window->show(pane, highlighted); });
    }

    /// Lets the controller's deferred opening run.
    void settle() { spin(20); }
    QPoint centred() const
    {
        QRect frame(QPoint(), window->window()->size());
        frame.moveCenter(window->window()->screen()->availableGeometry().center());
        return frame.topLeft();
    }

    ModelFixture fixture;
    QQmlEngine engine;
    SimulatedStatusItem item;
    RecordingPopover popover;
    SimulatedLoginItemService loginItem;
    LaunchAtLogin launchAtLogin { loginItem };
    SettingsNavigation navigation;
    std::unique_ptr<StatusBarController> controller;
    std::unique_ptr<SettingsWindow> window;
};

} // namespace

TEST_F(SettingsWindowTest, EveryWayInShowsTheRightPaneAndConnector)
{
    const int spotify = int(NativeVolumeSource(NativeVolumeSource::spotify).value());
    // Each step: what the user does, then the pane and the highlighted connector the window shows.
    const struct {
        const char* what;
        std::function<void()> act;
        int pane;
        int highlighted;
    } steps[] = {
        { "Settings… at first", [&] { controller->openSettings(); }, general, -1 },
        { "a connector action in the mixer",
            [&] { controller->openConnector(NativeVolumeSource(NativeVolumeSource::spotify)); }, connectors, spotify },
        { "closing clears the highlight, not the pane", [&] { window->close(); }, connectors, -1 },
        { "Settings… again keeps the pane", [&] { controller->openSettings(); }, connectors, -1 },
        { "the sidebar's General", [&] { navigation.setPane(general); }, general, -1 },
        { "a connector while the window is open",
            [&] { controller->openConnector(NativeVolumeSource(NativeVolumeSource::spotify)); }, connectors, spotify },
        { "Settings… keeps the highlight while open", [&] { controller->openSettings(); }, connectors, spotify },
    };
    for (const auto& step : steps) {
        step.act();
        settle();
        EXPECT_EQ(navigation.pane(), step.pane) << step.what;
        EXPECT_EQ(navigation.highlighted(), step.highlighted) << step.what;
    }
    EXPECT_EQ(window->windowsMade(), 1);
    EXPECT_EQ(window->loadError(), QString());
}

TEST_F(SettingsWindowTest, TheWindowIsMadeOnceCentredOnceAndThenLeftWhereItIs)
{
    popover.show({});
    controller->openSettings();
    EXPECT_EQ(window->window(), nullptr) << "the opening waits for the next turn of the event loop";
    settle();
    ASSERT_NE(window->window(), nullptr);
    EXPECT_FALSE(popover.shown) << "opening the settings closes the mixer";
    QQuickWindow* first = window->window();
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->title(), QStringLiteral("Sonaric Settings"));
    EXPECT_EQ(first->minimumWidth(), 760);
    EXPECT_EQ(first->maximumWidth(), 760);
    EXPECT_EQ(first->minimumHeight(), 468);
    EXPECT_EQ(first->position(), centred());

    first->setPosition(first->position() + QPoint(37, 23));
    const QPoint moved = first->position();
    controller->openSettings();
    settle();
    EXPECT_EQ(window->window(), first);
    EXPECT_EQ(first->position(), moved) << "a second Settings… brings it forward without moving it";

    window->close();
    EXPECT_FALSE(first->isVisible());
    controller->openSettings();
    settle();
    EXPECT_EQ(window->window(), first) << "the same window, kept while closed";
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(window->windowsMade(), 1);
}

TEST_F(SettingsWindowTest, OpeningReadsTheLoginItemAgain)
{
    EXPECT_FALSE(launchAtLogin.isOn());
    loginItem.setStatus(LoginItemService::Status::enabled);
    controller->openSettings();
    settle();
    EXPECT_TRUE(launchAtLogin.isOn());

    // Changed in the desktop's settings while the window stays open: read when it comes to the front again.
    loginItem.setStatus(LoginItemService::Status::notRegistered);
    controller->openSettings();
    settle();
    EXPECT_FALSE(launchAtLogin.isOn());
}

TEST_F(SettingsWindowTest, TheWindowAnswersItsShortcuts)
{
    controller->openSettings();
    settle();
    QQuickWindow* w = window->window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    QSignalSpy quits(window.get(), &SettingsWindow::quitRequested);

    QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits.count(), 1);

    navigation.setHighlighted(int(NativeVolumeSource(NativeVolumeSource::spotify).value()));
    QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(navigation.highlighted(), -1);
}
