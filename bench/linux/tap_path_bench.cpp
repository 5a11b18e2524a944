// Figures of the Linux tap path against the server it runs on (started by bench/linux/tap_path.sh):
//
//   latency  the delay the tap path adds over direct playback: two click trains written in lockstep, one
//            played directly, one through a tap at unity gain; the gap between their clicks on the sink,
//            minus the same gap with both played directly (the baseline of the same run)
//   load     three players tapped at 0.5 for a while: playback underruns after the move, and Sonaric's CPU
//            time against the sound server's own CPU time for the same three streams played directly

#include "audio/ca.h"
#include "audio/tap_engine.h"
#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "process_object.h"

#include <QFile>
#include <QProcess>

#include <pulse/pulseaudio.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace sonaric;
using sonaric::bench::processOf;
using namespace std::chrono_literals;

namespace
{

/// The smallest boost: the tap path at work without changing what is heard.
const float kJustAboveUnity = std::nextafter(1.0f, 2.0f);

constexpr std::uint32_t kClickPeriod = 12000; // frames between clicks: 250 ms at 48 kHz

/// A click train on one channel of a stream of its own connection; `pidProperty` lets one process stand for
/// two applications.
class ClickStream
{
public:
    ClickStream(const QString& appID, const QString& pidProperty, int channel)
        : m_connection(QStringLiteral("bench clicks"),
            { { PA_PROP_APPLICATION_ID, appID }, { PA_PROP_APPLICATION_PROCESS_ID, pidProperty } })
        , m_channel(channel)
    {
        if (!m_connection.connect(2000, nullptr))
            return;
        PulseConnection::Lock lock(m_connection);
        const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, 48000, 2 };
        m_stream = pa_stream_new(m_connection.context(), "clicks", &spec, nullptr);
        pa_buffer_attr attr { std::uint32_t(-1), 48000 * 8 * 40 / 1000, std::uint32_t(-1), std::uint32_t(-1),
            std::uint32_t(-1) };
        pa_stream_set_write_callback(
            m_stream, [](pa_stream*, std::size_t n, void* self) { static_cast<ClickStream*>(self)->write(n); }, this);
        pa_stream_connect_playback(m_stream, "speakers", &attr, PA_STREAM_START_CORKED, nullptr, nullptr);
        m_connection.waitUntil([this] { return pa_stream_get_state(m_stream) == PA_STREAM_READY; }, 2000);
    }

    ~ClickStream()
    {
        if (!m_stream)
            return;
        PulseConnection::Lock lock(m_connection);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }

    void uncork()
    {
        PulseConnection::Lock lock(m_connection);
        if (pa_operation* op = pa_stream_cork(m_stream, 0, nullptr, nullptr))
            pa_operation_unref(op);
    }

private:
    void write(std::size_t bytes)
    {
        std::vector<float> samples(bytes / sizeof(float), 0.0f);
        for (std::size_t frame = 0; frame < samples.size() / 2; ++frame, ++m_position)
            // A short pulse rather than one sample, so that a resampler on the way does not flatten it.
            if (m_position % kClickPeriod < 8)
                samples[frame * 2 + std::size_t(m_channel)] = 0.9f;
        pa_stream_write(m_stream, samples.data(), samples.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
    }

    PulseConnection m_connection;
    pa_stream* m_stream = nullptr;
    int m_channel;
    std::uint64_t m_position = 0;
};

/// The median delay, in ms, of right-channel clicks after the left-channel clicks on the speakers.
std::optional<double> clickGap(int seconds)
{
    std::uint32_t rate = 48000;
    PulseConnection connection(QStringLiteral("bench"));
    if (connection.connect(2000, nullptr))
        if (const auto sinks = PulseQuery::sinks(connection))
            for (const auto& s : *sinks)
                if (s.name == QLatin1String("speakers"))
                    rate = s.rate;
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, rate, 2 };
    int error = 0;
    pa_simple* s = pa_simple_new(
        nullptr, "bench recorder", PA_STREAM_RECORD, "speakers.monitor", "record", &spec, nullptr, nullptr, &error);
    if (!s)
        return std::nullopt;
    std::vector<float> samples(std::size_t(rate) * 2 * std::size_t(seconds));
    pa_simple_read(s, samples.data(), samples.size() * sizeof(float), &error);
    pa_simple_free(s);
    std::vector<double> left, right;
    for (std::size_t frame = 0; frame < samples.size() / 2; ++frame) {
        if (std::fabs(samples[frame * 2]) > 0.3f && (left.empty() || frame - left.back() > rate / 10))
            left.push_back(double(frame));
        if (std::fabs(samples[frame * 2 + 1]) > 0.3f && (right.empty() || frame - right.back() > rate / 10))
            right.push_back(double(frame));
    }
    // Each right click against the nearest left click, before or after it: played directly, the two trains
    // are within a fraction of a millisecond of each other in either order.
    std::vector<double> gaps;
    const double period = double(kClickPeriod) * rate / 48000.0;
    for (double r : right) {
        double best = period;
        for (double l : left)
            if (std::fabs(r - l) < std::fabs(best))
                best = r - l;
        if (std::fabs(best) < period * 0.45)
            gaps.push_back(best * 1000.0 / rate);
    }
    if (gaps.size() < 3)
        return std::nullopt;
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

bool allTapped(const std::vector<pid_t>& pids)
{
    PulseConnection connection(QStringLiteral("bench"));
    if (!connection.connect(2000, nullptr))
        return false;
    const auto sinks = PulseQuery::sinks(connection);
    const auto streams = PulseQuery::streams(connection);
    if (!sinks || !streams)
        return false;
    for (pid_t pid : pids) {
        bool tapped = false;
        for (const auto& stream : *streams)
            for (const auto& sink : *sinks)
                if (stream.pid == pid && sink.index == stream.sink && !sink.tapUid.isEmpty())
                    tapped = true;
        if (!tapped)
            return false;
    }
    return true;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

/// CPU seconds (user + system) of the sound server's processes.
double serverCpuSeconds()
{
    QFile pids(qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/pids"));
    if (!pids.open(QIODevice::ReadOnly))
        return 0;
    double total = 0;
    // The first line holds the server's own processes; the lines after it are the sinks' readers.
    for (const QByteArray& pid : pids.readLine().trimmed().split(' ')) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 13)
            total += double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return total;
}

double ownCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<PulseAudioHardware> connectHardware()
{
    PulseAudioHardware::Options options;
    options.journalPath = qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/journal.json");
    options.watchdogPath = QStringLiteral(SONARIC_WATCHDOG);
    options.latencyMs = std::uint32_t(qEnvironmentVariableIntValue("SONARIC_TAP_LATENCY_MS"));
    QString error;
    auto hw = PulseAudioHardware::connect(options, &error);
    if (!hw)
        std::fprintf(stderr, "cannot connect: %s\n", qPrintable(error));
    return hw;
}

int latency()
{
    auto hw = connectHardware();
    if (!hw)
        return 1;
    // A process that lives as long as the measurement lends its pid to the measured click train.
    QProcess standIn;
    standIn.start(QStringLiteral("sleep"), { QStringLiteral("600") });
    standIn.waitForStarted();
    const auto fakePid = pid_t(standIn.processId());
    ClickStream reference(QStringLiteral("bench.reference"), QString::number(getpid()), 0);
    ClickStream measured(QStringLiteral("bench.measured"), QString::number(fakePid), 1);
    reference.uncork();
    measured.uncork();
    // A fresh null sink may render its first second or two in one period; let it settle.
    std::this_thread::sleep_for(3s);
    const auto direct = clickGap(3);

    TapEngine engine(*hw);
    const AudioObjectID process = processOf(*hw, fakePid);
    // Just above unity: only a boost takes the tap path (a level up to unity and a route are carried by the
    // server), and the level stays as good as unchanged.
    engine.apply(QStringLiteral("bench.measured"), { process }, kJustAboveUnity, QStringLiteral("speakers"));
    const bool tapped = waitFor([&] { return allTapped({ fakePid }); }, 10s);
    std::this_thread::sleep_for(1500ms);
    const auto viaTap = clickGap(3);
    engine.stopAll();
    standIn.kill();
    standIn.waitForFinished();
    if (!direct || !viaTap || !tapped) {
        std::printf("latency: could not measure (direct %s, tapped %s)\n", direct ? "ok" : "none",
            tapped && viaTap ? "ok" : "none");
        return 1;
    }
    std::printf("latency: direct-vs-direct gap %.2f ms, tapped-vs-direct gap %.2f ms, added by the tap path %.2f ms\n",
        *direct, *viaTap, *viaTap - *direct);
    return 0;
}

int load(int baselineSeconds, int seconds)
{
    auto hw = connectHardware();
    if (!hw)
        return 1;
    std::vector<std::unique_ptr<QProcess>> players;
    std::vector<pid_t> pids;
    for (int i = 0; i < 3; ++i) {
        auto player = std::make_unique<QProcess>();
        player->start(QStringLiteral(SONARIC_TEST_PLAYER),
            { "--app-id", QStringLiteral("bench.player%1").arg(i), "--amplitude", "0.3", "--frequency",
                QString::number(300 + 100 * i), "--seconds", QString::number(baselineSeconds + seconds + 30) });
        player->waitForStarted();
        pids.push_back(pid_t(player->processId()));
        players.push_back(std::move(player));
    }
    std::this_thread::sleep_for(1s);
    const double serverStart = serverCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(baselineSeconds));
    const double serverDirect = (serverCpuSeconds() - serverStart) / baselineSeconds;

    TapEngine engine(*hw);
    for (int i = 0; i < 3; ++i)
        engine.apply(QStringLiteral("bench.player%1").arg(i), { processOf(*hw, pids[std::size_t(i)]) }, kJustAboveUnity,
            std::nullopt);
    const bool tapped = waitFor([&] { return allTapped(pids); }, 15s);
    std::this_thread::sleep_for(1s);
    const std::uint64_t underrunsAfterMove = hw->totalUnderruns();
    const double ownStart = ownCpuSeconds();
    const double serverTapStart = serverCpuSeconds();
    // The first seconds are reported apart: a path that runs dry deepens its queue then.
    const int settle = std::min(10, seconds / 2);
    std::this_thread::sleep_for(std::chrono::seconds(settle));
    const std::uint64_t underrunsSettled = hw->totalUnderruns();
    std::this_thread::sleep_for(std::chrono::seconds(seconds - settle));
    const double own = (ownCpuSeconds() - ownStart) / seconds;
    const double serverTapped = (serverCpuSeconds() - serverTapStart) / seconds;
    const std::uint64_t underruns = hw->totalUnderruns() - underrunsSettled;
    const std::uint64_t early = underrunsSettled - underrunsAfterMove;
    engine.stopAll();
    for (auto& player : players) {
        player->kill();
        player->waitForFinished();
    }
    if (!tapped) {
        std::printf("load: the players were not all tapped\n");
        return 1;
    }
    std::printf("load: 3 streams tapped for %d s: %llu underruns in the first %d s after the move, %llu in the %d s "
                "after that\n",
        seconds, static_cast<unsigned long long>(early), settle, static_cast<unsigned long long>(underruns),
        seconds - settle);
    std::printf("load: Sonaric CPU %.1f ms/s; server CPU %.1f ms/s playing them directly (baseline), %.1f ms/s "
                "while tapped; Sonaric / baseline = %.2f\n",
        own * 1000, serverDirect * 1000, serverTapped * 1000, serverDirect > 0 ? own / serverDirect : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("latency"))
        return latency();
    if (mode == QLatin1String("load"))
        return load(argc > 2 ? std::atoi(argv[2]) : 30, argc > 3 ? std::atoi(argv[3]) : 60);
    std::fprintf(stderr, "usage: sonaric-tap-bench latency | load [BASELINE_SECONDS] [SECONDS]\n");
    return 2;
}
