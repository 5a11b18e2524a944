// Completing streams from their clients, and the name a process object reports: pure, no server needed.

#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/pulse_property_reader.h"

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

StreamRecord stream(std::uint32_t index, std::uint32_t client, pid_t pid = -1, QString name = {}, QString binary = {})
{
    StreamRecord s;
    s.index = index;
    s.client = client;
    s.pid = pid;
    s.applicationName = std::move(name);
    s.binary = std::move(binary);
    return s;
}

ClientRecord client(std::uint32_t index, pid_t pid, QString name = {}, QString binary = {})
{
    return { index, pid, {}, std::move(name), std::move(binary) };
}

} // namespace

TEST(StreamRecord, TakesFromItsClientOnlyWhatItDidNotSay)
{
    struct Case {
        const char* what;
        StreamRecord stream;
        ClientRecord client;
        bool changed;
        pid_t pid;
        QString name;
        QString binary;
    };
    const Case cases[] = {
        { "a native PipeWire stream", stream(1, 7, -1, "pw-play"), client(7, 42, "pw-play", "pw-play"), true, 42,
            "pw-play", "pw-play" },
        { "the stream's own values first", stream(1, 7, 40, "Own", "own"), client(7, 42, "Client", "client"), false, 40,
            "Own", "own" },
        { "another client", stream(1, 7), client(8, 42, "Other"), false, -1, {}, {} },
        { "a client that says nothing", stream(1, 7), client(7, -1), false, -1, {}, {} },
    };
    for (const Case& c : cases) {
        StreamRecord s = c.stream;
        EXPECT_EQ(s.completeFrom(c.client), c.changed) << c.what;
        EXPECT_EQ(s.pid, c.pid) << c.what;
        EXPECT_EQ(s.applicationName, c.name) << c.what;
        EXPECT_EQ(s.binary, c.binary) << c.what;
    }
}

TEST(PulseObjectTable, AStreamJoinsItsProcessWhicheverOfItAndItsClientComesFirst)
{
    PulseObjectTable table;
    std::lock_guard lock(table.mutex());
    table.replaceSnapshot("PulseAudio (on PipeWire)", "speakers", 48000, {}, { stream(1, 7) }, { client(8, 50) });
    ASSERT_EQ(table.processIDs().size(), 1u);
    EXPECT_EQ(table.processKey(table.processIDs().front()), "client:7") << "no pid known yet";

    // The client's information comes after its stream: the stream moves to its process.
    EXPECT_TRUE(table.updateClient(client(7, 42, "pw-play")));
    ASSERT_EQ(table.processIDs().size(), 1u);
    const AudioObjectID process = table.processIDs().front();
    EXPECT_EQ(table.processKey(process), "pid:42");
    EXPECT_FALSE(table.updateClient(client(7, 42, "pw-play"))) << "nothing new";

    // A second stream of a known client, and a stream whose client the snapshot already had.
    EXPECT_FALSE(table.updateStream(stream(2, 7)).processListChanged);
    EXPECT_EQ(table.processStreams(process).size(), 2u);
    EXPECT_TRUE(table.updateStream(stream(3, 8)).processListChanged);
    EXPECT_EQ(table.processStreams(table.processIDs().back()).front()->pid, 50);

    // A stream that changes arrives again without the client's values; it keeps its process.
    table.removeClient(8);
    EXPECT_FALSE(table.updateStream(stream(2, 7)).processListChanged);
    EXPECT_EQ(table.processStreams(process).size(), 2u);
}

TEST(PulsePropertyReader, AProcessIsNamedByItsApplicationNameThenBinaryThenCommandName)
{
    const auto comm = [](pid_t pid) { return pid == 42 ? QStringLiteral("mpv") : QString(); };
    struct Case {
        std::vector<StreamRecord> streams;
        QString expected;
    };
    const Case cases[] = {
        { { stream(1, 7, 42, "paplay", "paplay") }, "paplay" },
        { { stream(1, 7, 42, {}, "pw-cat") }, "pw-cat" },
        { { stream(1, 7, 42, "  ", {}) }, "mpv" },
        // Any stream of the process may carry the name.
        { { stream(1, 7, 42), stream(2, 7, 42, "Player") }, "Player" },
        { { stream(1, 7, 42, {}, "player-bin"), stream(2, 7, 42, "Player") }, "Player" },
        { { stream(1, 7, 43) }, "" },
        { { stream(1, 7) }, "" },
    };
    for (const Case& c : cases) {
        std::vector<const StreamRecord*> streams;
        for (const auto& s : c.streams)
            streams.push_back(&s);
        EXPECT_EQ(PulsePropertyReader::processName(streams, comm), c.expected) << qPrintable(c.expected);
    }
    EXPECT_EQ(PulsePropertyReader::commandName(getpid()), "linux_platform_");
    EXPECT_EQ(PulsePropertyReader::commandName(-1), "");
}
