// The tray's click rules, driven with synthetic tray events and a clock the test moves.

#include "app/status_bar_controller.h"
#include "platform/tray/sim/simulated_status_item.h"

#include "model/model_fixture.h"
#include "support/event_loop.h"

#include <QMenu>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

/// A popover that only records: shown, closed, and how.
class FakePopover final : public Popover
{
public:
    bool isShown() const override { return shown; }
    void show(const PopoverAnchor& anchor) override
    {
        emit willShow();
        shown = true;
        anchors.push_back(anchor);
    }
    void performClose() override { closeBy(std::nullopt); }
    void close() override { closeBy(std::nullopt); }
    /// The popover lost focus to a click while the pointer was at `point`.
    void closeBy(std::optional<QPoint> point)
    {
        if (!shown)
            return;
        shown = false;
        emit didClose(point);
    }

    bool shown = false;
    std::vector<PopoverAnchor> anchors;
};

const QRect iconBounds(1200, 0, 24, 24);
const QPoint onIcon(1210, 12);
const QPoint elsewhere(400, 500);

class StatusBarControllerTest : public ::testing::Test
{
protected:
    StatusBarControllerTest()
    {
        item.setButtonBounds(iconBounds);
        fixture.start();
        controller = std::make_unique<StatusBarController>(*fixture.model, item, popover, [this] { return now; });
    }

    ModelFixture fixture;
    SimulatedStatusItem item;
    FakePopover popover;
    double now = 100.0;
    std::unique_ptr<StatusBarController> controller;
};

} // namespace

TEST_F(StatusBarControllerTest, ALeftClickTogglesThePopoverUnderTheIcon)
{
    item.leftClick(onIcon);
    ASSERT_TRUE(popover.shown);
    EXPECT_EQ(popover.anchors.back(), (PopoverAnchor { iconBounds, onIcon }));
    item.leftClick(onIcon);
    EXPECT_FALSE(popover.shown) << "a click while it is open (and not closed by the press) closes it";
    EXPECT_EQ(popover.anchors.size(), 1u);
}

TEST_F(StatusBarControllerTest, TheReleaseOfTheClickThatClosedThePopoverDoesNotReopenIt)
{
    struct Case {
        const char* what;
        std::optional<QPoint> pointerWhenClosed;
        double releaseAfter;
        bool reopens;
    };
    const Case cases[] = {
        { "click on the icon: closed by the press, release swallowed", onIcon, 0.2, false },
        { "press held over a second: the release opens it again", onIcon, 1.5, true },
        { "closed by a click elsewhere: the next click opens", elsewhere, 0.2, true },
        { "closed by Escape: the next click opens", std::nullopt, 0.2, true },
    };
    for (const Case& c : cases) {
        item.leftClick(onIcon);
        ASSERT_TRUE(popover.shown) << c.what;
        popover.closeBy(c.pointerWhenClosed);
        now += c.releaseAfter;
        item.leftClick(onIcon);
        EXPECT_EQ(popover.shown, c.reopens) << c.what;
        popover.close();
        // The stamp is used once: whatever happened, the click after this one behaves normally.
        now += 5;
        item.leftClick(onIcon);
        EXPECT_TRUE(popover.shown) << c.what << ": the following click";
        popover.close();
        now += 5;
    }
}

TEST_F(StatusBarControllerTest, WithoutIconBoundsTheLastClickPointStandsForTheIcon)
{
    // A StatusNotifierItem host reports only where each click happened.
    item.setButtonBounds(std::nullopt);
    const QPoint clicked(800, 10);
    item.leftClick(clicked);
    ASSERT_TRUE(popover.shown);
    popover.closeBy(clicked + QPoint(10, 3));
    now += 0.1;
    item.leftClick(clicked);
    EXPECT_FALSE(popover.shown);
    item.leftClick(clicked);
    ASSERT_TRUE(popover.shown);
    popover.closeBy(clicked + QPoint(40, 0));
    now += 0.1;
    item.leftClick(clicked);
    EXPECT_TRUE(popover.shown) << "40 pixels away is not the icon";
}

TEST_F(StatusBarControllerTest, MenuClicksShowTheMenuAndCloseThePopover)
{
    struct Case {
        const char* what;
        StatusItemEvent event;
    };
    const Case cases[] = {
        { "right-click", { StatusItemEvent::Type::rightMouseUp, {}, 1, onIcon } },
        { "control-click", { StatusItemEvent::Type::leftMouseUp, Qt::ControlModifier, 1, onIcon } },
        { "double-click", { StatusItemEvent::Type::leftMouseUp, {}, 2, onIcon } },
    };
    for (const Case& c : cases) {
        item.leftClick(onIcon);
        ASSERT_TRUE(popover.shown);
        const qsizetype menusBefore = item.shownMenus().size();
        item.click(c.event);
        ASSERT_EQ(item.shownMenus().size(), menusBefore + 1) << c.what;
        EXPECT_EQ(item.shownMenus().back().lines(), (QStringList { "Settings…\tCtrl+,", "-", "Quit Sonaric\tCtrl+Q" }))
            << c.what;
        EXPECT_EQ(item.shownMenus().back().location, onIcon) << c.what;
        EXPECT_FALSE(popover.shown) << c.what;
        // The menu is not left attached: the next left click opens the popover.
        now += 0.1;
        item.leftClick(onIcon);
        EXPECT_TRUE(popover.shown) << c.what << ": the click after the menu";
        popover.close();
        now += 5;
    }
}

TEST_F(StatusBarControllerTest, ADoubleClickOpensThenShowsTheMenu)
{
    // First release opens; the second press closes the popover on the icon; the second release has a count of 2.
    item.leftClick(onIcon);
    ASSERT_TRUE(popover.shown);
    popover.closeBy(onIcon);
    now += 0.15;
    item.leftClick(onIcon, {}, 2);
    EXPECT_FALSE(popover.shown);
    ASSERT_EQ(item.shownMenus().size(), 1);
    now += 0.3;
    item.leftClick(onIcon);
    EXPECT_TRUE(popover.shown) << "the double-click cleared the stamp, so the next click is an ordinary one";
}

TEST_F(StatusBarControllerTest, TheMenusActionsQuitAndAskForTheSettings)
{
    QSignalSpy quit(controller.get(), &StatusBarController::quitRequested);
    QSignalSpy settings(controller.get(), &StatusBarController::settingsRequested);
    item.answerNextMenus({ SimulatedStatusItem::MenuAnswer::trigger(QStringLiteral("Quit Sonaric")) });
    item.rightClick(onIcon);
    EXPECT_EQ(quit.count(), 1);

    item.leftClick(onIcon);
    ASSERT_TRUE(popover.shown);
    item.answerNextMenus({ SimulatedStatusItem::MenuAnswer::trigger(QStringLiteral("Settings…")) });
    item.rightClick(onIcon);
    EXPECT_EQ(settings.count(), 0) << "the settings open on the next turn of the event loop";
    ASSERT_TRUE(waitUntil([&] { return settings.count() == 1; }));
    EXPECT_EQ(settings.takeFirst(), (QList<QVariant> { -1, -1 })) << "Settings… keeps the pane and the highlight";

    item.leftClick(onIcon);
    ASSERT_TRUE(popover.shown);
    controller->openConnector(NativeVolumeSource::spotify);
    ASSERT_TRUE(waitUntil([&] { return settings.count() == 1; }));
    EXPECT_FALSE(popover.shown) << "opening the settings closes the popover";
    EXPECT_EQ(
        settings.takeFirst(), (QList<QVariant> { int(SettingsPane::connectors), int(NativeVolumeSource::spotify) }));
}

TEST_F(StatusBarControllerTest, ATrayThatDrawsTheMenuItselfStillClosesThePopover)
{
    QMenu* menu = item.contextMenu();
    ASSERT_NE(menu, nullptr);
    const SimulatedStatusItem::ShownMenu asShown { std::nullopt, SimulatedStatusItem::entriesOf(*menu), {} };
    EXPECT_EQ(asShown.lines(), (QStringList { "Settings…\tCtrl+,", "-", "Quit Sonaric\tCtrl+Q" }));
    item.leftClick(onIcon);
    ASSERT_TRUE(popover.shown);
    emit menu->aboutToShow();
    EXPECT_FALSE(popover.shown);
}

TEST_F(StatusBarControllerTest, TheItemCarriesIconNameAndTooltip)
{
    EXPECT_FALSE(item.image().isNull());
    EXPECT_EQ(item.accessibilityDescription(), "Sonaric");
    EXPECT_EQ(item.toolTip(), "Sonaric — double-click for Settings and Quit");
    controller->setNotice(QStringLiteral("No sound server answered: these applications are simulated."));
    EXPECT_TRUE(item.toolTip().endsWith("these applications are simulated.")) << item.toolTip().toStdString();
}

TEST_F(StatusBarControllerTest, WithoutATrayOnlyASecondStartOpensTheMixer)
{
    SimulatedStatusItem noTray;
    noTray.setHasButton(false);
    FakePopover other;
    StatusBarController bare(*fixture.model, noTray, other, [this] { return now; });
    noTray.leftClick(onIcon);
    EXPECT_FALSE(other.shown);
    bare.showMixerAtPointer();
    ASSERT_TRUE(other.shown);
    EXPECT_EQ(other.anchors.back(), PopoverAnchor {}) << "placed next to the pointer";
}
