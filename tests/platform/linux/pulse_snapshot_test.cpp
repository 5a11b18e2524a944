// Streams completed from their clients, and the name a process object reports: pure, no server needed.

#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/pulse_property_reader.h"

#include <gtest/gtest.h>

#include <functional>

using namespace sonaric;

namespace
{

StreamRecord stream(std::uint32_t index, std::uint32_t client, pid_t pid = -1, QString name = {}, QString binary = {})
{
    StreamRecord s;
    s.index = index, s.client = client, s.pid = pid, s.applicationName = name, s.binary = binary;
    return s;
}

ClientRecord client(std::uint32_t index, pid_t pid)
{
    ClientRecord c;
    c.index = index, c.pid = pid;
    return c;
}

SinkRecord sink(std::uint32_t index, QString name, QString description = {}, QString tapUid = {})
{
    SinkRecord s;
    s.index = index, s.name = name, s.description = description, s.tapUid = tapUid;
    s.placeholder = name == kPlaceholderSinkName;
    return s;
}

} // namespace

TEST(PulseObjectTable, AStreamJoinsItsProcessWhicheverOfItAndItsClientComesFirst)
{
    PulseObjectTable table;
    std::lock_guard lock(table.mutex());
    table.replaceSnapshot("PipeWire", "speakers", 48000, {}, { stream(1, 7), stream(4, 9, 60) }, { client(9, 61) });
    EXPECT_EQ(table.processKey(table.processIDs().front()), "client:7") << "no pid known yet";
    EXPECT_EQ(table.processKey(table.processIDs().back()), "pid:60") << "the stream's own pid comes first";

    // The client's information comes after its stream (a native PipeWire client): the stream joins its process.
    EXPECT_TRUE(table.updateClient({ 7, 42, {}, "pw-play", "pw-play" }));
    const AudioObjectID process = table.processIDs().front();
    EXPECT_EQ(table.processKey(process), "pid:42");
    EXPECT_EQ(table.processStreams(process).front()->applicationName, "pw-play");
    EXPECT_FALSE(table.updateClient({ 7, 42, {}, "pw-play", "pw-play" })) << "nothing new";
    // A later stream of the client, and the same stream arriving again (it changed) without the client's values.
    EXPECT_FALSE(table.updateStream(stream(2, 7)).processListChanged);
    EXPECT_FALSE(table.updateStream(stream(1, 7)).processListChanged);
    EXPECT_EQ(table.processStreams(process).size(), 2u);
}

TEST(PulseObjectTable, NeitherATapsSinkNorTheServersPlaceholderIsAnOutputDevice)
{
    PulseObjectTable table;
    std::lock_guard lock(table.mutex());
    table.replaceSnapshot(
        "pulseaudio", "auto_null", 48000, { sink(1, "auto_null"), sink(2, "sonaric_tap_x", {}, "x") }, {}, {});
    EXPECT_TRUE(table.deviceIDs().empty());
    EXPECT_EQ(table.defaultDeviceID(), 0u);
    // A real sink arrives: the only device stands for the default before the server names it; the server
    // unloads its placeholder.
    const DeviceChange arrival = table.updateSink(sink(3, "speakers"));
    EXPECT_TRUE(arrival.devices && arrival.defaultDevice);
    EXPECT_FALSE(table.removeSink(1).devices);
    EXPECT_FALSE(table.setDefaultSink("speakers").defaultDevice);
    ASSERT_EQ(table.deviceIDs().size(), 1u);
    EXPECT_EQ(table.defaultDeviceID(), table.deviceIDs().front());
}

TEST(PulseObjectTable, TheDefaultDeviceFollowsTheSinksAsWellAsTheNameTheServerGives)
{
    PulseObjectTable table;
    std::lock_guard lock(table.mutex());
    // A restarting server answers naming its default before it has loaded any sink.
    table.replaceSnapshot("PipeWire", "speakers", 48000, {}, {}, {});
    struct Step {
        const char* what;
        std::function<DeviceChange()> change;
        bool devices, defaultDevice;
        const char* nowDefault; ///< the sink whose device is the default after the step, if any
    };
    const Step steps[] = {
        { "another sink first", [&] { return table.updateSink(sink(1, "headphones")); }, true, true, "headphones" },
        { "the named sink", [&] { return table.updateSink(sink(2, "speakers")); }, true, true, "speakers" },
        { "the named sink again", [&] { return table.updateSink(sink(2, "speakers")); }, false, false, "speakers" },
        { "renamed for people", [&] { return table.updateSink(sink(2, "speakers", "Speakers")); }, true, false,
            "speakers" },
        { "the same default", [&] { return table.setDefaultSink("speakers"); }, false, false, "speakers" },
        { "no default named", [&] { return table.setDefaultSink("@DEFAULT_SINK@"); }, false, true, "headphones" },
        { "back to the speakers", [&] { return table.setDefaultSink("speakers"); }, false, true, "speakers" },
        { "another sink goes", [&] { return table.removeSink(1); }, true, false, "speakers" },
        { "the default goes", [&] { return table.removeSink(2); }, true, true, nullptr },
        { "a sink never seen goes", [&] { return table.removeSink(9); }, false, false, nullptr },
    };
    for (const Step& step : steps) {
        const DeviceChange change = step.change();
        EXPECT_EQ(change.devices, step.devices) << step.what;
        EXPECT_EQ(change.defaultDevice, step.defaultDevice) << step.what;
        const SinkRecord* now = table.deviceSink(table.defaultDeviceID());
        EXPECT_EQ(now ? now->name : QString(), QString::fromLatin1(step.nowDefault)) << step.what;
    }
}

TEST(PulsePropertyReader, AProcessIsNamedByItsApplicationNameThenBinaryThenCommandName)
{
    const auto comm = [](pid_t pid) { return pid == 42 ? QStringLiteral("mpv") : QString(); };
    const std::pair<std::vector<StreamRecord>, QString> cases[] = {
        { { stream(1, 7, 42, "paplay", "paplay") }, "paplay" },
        { { stream(1, 7, 42, {}, "pw-cat") }, "pw-cat" },
        { { stream(1, 7, 42, "  ", {}) }, "mpv" },
        { { stream(1, 7, 42, {}, "player-bin"), stream(2, 7, 42, "Player") }, "Player" }, // any stream may say
        { { stream(1, 7, 43) }, "" },
        { { stream(1, 7) }, "" },
    };
    for (const auto& [records, expected] : cases) {
        std::vector<const StreamRecord*> streams;
        for (const auto& s : records)
            streams.push_back(&s);
        EXPECT_EQ(PulsePropertyReader::processName(streams, comm), expected) << qPrintable(expected);
    }
    EXPECT_EQ(PulsePropertyReader::commandName(getpid()), "linux_platform_");
}
