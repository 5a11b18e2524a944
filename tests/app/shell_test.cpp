// The application shell's small parts: where the popover goes, one instance per session, and termination
// signals reaching the event loop.

#include "app/popover.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"

#include "support/event_loop.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace sonaric;
using sonaric::test::waitUntil;

namespace
{

const QRect screen(0, 0, 1920, 1080);
const QSize popover(320, 400);

struct PlacementCase {
    const char* what;
    PopoverAnchor anchor;
    QPoint pointer;
    QSize size;
    QPoint expected;
};

} // namespace

TEST(PopoverPlacement, UnderOrAboveTheIconAndAlwaysOnTheScreen)
{
    const PlacementCase cases[] = {
        { "top panel: centred under the icon", { QRect(1000, 0, 24, 24), {} }, {}, popover, { 852, 28 } },
        { "bottom panel: above the icon", { QRect(1000, 1056, 24, 24), {} }, {}, popover, { 852, 1056 - 4 - 400 } },
        { "icon at the right edge: kept inside", { QRect(1900, 0, 20, 24), {} }, {}, popover, { 1600, 28 } },
        { "icon at the left edge: kept inside", { QRect(0, 0, 24, 24), {} }, {}, popover, { 0, 28 } },
        { "only the click's point", { {}, QPoint(500, 10) }, {}, popover, { 340, 15 } },
        { "the icon wins over the click", { QRect(1000, 0, 24, 24), QPoint(5, 5) }, {}, popover, { 852, 28 } },
        { "no place at all: at the pointer", {}, QPoint(700, 900), popover, { 540, 900 - 4 - 400 } },
        { "taller than the screen: top edge kept", { QRect(1000, 0, 24, 24), {} }, {}, QSize(320, 2000), { 852, 0 } },
        { "an empty icon rectangle counts as none", { QRect(), QPoint(100, 1070) }, {}, popover,
            { 0, 1070 - 4 - 400 } },
    };
    for (const PlacementCase& c : cases)
        EXPECT_EQ(popoverPosition(c.size, c.anchor, screen, c.pointer), c.expected) << c.what;
}

TEST(PopoverPlacement, RespectsAPanelThatTakesPartOfTheScreen)
{
    const QRect available(0, 32, 1920, 1048); // a 32-pixel panel at the top
    EXPECT_EQ(popoverPosition(popover, { QRect(1000, 4, 24, 24), {} }, available, {}), QPoint(852, 32));
    const QRect besideADock(64, 0, 1856, 1080); // a dock on the left
    EXPECT_EQ(popoverPosition(popover, { {}, QPoint(10, 500) }, besideADock, {}).x(), 64);
}

class SingleInstanceTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
};

TEST_F(SingleInstanceTest, TheFirstIsPrimaryAndALaterOneAsksItToShowTheMixer)
{
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Claim::primary) << first.error().toStdString();
    int requests = 0;
    QObject::connect(&first, &SingleInstance::showMixerRequested, [&] { ++requests; });

    SingleInstance second(dir.path());
    ASSERT_EQ(second.claim(), SingleInstance::Claim::secondary);
    // The later start blocks while it asks; the first answers from its event loop.
    bool answered = false;
    std::thread asker([&] { answered = second.askPrimaryToShowMixer(5000); });
    EXPECT_TRUE(waitUntil([&] { return requests == 1; }));
    asker.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(requests, 1);
}

TEST_F(SingleInstanceTest, TheLockGoesWithItsHolderAndALeftoverSocketIsReplaced)
{
    {
        SingleInstance first(dir.path());
        ASSERT_EQ(first.claim(), SingleInstance::Claim::primary);
    }
    // A crashed instance leaves its socket file behind; the next one must still listen.
    QFile leftover(QDir(dir.path()).filePath(QStringLiteral("sonaric.socket")));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    SingleInstance next(dir.path());
    EXPECT_EQ(next.claim(), SingleInstance::Claim::primary) << next.error().toStdString();
    QLocalSocket probe;
    probe.connectToServer(next.socketPath());
    EXPECT_TRUE(probe.waitForConnected(2000));
}

TEST_F(SingleInstanceTest, AStrangerOnTheSocketIsDroppedWithoutEffect)
{
    SingleInstance first(dir.path());
    ASSERT_EQ(first.claim(), SingleInstance::Claim::primary);
    int requests = 0;
    QObject::connect(&first, &SingleInstance::showMixerRequested, [&] { ++requests; });
    for (const QByteArray& junk : { QByteArray("show-mixer-now\n"), QByteArray(200, 'x'), QByteArray("\n") }) {
        QLocalSocket socket;
        socket.connectToServer(first.socketPath());
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(junk);
        socket.flush();
        EXPECT_TRUE(waitUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 3000))
            << junk.left(20).toStdString();
    }
    EXPECT_EQ(requests, 0);
    const QFileInfo socketFile(first.socketPath());
    EXPECT_EQ(socketFile.permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
        QFile::Permissions())
        << "only the user may talk to the instance";
}

TEST_F(SingleInstanceTest, AnUnusableRuntimeFolderFailsWithAReason)
{
    SingleInstance nowhere(dir.filePath(QStringLiteral("missing/folder")));
    EXPECT_EQ(nowhere.claim(), SingleInstance::Claim::failed);
    EXPECT_TRUE(nowhere.error().contains(QStringLiteral("missing/folder"))) << nowhere.error().toStdString();
}

TEST(TerminationSignals, ReachTheEventLoopAsSignals)
{
    TerminationSignals termination;
    std::vector<int> received;
    QObject::connect(&termination, &TerminationSignals::received, [&](int number) { received.push_back(number); });
    for (int number : { SIGTERM, SIGHUP, SIGINT })
        ::raise(number);
    EXPECT_TRUE(waitUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (std::vector<int> { SIGTERM, SIGHUP, SIGINT }));
}
