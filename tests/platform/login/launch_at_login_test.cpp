// The switch's rules on the simulated login item, which can report every status and fail on demand.

#include "platform/login/launch_at_login.h"
#include "platform/login/sim/simulated_login_item_service.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace sonaric;
using Status = LoginItemService::Status;

TEST(LaunchAtLogin, IsOnFollowsTheStatus)
{
    const struct {
        Status status;
        bool on;
    } cases[] = {
        { Status::notRegistered, false },
        { Status::enabled, true },
        { Status::requiresApproval, true },
        { Status::notFound, false },
    };
    for (const auto& c : cases) {
        SimulatedLoginItemService service;
        service.setStatus(c.status);
        LaunchAtLogin launch(service);
        EXPECT_EQ(launch.isOn(), c.on) << int(c.status);
        EXPECT_EQ(launch.requiresApproval(), c.status == Status::requiresApproval);
    }
}

TEST(LaunchAtLogin, SwitchingOnThatNeedsApprovalStaysOnWithoutError)
{
    SimulatedLoginItemService service;
    service.setStatusAfterRegister(Status::requiresApproval);
    LaunchAtLogin launch(service);
    launch.set(true);
    EXPECT_EQ(launch.status(), Status::requiresApproval);
    EXPECT_TRUE(launch.isOn());
    EXPECT_EQ(launch.error(), QString());
}

TEST(LaunchAtLogin, SwitchingOffAsksOnlyWhenThereIsSomethingToRemove)
{
    SimulatedLoginItemService service;
    LaunchAtLogin launch(service);
    launch.set(false);
    EXPECT_EQ(service.calls(), 0);

    for (Status status : { Status::enabled, Status::requiresApproval, Status::notFound }) {
        service.setStatus(status);
        launch.refresh();
        launch.set(false);
        EXPECT_EQ(launch.status(), Status::notRegistered) << int(status);
    }
    EXPECT_EQ(service.calls(), 3);
}

TEST(LaunchAtLogin, AFailureIsKeptUntilTheNextToggle)
{
    SimulatedLoginItemService service;
    LaunchAtLogin launch(service);
    QSignalSpy errors(&launch, &LaunchAtLogin::errorChanged);
    service.failNextCall(QStringLiteral("The desktop refused."));
    launch.set(true);
    EXPECT_FALSE(launch.isOn());
    EXPECT_EQ(launch.error(), QStringLiteral("The desktop refused."));

    launch.refresh();
    EXPECT_EQ(launch.error(), QStringLiteral("The desktop refused.")) << "a re-read keeps it";
    launch.set(true);
    EXPECT_EQ(launch.error(), QString());
    EXPECT_TRUE(launch.isOn());
    EXPECT_EQ(errors.count(), 2);
}

TEST(LaunchAtLogin, ARemovalInTheDesktopSettingsShowsAfterARefresh)
{
    SimulatedLoginItemService service;
    service.setStatus(Status::enabled);
    LaunchAtLogin launch(service);
    QSignalSpy changes(&launch, &LaunchAtLogin::statusChanged);
    service.setStatus(Status::notRegistered);
    EXPECT_TRUE(launch.isOn()) << "nothing polls";
    launch.refresh();
    EXPECT_FALSE(launch.isOn());
    launch.refresh();
    EXPECT_EQ(changes.count(), 1) << "an unchanged status notifies nobody";
}
