// The PulseAudio backend against a real server (PulseAudio or PipeWire, started by with_sound_server.sh):
// objects and properties, listeners, the errors of the tap interface, and recovery after a crash.

#include "audio/ca.h"
#include "audio/process_discovery.h"
#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"
#include "platform/serial_queue.h"
#include "platform/workspace/linux/linux_workspace.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>

using namespace sonaric;
using namespace sonaric::test;
using namespace std::chrono_literals;

namespace
{

class PulseAudioHardwareTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveServer())
            GTEST_SKIP() << "needs a sound server: run through with_sound_server.sh";
        journal = qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/journal.json");
        hw = connectHardware();
        ASSERT_TRUE(hw);
    }

    std::unique_ptr<PulseAudioHardware> connectHardware() { return connectTestHardware(journal); }
    AudioObjectID waitForProcess(pid_t pid) { return waitForProcessObject(*hw, pid); }

    QString journal;
    std::unique_ptr<PulseAudioHardware> hw;
};

QVariantMap aggregateDescription(const QString& output, const QString& tap)
{
    return { { kAudioAggregateDeviceNameKey, "test" }, { kAudioAggregateDeviceUIDKey, "test.aggregate" },
        { kAudioAggregateDeviceMainSubDeviceKey, output }, { kAudioAggregateDeviceIsPrivateKey, true },
        { kAudioAggregateDeviceIsStackedKey, false }, { kAudioAggregateDeviceTapAutoStartKey, true },
        { kAudioAggregateDeviceSubDeviceListKey, QVariantList { QVariantMap { { kAudioSubDeviceUIDKey, output } } } },
        { kAudioAggregateDeviceTapListKey,
            QVariantList {
                QVariantMap { { kAudioSubTapUIDKey, tap }, { kAudioSubTapDriftCompensationKey, true } } } } };
}

} // namespace

TEST_F(PulseAudioHardwareTest, SinksAreTheOutputDevicesAndTheDefaultSinkIsTheDefaultDevice)
{
    const auto devices = CA::outputDevices(*hw);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "speakers");
    EXPECT_EQ(devices[0].name, "Speakers");
    EXPECT_EQ(devices[1].id, "headphones");
    EXPECT_EQ(devices[1].name, "Headphones");
    EXPECT_EQ(CA::defaultOutputDevice(*hw), devices[0].objectID);
    EXPECT_EQ(
        CA::uint32(*hw, devices[0].objectID, kAudioDevicePropertyTransportType), kAudioDeviceTransportTypeVirtual);

    double rate = 0;
    std::uint32_t size = sizeof rate;
    ASSERT_EQ(
        hw->getPropertyData(devices[0].objectID, globalAddress(kAudioDevicePropertyNominalSampleRate), &size, &rate),
        noErr);
    EXPECT_GE(rate, 8000.0);
    EXPECT_EQ(size, sizeof(double));
    EXPECT_EQ(CA::uint32(*hw, devices[0].objectID, kAudioDevicePropertyDeviceCanBeDefaultDevice,
                  kAudioObjectPropertyScopeInput),
        0u);
}

TEST_F(PulseAudioHardwareTest, ListenersFireOnTheirQueueWhenDevicesProcessesAndTheDefaultChange)
{
    SerialQueue queue("listeners");
    std::atomic<int> devices { 0 }, processes { 0 }, defaults { 0 };
    std::atomic<bool> onQueue { true };
    const auto count = [&](std::atomic<int>& counter) {
        return [&](std::uint32_t n, const AudioObjectPropertyAddress*) {
            onQueue = onQueue && queue.isCurrent() && n == 1;
            ++counter;
        };
    };
    hw->addPropertyListenerBlock(
        kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), queue, count(devices));
    hw->addPropertyListenerBlock(
        kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyProcessObjectList), queue, count(processes));
    hw->addPropertyListenerBlock(
        kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice), queue, count(defaults));

    const QString module = pactl({ "load-module", "module-null-sink", "sink_name=extra" });
    EXPECT_TRUE(waitFor([&] { return devices > 0; }, 3s));
    EXPECT_TRUE(waitFor([&] { return CA::device(*hw, "extra").has_value(); }, 3s));
    const int devicesBefore = devices;
    pactl({ "unload-module", module });
    EXPECT_TRUE(waitFor([&] { return devices > devicesBefore && !CA::device(*hw, "extra"); }, 3s));

    pactl({ "set-default-sink", "headphones" });
    EXPECT_TRUE(waitFor([&] { return defaults > 0; }, 3s));
    EXPECT_EQ(CA::defaultOutputDevice(*hw), CA::device(*hw, "headphones").value_or(0));
    pactl({ "set-default-sink", "speakers" });

    int processesBefore = 0;
    {
        ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Player", "--amplitude", "0.1" });
        EXPECT_TRUE(waitFor([&] { return processes > 0; }, 5s));
        const AudioObjectID process = waitForProcess(player.pid());
        ASSERT_NE(process, 0u);
        EXPECT_EQ(CA::string(*hw, process, kAudioProcessPropertyBundleID), "org.example.Player");
        EXPECT_TRUE(waitFor([&] { return CA::uint32(*hw, process, kAudioProcessPropertyIsRunningOutput) == 1u; }, 3s));
        EXPECT_EQ(CA::uint32(*hw, process, kAudioObjectPropertyClass), kAudioProcessClassID);
        // Counted before the player goes: its end can be heard before this block is left.
        processesBefore = processes;
    }
    EXPECT_TRUE(waitFor([&] { return processes > processesBefore; }, 3s));
    EXPECT_TRUE(onQueue);
    // The hardware delivers to the queue and the counters above until it goes; then what it queued runs.
    hw.reset();
    queue.sync([] {});
}

TEST_F(PulseAudioHardwareTest, OneProcessObjectPerProcessWhateverItsStreams)
{
    ChildProcess player(testPlayerPath(), { "--amplitude", "0.1", "--second-stream-after", "200" });
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()).size() == 2; }, 5s));
    const auto mine = [&] {
        const auto all = CA::array(*hw, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
        return std::count_if(all.begin(), all.end(), [&](AudioObjectID id) {
            return CA::uint32(*hw, id, kAudioProcessPropertyPID) == std::uint32_t(player.pid());
        });
    };
    // The hardware hears of the streams a moment after the server lists them.
    ASSERT_TRUE(waitFor([&] { return mine() >= 1; }, 5s));
    EXPECT_FALSE(waitFor([&] { return mine() > 1; }, 500ms)) << "the second stream is no second object";
    EXPECT_EQ(mine(), 1);
}

TEST_F(PulseAudioHardwareTest, DiscoveryListsOneRowPerApplicationWithItsStreamsFoldedIn)
{
    ChildProcess player(testPlayerPath(),
        { "--app-id", "org.example.Player", "--name", "Example Player", "--amplitude", "0.1", "--second-stream-after",
            "100" });
    ChildProcess other(testPlayerPath(), { "--app-id", "org.example.Other", "--amplitude", "0.1" });
    ASSERT_TRUE(waitFor(
        [&] { return sinksOfProcess(player.pid()).size() == 2 && !sinksOfProcess(other.pid()).isEmpty(); }, 5s));
    LinuxWorkspace workspace(DesktopEntries::load({}, {}));
    std::vector<AudioApp> apps;
    ASSERT_TRUE(waitFor(
        [&] {
            apps = ProcessDiscovery::apps(*hw, workspace);
            return apps.size() == 2 && apps[0].isPlaying && apps[1].isPlaying;
        },
        3s));
    // Without a desktop entry the application id groups the application and its streams' name names it.
    EXPECT_EQ(apps[0].id, "org.example.Player");
    EXPECT_EQ(apps[0].name, "Example Player");
    EXPECT_EQ(apps[0].pid, player.pid());
    EXPECT_EQ(apps[0].processObjects.size(), 1u);
    EXPECT_EQ(apps[1].id, "org.example.Other");
    EXPECT_EQ(apps[1].name, "Test Player");
    EXPECT_EQ(apps[1].pid, other.pid());
}

TEST_F(PulseAudioHardwareTest, AProcessWhoseStreamsNameNoApplicationIsNamedByTheCreatorsLookupAskedOnce)
{
    ChildProcess unnamed(testPlayerPath(), { "--amplitude", "0.1" });
    ChildProcess named(testPlayerPath(), { "--app-id", "org.example.Named", "--amplitude", "0.1" });
    std::mutex askedMutex;
    std::vector<pid_t> asked;
    PulseAudioHardware::Options options;
    options.journalPath = journal;
    options.watchdogPath = QStringLiteral("none");
    options.recoverAtStart = false;
    options.bundleIdentifierForProcess = [&](pid_t pid) {
        std::lock_guard lock(askedMutex);
        asked.push_back(pid);
        return QStringLiteral("org.example.FromLookup.%1").arg(pid);
    };
    QString error;
    auto withLookup = PulseAudioHardware::connect(options, &error);
    ASSERT_TRUE(withLookup) << qPrintable(error);
    const auto processOn = [&](AudioHardware& hardware, pid_t pid) {
        AudioObjectID found = 0;
        waitFor(
            [&] {
                for (AudioObjectID id :
                    CA::array(hardware, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList))
                    if (CA::uint32(hardware, id, kAudioProcessPropertyPID) == std::uint32_t(pid))
                        found = id;
                return found != 0;
            },
            5s);
        return found;
    };
    struct Case {
        AudioHardware* hardware;
        pid_t pid;
        QString expected;
    };
    const Case cases[] = {
        { withLookup.get(), unnamed.pid(), QStringLiteral("org.example.FromLookup.%1").arg(unnamed.pid()) },
        // The stream's own application id comes first.
        { withLookup.get(), named.pid(), QStringLiteral("org.example.Named") },
        // Without a lookup the backend guesses nothing.
        { hw.get(), unnamed.pid(), QString() },
        { hw.get(), named.pid(), QStringLiteral("org.example.Named") },
    };
    for (const Case& c : cases) {
        const AudioObjectID process = processOn(*c.hardware, c.pid);
        ASSERT_NE(process, 0u) << c.pid;
        for (int read = 0; read < 2; ++read)
            EXPECT_EQ(CA::string(*c.hardware, process, kAudioProcessPropertyBundleID).value_or(QString()), c.expected)
                << c.pid;
    }
    std::lock_guard lock(askedMutex);
    EXPECT_EQ(asked, std::vector<pid_t> { unnamed.pid() }) << "asked once per process, and only when needed";
}

TEST_F(PulseAudioHardwareTest, TapAndAggregateRejectWhatDoesNotExist)
{
    ChildProcess player(testPlayerPath(), { "--amplitude", "0.1" });
    const AudioObjectID process = waitForProcess(player.pid());
    ASSERT_NE(process, 0u);

    AudioObjectID tap = 0;
    auto unknown = CATapDescription::stereoMixdownOfProcesses({ 999999 });
    unknown.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    EXPECT_EQ(hw->createProcessTap(unknown, &tap), kAudioHardwareBadObjectError);
    EXPECT_EQ(tap, 0u);

    auto description = CATapDescription::stereoMixdownOfProcesses({ process });
    description.uuid = "0f0e0d0c-aaaa-bbbb-cccc-000000000001";
    description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    ASSERT_EQ(hw->createProcessTap(description, &tap), noErr);
    // The tap sink is ours: never offered as a device.
    EXPECT_TRUE(waitFor([&] { return sinkNames().size() == 3; }, 2s));
    EXPECT_EQ(CA::outputDevices(*hw).size(), 2u);
    QString uid;
    EXPECT_EQ(hw->getPropertyString(tap, globalAddress(kAudioTapPropertyUID), &uid), noErr);
    EXPECT_EQ(uid, description.uuid);

    AudioObjectID aggregate = 0;
    EXPECT_EQ(hw->createAggregateDevice(aggregateDescription("no-such-sink", description.uuid), &aggregate),
        kAudioHardwareBadDeviceError);
    EXPECT_EQ(hw->createAggregateDevice(aggregateDescription("speakers", "no-such-tap"), &aggregate),
        kAudioHardwareBadObjectError);
    EXPECT_EQ(aggregate, 0u);
    ASSERT_EQ(hw->createAggregateDevice(aggregateDescription("speakers", description.uuid), &aggregate), noErr);
    EXPECT_EQ(CA::uint32(*hw, aggregate, kAudioDevicePropertyTransportType), kAudioDeviceTransportTypeAggregate);

    AudioDeviceIOProcID proc = nullptr;
    EXPECT_EQ(hw->createIOProcIDWithBlock(&proc, 424242, nullptr, [](auto...) {}), kAudioHardwareBadDeviceError);
    EXPECT_EQ(hw->destroyAggregateDevice(aggregate), noErr);
    EXPECT_EQ(hw->destroyProcessTap(tap), noErr);
    EXPECT_TRUE(waitFor([&] { return sinkNames().size() == 2; }, 2s));
    EXPECT_EQ(sinksOfProcess(player.pid()), QStringList { "speakers" });
}

TEST_F(PulseAudioHardwareTest, AggregateDescribesTheTapAsItsLastInputStream)
{
    ChildProcess player(testPlayerPath(), { "--amplitude", "0.1" });
    const AudioObjectID process = waitForProcess(player.pid());
    auto description = CATapDescription::stereoMixdownOfProcesses({ process });
    description.uuid = "0f0e0d0c-aaaa-bbbb-cccc-000000000002";
    description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    AudioObjectID tap = 0, aggregate = 0;
    ASSERT_EQ(hw->createProcessTap(description, &tap), noErr);
    ASSERT_EQ(hw->createAggregateDevice(aggregateDescription("headphones", description.uuid), &aggregate), noErr);

    std::vector<std::uint8_t> buffer(audioBufferListSize(4));
    std::uint32_t size = std::uint32_t(buffer.size());
    ASSERT_EQ(hw->getPropertyData(aggregate,
                  { kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput, 0 }, &size, buffer.data()),
        noErr);
    const auto* list = reinterpret_cast<const AudioBufferList*>(buffer.data());
    ASSERT_EQ(list->mNumberBuffers, 1u);
    EXPECT_EQ(list->mBuffers[0].mNumberChannels, 2u);
    EXPECT_EQ(CA::uint32(*hw, aggregate, kAudioDevicePropertyDeviceIsAlive), 1u);
    hw->destroyAggregateDevice(aggregate);
    hw->destroyProcessTap(tap);
}

TEST_F(PulseAudioHardwareTest, AStartUndoesTheTapsOfADeadInstance)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Left", "--role", "music" });
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "speakers" }; }, 5s));
    hw.reset();

    // What a crashed instance leaves: a marked sink, the application moved into it, the server's memory
    // pointing there, and its journal.
    PulseConnection connection(QStringLiteral("crashed instance"));
    ASSERT_TRUE(connection.connect(2000, nullptr));
    const QString deadOwner = QStringLiteral("999999:1:dead");
    const auto module = PulseQuery::loadModule(connection, "module-null-sink",
        "sink_name=sonaric_tap_dead sink_properties='sonaric.tap=dead sonaric.tap.owner=" + deadOwner + "'");
    ASSERT_TRUE(module);
    const auto streams = PulseQuery::streams(connection);
    std::uint32_t index = 0xffffffffu;
    for (const auto& s : *streams)
        if (s.pid == player.pid())
            index = s.index;
    const auto before = RestoreMemory::read(connection);
    ASSERT_TRUE(PulseQuery::moveStream(connection, index, "sonaric_tap_dead"));
    TapJournal(journal).update([&](std::vector<JournalTap>& taps) {
        taps.push_back(
            { deadOwner, connection.serverName(), "sonaric_tap_dead", { { index, player.pid(), "speakers" } }, {} });
    });
    // PipeWire's session manager carries out a move a moment later.
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "sonaric_tap_dead" }; }, 2s));

    hw = connectHardware();
    ASSERT_TRUE(hw);
    EXPECT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "speakers" }; }, 1s));
    EXPECT_FALSE(sinkNames().contains("sonaric_tap_dead"));
    EXPECT_TRUE(TapJournal(journal).read().empty());
    if (const auto table = RestoreMemory::read(connection)) {
        EXPECT_TRUE(RestoreMemory::pointingAt(*table, "sonaric_tap_").empty());
    }
    EXPECT_GT(recordSink("speakers", 300).peak, 0.9f);
}

TEST_F(PulseAudioHardwareTest, ASigkilledInstanceIsUndoneByItsWatchdogWithinASecond)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Crash", "--role", "music" });
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "speakers" }; }, 5s));

    ChildProcess holder(
        tapHolderPath(), { "--pid", QString::number(player.pid()), "--gain", "0", "--journal", journal });
    ASSERT_EQ(holder.readLine(15000), QStringLiteral("ready"));
    ASSERT_TRUE(sinksOfProcess(player.pid()).value(0).startsWith("sonaric_tap_"));
    EXPECT_LT(recordSink("speakers", 300).peak, 0.01f);

    holder.kill(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "speakers" }; }, 1000ms));
    EXPECT_LE(std::chrono::steady_clock::now() - killed, 1000ms);
    EXPECT_GT(recordSink("speakers", 300).peak, 0.9f);

    // The application's next stream goes where it always went, not to a tap sink that is gone.
    ChildProcess again(testPlayerPath(), { "--app-id", "org.example.Crash", "--role", "music", "--amplitude", "0.1" });
    ASSERT_TRUE(waitFor([&] { return !sinksOfProcess(again.pid()).isEmpty(); }, 5s));
    EXPECT_EQ(sinksOfProcess(again.pid()), QStringList { "speakers" });
    EXPECT_TRUE(waitFor([&] { return sinkNames().size() == 2; }, 2s)) << qPrintable(sinkNames().join(' '));
}

// A server that is there but answers nothing (stopped with SIGSTOP) is given a deadline everywhere.

TEST_F(PulseAudioHardwareTest, ARequestAFrozenServerLeavesUnansweredFailsAtItsDeadlineAndClosesTheConnection)
{
    PulseConnection connection(QStringLiteral("frozen test"), {}, 500);
    ASSERT_TRUE(connection.connect(1000, nullptr));
    ASSERT_TRUE(PulseQuery::sinks(connection));
    EXPECT_FALSE(connection.stoppedAnswering());

    FrozenServer frozen;
    ASSERT_TRUE(frozen.frozen());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PulseQuery::sinks(connection));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 3s) << "libpulse's own timeout is 30 s";
    EXPECT_TRUE(connection.stoppedAnswering());
    EXPECT_FALSE(connection.isReady());
    const auto again = std::chrono::steady_clock::now();
    EXPECT_FALSE(PulseQuery::streams(connection));
    EXPECT_LT(std::chrono::steady_clock::now() - again, 200ms) << "a closed connection does not wait again";
}

TEST_F(PulseAudioHardwareTest, ConnectingToAFrozenServerFailsAsAServerThatStoppedAnsweringNotAsNoServer)
{
    hw.reset();
    PulseAudioHardware::Options options;
    options.journalPath = journal;
    options.watchdogPath = QStringLiteral("none");
    QString error;
    auto failure = PulseAudioHardware::ConnectFailure::none;
    {
        FrozenServer frozen;
        ASSERT_TRUE(frozen.frozen());
        EXPECT_FALSE(PulseAudioHardware::connect(options, &error, &failure));
        EXPECT_EQ(failure, PulseAudioHardware::ConnectFailure::stoppedAnswering);
        EXPECT_TRUE(error.contains(QLatin1String("did not answer"))) << qPrintable(error);
    }
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + QDir::tempPath().toUtf8() + "/sonaric-no-server-here");
    EXPECT_FALSE(PulseAudioHardware::connect(options, &error, &failure));
    EXPECT_EQ(failure, PulseAudioHardware::ConnectFailure::noServer) << qPrintable(error);
    if (server.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", server);
}

TEST_F(PulseAudioHardwareTest, AServerThatStopsAnsweringWhileItIsReadFailsTheConnectWithinSeconds)
{
    hw.reset();
    // The journal is a pipe: the connect opens it to read only after the server answered the connection and
    // the first requests, and the freezer's open for writing returns just then.
    const QString pipe = qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/journal.pipe");
    ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    std::optional<FrozenServer> frozen;
    std::thread freezer([&] {
        QFile writer(pipe);
        if (!writer.open(QIODevice::WriteOnly))
            return;
        frozen.emplace();
        writer.write("{}");
    });
    PulseAudioHardware::Options options;
    options.journalPath = pipe;
    options.watchdogPath = QStringLiteral("none");
    options.requestTimeoutMs = 1000;
    QString error;
    auto failure = PulseAudioHardware::ConnectFailure::none;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(PulseAudioHardware::connect(options, &error, &failure));
    const auto waited = std::chrono::steady_clock::now() - start;
    freezer.join();
    ASSERT_TRUE(frozen && frozen->frozen());
    EXPECT_EQ(failure, PulseAudioHardware::ConnectFailure::stoppedAnswering);
    EXPECT_EQ(error, QStringLiteral("the sound server stopped answering (no reply within 1000 ms)"));
    EXPECT_LT(waited, 4s) << "one deadline, then every later request fails at once";
    frozen.reset();
    QFile::remove(pipe);
}

TEST_F(PulseAudioHardwareTest, AFrozenServerCountsAsGoneUntilItAnswersAgain)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Player", "--amplitude", "0.1" });
    hw.reset();
    PulseAudioHardware::Options options;
    options.journalPath = journal;
    options.watchdogPath = QStringLiteral("none");
    options.requestTimeoutMs = 1000;
    options.serverGraceMs = 1500;
    QString error;
    hw = PulseAudioHardware::connect(options, &error);
    ASSERT_TRUE(hw) << qPrintable(error);
    const AudioObjectID process = waitForProcess(player.pid());
    ASSERT_NE(process, 0u);
    SerialQueue queue("listeners");
    std::atomic<int> deviceChanges { 0 };
    hw->addPropertyListenerBlock(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), queue,
        [&](auto...) { ++deviceChanges; });
    auto description = CATapDescription::stereoMixdownOfProcesses({ process });
    description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    AudioObjectID tap = 0;

    FrozenServer frozen;
    ASSERT_TRUE(frozen.frozen());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hw->createProcessTap(description, &tap), kAudioHardwareNotRunningError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(hw->isConnected());
    EXPECT_EQ(hw->createProcessTap(description, &tap), kAudioHardwareNotRunningError) << "as for a lost server";
    // Past the grace period the devices vanish, as for a server that went away.
    EXPECT_TRUE(waitFor([&] { return CA::outputDevices(*hw).empty(); }, 5s));

    frozen.thaw();
    EXPECT_TRUE(waitFor([&] { return hw->isConnected() && CA::outputDevices(*hw).size() == 2; }, 10s));
    EXPECT_TRUE(waitFor([&] { return deviceChanges >= 2; }, 2s)) << "heard going and coming back";
    EXPECT_EQ(waitForProcess(player.pid()), process) << "the same object as before";
    ASSERT_EQ(hw->createProcessTap(description, &tap), noErr);
    EXPECT_EQ(hw->destroyProcessTap(tap), noErr);
    // The hardware delivers to the queue and the counter above until it goes; then what it queued runs.
    hw.reset();
    queue.sync([] {});
}

TEST_F(PulseAudioHardwareTest, CommandLinePlayersAreOneNamedProcessWithTheirPid)
{
    const QString tone = qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/tone.wav");
    // Through posix_spawn, not QProcess: under ThreadSanitizer a QProcess's fork leaves this process unable to
    // start threads.
    ChildProcess sox(QStandardPaths::findExecutable(QStringLiteral("sox")),
        { "-n", "-r", "48000", "-c", "2", tone, "synth", "30", "sine", "440", "vol", "0.1" });
    ASSERT_EQ(sox.waitForExit(), 0);
    struct Case {
        QString program;
        QStringList arguments;
        bool pipeWireOnly; ///< a native PipeWire client: its pid is on its client object only
    };
    const Case cases[] = {
        { "paplay", { "--device=speakers", tone }, false },
        { "pw-play", { "--target=speakers", tone }, true },
    };
    LinuxWorkspace workspace(DesktopEntries::load({}, {}));
    for (const Case& c : cases) {
        if (c.pipeWireOnly && serverKind() != QLatin1String("pipewire"))
            continue;
        ASSERT_FALSE(QStandardPaths::findExecutable(c.program).isEmpty())
            << qPrintable(c.program) << " is not installed (tools/debian-test-packages.txt)";
        ChildProcess player(c.program, c.arguments);
        const AudioObjectID process = waitForProcess(player.pid());
        ASSERT_NE(process, 0u) << qPrintable(c.program) << " is no process object with its pid";
        EXPECT_EQ(CA::string(*hw, process, kAudioObjectPropertyName), c.program);
        std::vector<AudioApp> apps;
        const auto listed = [&] {
            apps = ProcessDiscovery::apps(*hw, workspace);
            return std::find_if(apps.begin(), apps.end(), [&](const AudioApp& app) { return app.pid == player.pid(); });
        };
        ASSERT_TRUE(waitFor([&] { return listed() != apps.end(); }, 3s)) << qPrintable(c.program) << " is not listed";
        EXPECT_EQ(listed()->name, c.program);
        EXPECT_EQ(listed()->processObjects, std::vector<AudioObjectID> { process });
    }
}

TEST_F(PulseAudioHardwareTest, TapsLeaveNothingInTheSessionManagersMemory)
{
    if (serverKind() != QLatin1String("pipewire"))
        GTEST_SKIP() << "PulseAudio's stream memory is covered by the tap path's cases";
    ChildProcess player(
        testPlayerPath(), { "--app-id", "org.example.Memory", "--role", "music", "--amplitude", "0.1" });
    const AudioObjectID process = waitForProcess(player.pid());
    ASSERT_NE(process, 0u);
    // WirePlumber writes its memory a second after a change.
    ASSERT_TRUE(waitFor([] { return sessionManagerMemory().join(u'\n').contains(QLatin1String("speakers")); }, 5s));
    const QStringList before = sessionManagerMemory();
    AudioObjectID taps[3] = {};
    for (int i = 0; i < 3; ++i) {
        auto description = CATapDescription::stereoMixdownOfProcesses({ process });
        description.uuid = QStringLiteral("0f0e0d0c-aaaa-bbbb-cccc-00000000010%1").arg(i);
        description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
        ASSERT_EQ(hw->createProcessTap(description, &taps[i]), noErr);
    }
    // Nothing to wait on: what is checked is what WirePlumber did not do with the sinks, then did not write after
    // its one-second delay.
    std::this_thread::sleep_for(1500ms);
    for (AudioObjectID tap : taps)
        hw->destroyProcessTap(tap);
    std::this_thread::sleep_for(2500ms);
    const QStringList after = sessionManagerMemory();
    // Earlier cases on this server leave lines of their own (a dead instance's sink): only what came since counts.
    QStringList added;
    for (const QString& line : after)
        if (!before.contains(line))
            added << line;
    EXPECT_EQ(added.filter(QStringLiteral("0f0e0d0caaaabbbbcccc0000000001")), QStringList {});
    for (const QString& line : before)
        EXPECT_TRUE(after.contains(line)) << qPrintable(line) << " was lost";
}
