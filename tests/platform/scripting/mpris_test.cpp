// Media players over MPRIS, on a private session bus (with_session_bus.sh): a real mpv with its MPRIS plugin, and
// stand-in players of the test that own Spotify's bus name and behave as real ones do (obey, ignore volume
// writes, have no volume, quit in the middle). Driven through the app connector as the program drives them.

#include "native/app_volume.h"
#include "platform/scene/scene.h"
#include "platform/scripting/linux/linux_scripting.h"
#include "platform/workspace/linux_application_ids.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include "support/event_loop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace sonaric;
using namespace sonaric::test;
using namespace std::chrono_literals;

namespace
{

const QString kTryAgain = QStringLiteral("Click Try Again.");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");

/// A player of the test's own on its own bus connection and thread (the bus delivers its calls there, and the
/// test's main thread only waits): Properties.Get and Set of the player's Volume and of the root's DesktopEntry,
/// behaving as told.
class StandInPlayer
{
public:
    enum class Behaviour {
        obeys,
        ignoresVolume, ///< accepts a write and keeps reporting 1.0
        hasNoVolume, ///< the Player interface has no Volume at all
        quitsOnSet, ///< takes the write, leaves the bus and only then answers, so nothing can read it back
    };

    StandInPlayer(QString busName, QString desktopEntry, Behaviour behaviour, double volume)
        : m_connectionName(QStringLiteral("standin.%1").arg(++s_count))
        , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
        , m_object(new Object(std::move(busName), std::move(desktopEntry), behaviour, volume))
    {
        m_thread.start();
        m_object->moveToThread(&m_thread);
    }

    ~StandInPlayer()
    {
        m_connection.unregisterService(m_object->busName);
        m_connection.unregisterObject(kMprisPath);
        QMetaObject::invokeMethod(
            m_object, [object = m_object] { delete object; }, Qt::BlockingQueuedConnection);
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_thread.quit();
        m_thread.wait();
    }

    bool start()
    {
        return m_connection.registerVirtualObject(kMprisPath, m_object, QDBusConnection::SingleNode)
            && m_connection.registerService(m_object->busName);
    }

    double volume() const { return m_object->volume.load(); }
    int writes() const { return m_object->writes.load(); }

private:
    struct Object final : QDBusVirtualObject {
        Object(QString busName, QString desktopEntry, Behaviour behaviour, double volume)
            : busName(std::move(busName))
            , desktopEntry(std::move(desktopEntry))
            , behaviour(behaviour)
            , volume(volume)
        {
        }

        QString introspect(const QString&) const override { return {}; }

        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
        {
            if (message.interface() != QStringLiteral("org.freedesktop.DBus.Properties"))
                return false;
            const QVariantList args = message.arguments();
            const QString interface = args.value(0).toString();
            const QString property = args.value(1).toString();
            const bool isVolume = interface == QStringLiteral("org.mpris.MediaPlayer2.Player")
                && property == QStringLiteral("Volume") && behaviour != Behaviour::hasNoVolume;
            const QDBusMessage unknown = message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), QStringLiteral("No such property"));
            if (message.member() == QStringLiteral("Get")) {
                QVariant value;
                if (isVolume)
                    value = volume.load();
                else if (interface == QStringLiteral("org.mpris.MediaPlayer2")
                    && property == QStringLiteral("DesktopEntry"))
                    value = desktopEntry;
                return connection.send(
                    value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value))) : unknown);
            }
            if (message.member() == QStringLiteral("Set")) {
                if (!isVolume)
                    return connection.send(unknown);
                ++writes;
                if (behaviour == Behaviour::obeys || behaviour == Behaviour::quitsOnSet)
                    volume = args.value(2).value<QDBusVariant>().variant().toDouble();
                // Releasing the name is a blocking call to the bus, so it is gone before the answer is sent.
                if (behaviour == Behaviour::quitsOnSet)
                    QDBusConnection(connection).unregisterService(busName);
                return connection.send(message.createReply());
            }
            return false;
        }

        const QString busName;
        const QString desktopEntry;
        const Behaviour behaviour;
        std::atomic<double> volume;
        std::atomic<int> writes { 0 };
    };

    static inline std::atomic<int> s_count { 0 };
    QString m_connectionName;
    QDBusConnection m_connection;
    Object* m_object;
    QThread m_thread;
};

/// mpv, idle, with its MPRIS plugin, and its own IPC socket to ask it what its volume really is.
class Mpv
{
public:
    static QString plugin()
    {
        for (const char* path : { "/usr/lib/mpv-mpris/mpris.so", "/etc/mpv/scripts/mpris.so" }) {
            if (QFile::exists(QString::fromLatin1(path)))
                return QString::fromLatin1(path);
        }
        return {};
    }

    bool start(int startVolume, QString* error)
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("mpv"));
        if (program.isEmpty() || plugin().isEmpty()) {
            *error = QStringLiteral("mpv with its MPRIS plugin is not installed (Debian: mpv, mpv-mpris)");
            return false;
        }
        m_process.setProgram(program);
        m_process.setArguments({ QStringLiteral("--no-config"), QStringLiteral("--idle=yes"),
            QStringLiteral("--no-video"), QStringLiteral("--ao=null"), QStringLiteral("--no-terminal"),
            QStringLiteral("--volume=%1").arg(startVolume), QStringLiteral("--script=") + plugin(),
            QStringLiteral("--input-ipc-server=") + ipcPath() });
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            *error = QStringLiteral("mpv did not start");
            return false;
        }
        // The MPRIS plugin runs on a thread of its own and may be on the bus before the IPC socket listens.
        const bool ready = waitUntil(
            [this] {
                return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                           QStringLiteral("org.mpris.MediaPlayer2.mpv"))
                    && volume().has_value();
            },
            10000);
        if (!ready)
            *error = QStringLiteral("mpv did not appear on the bus or on its IPC socket");
        return ready;
    }

    void quit()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    ~Mpv() { quit(); }

    /// mpv's own "volume" property, in percent, through its IPC socket.
    std::optional<double> volume()
    {
        QLocalSocket socket;
        socket.connectToServer(ipcPath());
        if (!socket.waitForConnected(2000))
            return std::nullopt;
        socket.write(R"({"command":["get_property","volume"]})"
                     "\n");
        socket.waitForBytesWritten(2000);
        QByteArray line;
        while (!line.contains('\n') && socket.waitForReadyRead(2000))
            line += socket.readAll();
        const QJsonObject reply = QJsonDocument::fromJson(line.left(line.indexOf('\n'))).object();
        if (reply.value(QStringLiteral("error")).toString() != QStringLiteral("success"))
            return std::nullopt;
        return reply.value(QStringLiteral("data")).toDouble();
    }

private:
    QString ipcPath() const { return m_dir.filePath(QStringLiteral("mpv.socket")); }
    QTemporaryDir m_dir;
    QProcess m_process;
};

NativeVolumeResult await(NativeVolumeControlling& controller,
    const std::function<void(NativeVolumeControlling&, NativeVolumeControlling::Completion)>& start)
{
    // The stand-ins answer on threads of their own; the main thread only waits.
    auto promise = std::make_shared<std::promise<NativeVolumeResult>>();
    auto future = promise->get_future();
    start(controller, [promise](const NativeVolumeResult& result) { promise->set_value(result); });
    return future.get();
}

std::optional<NativeVolumeState> stateOf(const NativeVolumeResult& result)
{
    return result.isSuccess() ? result.connection().state : std::nullopt;
}

std::optional<NativeVolumeError> errorOf(const NativeVolumeResult& result)
{
    return result.isFailure() ? std::optional(result.error()) : std::nullopt;
}

class MprisVolumeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected()) {
            if (qEnvironmentVariableIsSet("CI"))
                FAIL() << "no session bus; run under with_session_bus.sh";
            GTEST_SKIP() << "no session bus; run under with_session_bus.sh";
        }
    }

    /// The Linux service with the built-in table, or with `table` (to drive mpv as Spotify).
    std::unique_ptr<LinuxScripting> scripting(const LinuxApplicationIds* table = nullptr)
    {
        LinuxScripting::Options options;
        options.applications = table;
        options.socketPath = m_runtime.filePath(QStringLiteral("browsers.socket"));
        options.extensionFolder = m_runtime.filePath(QStringLiteral("extension"));
        options.mpris.settle = 300ms;
        return std::make_unique<LinuxScripting>(m_workspace, options);
    }

    NativeVolumeResult connect(AppVolume& controller)
    {
        return await(controller, [](auto& c, auto done) { c.connect({}, std::move(done)); });
    }

    NativeVolumeResult set(AppVolume& controller, float volume, bool muted)
    {
        return await(controller, [=](auto& c, auto done) {
            c.set(NativeVolumeChanges { { QString(), { volume, muted } } }, {}, {}, std::move(done));
        });
    }

    QTemporaryDir m_runtime;
    SimulatedWorkspace m_workspace { Scene {} };
};

TEST_F(MprisVolumeTest, RealPlayerIsReadAndSetThroughItsVolume)
{
    Mpv mpv;
    QString error;
    if (!mpv.start(64, &error)) {
        if (qEnvironmentVariableIsSet("CI"))
            FAIL() << error.toStdString();
        GTEST_SKIP() << error.toStdString();
    }
    // mpv stands in for Spotify: the same rows, with mpv's bus name.
    std::vector<LinuxApplication> rows = LinuxApplicationIds::builtIn().applications();
    for (LinuxApplication& row : rows) {
        if (row.bundleID == QStringLiteral("com.spotify.client"))
            row.mprisNames = { QStringLiteral("mpv") };
    }
    const LinuxApplicationIds table(rows);
    auto service = scripting(&table);
    AppVolume spotify(NativeVolumeSource::spotify, *service);

    EXPECT_EQ(stateOf(connect(spotify)), (NativeVolumeState { 0.64f, false }));
    const std::pair<float, double> levels[] = { { 0.37f, 37.0 }, { 0.0f, 0.0 }, { 1.0f, 100.0 }, { 0.05f, 5.0 } };
    for (const auto& [level, percent] : levels) {
        EXPECT_EQ(stateOf(set(spotify, level, false)), (NativeVolumeState { level, false })) << level;
        EXPECT_EQ(mpv.volume(), percent) << level;
    }
    // Spotify's mute is volume 0 while the level to come back to is remembered.
    EXPECT_EQ(stateOf(set(spotify, 0.42f, true)), (NativeVolumeState { 0.42f, true }));
    EXPECT_EQ(mpv.volume(), 0.0);

    mpv.quit();
    EXPECT_TRUE(waitUntil([] {
        return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.mpris.MediaPlayer2.mpv"));
    }));
    const auto gone = errorOf(connect(spotify));
    ASSERT_TRUE(gone);
    EXPECT_EQ(*gone, NativeVolumeError("Spotify isn't open.", { "Open the Spotify desktop app.", kTryAgain }));
}

TEST_F(MprisVolumeTest, StandInOwningSpotifysNameIsDriven)
{
    StandInPlayer player(
        QStringLiteral("org.mpris.MediaPlayer2.spotify"), "spotify", StandInPlayer::Behaviour::obeys, 0.5);
    ASSERT_TRUE(player.start());
    auto service = scripting();
    AppVolume spotify(NativeVolumeSource::spotify, *service);
    EXPECT_EQ(stateOf(connect(spotify)), (NativeVolumeState { 0.5f, false }));
    EXPECT_EQ(stateOf(set(spotify, 0.3f, false)), (NativeVolumeState { 0.3f, false }));
    EXPECT_DOUBLE_EQ(player.volume(), 0.3);
}

TEST_F(MprisVolumeTest, PlayerFoundByItsDesktopEntryWhenItsBusNameIsAnother)
{
    StandInPlayer player(QStringLiteral("org.mpris.MediaPlayer2.chromium.instance4242"), "chromium",
        StandInPlayer::Behaviour::obeys, 1.0);
    StandInPlayer flatpak(
        QStringLiteral("org.mpris.MediaPlayer2.client"), "com.spotify.Client", StandInPlayer::Behaviour::obeys, 0.25);
    ASSERT_TRUE(player.start() && flatpak.start());
    auto service = scripting();
    AppVolume spotify(NativeVolumeSource::spotify, *service);
    EXPECT_EQ(stateOf(connect(spotify)), (NativeVolumeState { 0.25f, false }));
    set(spotify, 0.75f, false);
    EXPECT_DOUBLE_EQ(flatpak.volume(), 0.75);
    EXPECT_DOUBLE_EQ(player.volume(), 1.0);
}

TEST_F(MprisVolumeTest, PlayersThatDoNotTakeTheVolumeSaySo)
{
    const QStringList steps { "Use Spotify's own volume control, or disconnect Spotify in Settings > Connectors so "
                              "that Sonaric's slider controls its sound again.",
        kTryAgain };
    const NativeVolumeError refused("Spotify does not let other programs set its volume.", steps);
    struct Case {
        StandInPlayer::Behaviour behaviour;
        bool connects; ///< reading works
    };
    for (const Case& c : { Case { StandInPlayer::Behaviour::ignoresVolume, true },
             Case { StandInPlayer::Behaviour::hasNoVolume, false } }) {
        StandInPlayer player(QStringLiteral("org.mpris.MediaPlayer2.spotify"), "spotify", c.behaviour, 1.0);
        ASSERT_TRUE(player.start());
        auto service = scripting();
        AppVolume spotify(NativeVolumeSource::spotify, *service);
        const NativeVolumeResult connected = connect(spotify);
        if (c.connects) {
            EXPECT_EQ(stateOf(connected), (NativeVolumeState { 1.0f, false }));
            // Writing the level it already has proves nothing either way, so it passes.
            EXPECT_EQ(stateOf(set(spotify, 1.0f, false)), (NativeVolumeState { 1.0f, false }));
        } else {
            EXPECT_EQ(errorOf(connected), refused);
        }
        EXPECT_EQ(errorOf(set(spotify, 0.3f, false)), refused);
        EXPECT_DOUBLE_EQ(player.volume(), 1.0);
    }
}

TEST_F(MprisVolumeTest, PlayerQuittingMidOperationIsNotOpen)
{
    StandInPlayer player(
        QStringLiteral("org.mpris.MediaPlayer2.spotify"), "spotify", StandInPlayer::Behaviour::quitsOnSet, 0.8);
    ASSERT_TRUE(player.start());
    auto service = scripting();
    AppVolume spotify(NativeVolumeSource::spotify, *service);
    EXPECT_EQ(stateOf(connect(spotify)), (NativeVolumeState { 0.8f, false }));
    EXPECT_EQ(errorOf(set(spotify, 0.2f, false)),
        NativeVolumeError("Spotify isn't open.", { "Open the Spotify desktop app.", kTryAgain }));
    EXPECT_EQ(player.writes(), 1);
}

TEST_F(MprisVolumeTest, ScriptsItDoesNotKnowAreRefused)
{
    StandInPlayer player(
        QStringLiteral("org.mpris.MediaPlayer2.spotify"), "spotify", StandInPlayer::Behaviour::obeys, 0.5);
    ASSERT_TRUE(player.start());
    auto service = scripting();
    const QString good = AppVolume::appleScript(NativeVolumeSource::spotify, 40, std::nullopt);
    const QString texts[] = {
        QString(good).replace("to 40", "to 40\n        do shell script \"rm -rf ~\""),
        QString(good).replace("to 40", "to (40 + 1)"),
        "return 1",
    };
    for (const QString& text : texts) {
        const AppleScriptExecution execution = service->executeAppleScript(text, "com.spotify.client");
        ASSERT_TRUE(execution.errorInfo);
        EXPECT_EQ(execution.errorInfo->value(NSAppleScriptErrorMessage), "Sonaric can't run this script on Linux.");
        EXPECT_EQ(execution.errorInfo->value(NSLocalizedRecoverySuggestionErrorKey), QStringList {});
    }
    // The same script aimed at another application than its own target is not run either.
    EXPECT_TRUE(service->executeAppleScript(good, "com.apple.Music").errorInfo);
    EXPECT_EQ(player.writes(), 0);
    // Music and TV have no Linux build: they are never open.
    AppVolume music(NativeVolumeSource::appleMusic, *service);
    EXPECT_EQ(errorOf(connect(music)), NativeVolumeError("Music isn't open.", { "Open the Music app.", kTryAgain }));
}

} // namespace
