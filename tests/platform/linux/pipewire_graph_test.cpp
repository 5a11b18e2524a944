// The tap path inside PipeWire's graph, against a real PipeWire (with_sound_server.sh pipewire): the filter
// carries a null sink's sound through the IO block into another sink within the cycle, its real-time thread
// allocates nothing and takes no lock while it runs, and it ends cleanly when a device goes.
//
// The IO block marks PipeWire's data thread as watched (support/realtime_watch.h) when it first runs there;
// from then on that thread runs nothing but the graph's cycles.

#include "platform/audio/linux/pipewire_aggregate_device.h"

#include "sound_test_support.h"
#include "support/realtime_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <pthread.h>
#include <thread>

using namespace sonaric;
using namespace sonaric::test;
using namespace sonaric::test::realtime;
using namespace std::chrono_literals;

namespace
{

class PipeWireGraphTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (serverKind() != QLatin1String("pipewire"))
            GTEST_SKIP() << "runs against PipeWire only";
        for (const char* sink : { "graph_test_tap", "graph_test_out" })
            if (!sinkNames().contains(QLatin1String(sink)))
                pactl({ "load-module", "module-null-sink", QStringLiteral("sink_name=%1").arg(sink) });
        ASSERT_TRUE(waitFor([] { return sinkNames().contains("graph_test_out"); }, 3s));
    }

    static AggregateIOPath::Config config(AudioDeviceIOBlock block)
    {
        AggregateIOPath::Config config;
        config.tapSink = QStringLiteral("graph_test_tap");
        config.tapMonitor = QStringLiteral("graph_test_tap.monitor");
        config.outputSink = QStringLiteral("graph_test_out");
        config.block = std::move(block);
        return config;
    }
};

/// Halves the tap's stereo stream into the device's, and marks the thread it runs on.
AudioDeviceIOBlock halving(std::atomic<int>& calls)
{
    return [&calls](const AudioTimeStamp*, const AudioBufferList* input, const AudioTimeStamp*, AudioBufferList* output,
               const AudioTimeStamp*) {
        watching = true;
        calls.fetch_add(1, std::memory_order_relaxed);
        const AudioBuffer& in = input->mBuffers[input->mNumberBuffers - 1];
        AudioBuffer& out = output->mBuffers[0];
        const auto* from = static_cast<const float*>(in.mData);
        auto* to = static_cast<float*>(out.mData);
        const std::size_t frames = out.mDataByteSize / sizeof(float) / out.mNumberChannels;
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < out.mNumberChannels; ++c)
                to[i * out.mNumberChannels + c] = c < in.mNumberChannels ? 0.5f * from[i * in.mNumberChannels + c] : 0;
    };
}

} // namespace

TEST_F(PipeWireGraphTest, CarriesTheTapIntoTheDeviceWithoutAllocatingOrLockingOnTheDataThread)
{
    qputenv("PULSE_SINK", "graph_test_tap");
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Graph", "--amplitude", "0.8" });
    qunsetenv("PULSE_SINK");
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "graph_test_tap" }; }, 5s));

    counting = false; // until the path has settled
    std::atomic<int> calls { 0 };
    std::atomic<bool> firstData { false };
    std::atomic<bool> firstDataOnDataThread { false };
    PipeWireAggregateDevice path(config(halving(calls)));
    QString error;
    ASSERT_TRUE(path.start(
        [&] {
            firstDataOnDataThread = watching;
            firstData = true;
        },
        &error))
        << qPrintable(error);
    EXPECT_TRUE(path.isRunning());
    ASSERT_TRUE(waitFor([&] { return firstData.load(); }, 2s));
    EXPECT_FALSE(firstDataOnDataThread.load()) << "the real-time thread must not run the first-data handler";

    const Level heard = recordSink("graph_test_out", 400);
    EXPECT_NEAR(heard.peak, 0.4f, 0.02f);
    EXPECT_NEAR(heard.rms, 0.4f / std::sqrt(2.0f), 0.02f);

    // The counters see what a watched thread does: this one, for a moment.
    watching = counting = true;
    int* volatile allocated = new int(1);
    delete allocated;
    pthread_mutex_t probe = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&probe);
    pthread_mutex_unlock(&probe);
    watching = counting = false;
    ASSERT_GT(allocations.exchange(0), 0);
    ASSERT_TRUE(locks.exchange(0) > 0 || !kLocksCounted);

    counting = true;
    const int callsBefore = calls.load();
    std::this_thread::sleep_for(1s);
    counting = false;
    EXPECT_GT(calls.load() - callsBefore, 50);
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(locks.load(), 0);
    EXPECT_EQ(path.underruns(), 0u);

    path.stop();
    EXPECT_FALSE(path.isRunning());
    const int callsAtStop = calls.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), callsAtStop);
    EXPECT_LT(recordSink("graph_test_out", 200).peak, 0.001f);
}

TEST_F(PipeWireGraphTest, ADeviceThatIsNotThereFailsWithItsName)
{
    std::atomic<int> calls { 0 };
    auto settings = config(halving(calls));
    settings.outputSink = QStringLiteral("no_such_device");
    PipeWireAggregateDevice path(std::move(settings));
    QString error;
    EXPECT_FALSE(path.start({}, &error));
    EXPECT_TRUE(error.contains("no_such_device")) << qPrintable(error);
    EXPECT_FALSE(path.isRunning());
}

TEST_F(PipeWireGraphTest, LosingTheDeviceEndsThePath)
{
    const QString module = pactl({ "load-module", "module-null-sink", "sink_name=graph_test_gone" }).trimmed();
    ASSERT_TRUE(waitFor([] { return sinkNames().contains("graph_test_gone"); }, 3s));
    std::atomic<int> calls { 0 };
    auto settings = config(halving(calls));
    settings.outputSink = QStringLiteral("graph_test_gone");
    PipeWireAggregateDevice path(std::move(settings));
    QString error;
    ASSERT_TRUE(path.start({}, &error)) << qPrintable(error);
    pactl({ "unload-module", module });
    EXPECT_TRUE(waitFor([&] { return !path.isRunning(); }, 2s));
}
