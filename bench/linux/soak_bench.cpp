// A long randomized run of the tap engine against the real sound server it runs on (bench/linux/soak.sh starts
// a private one): three test players, each playing its own tone, get random levels (boosts included), mutes,
// routes to either output and back to the default, and unity (no tap), one change at a time. After each change
// settles, both outputs are recorded and each player's tone is measured on its own, so a player heard at the
// wrong level or on the wrong output counts as a disagreement. At the end it reports the changes made, the
// disagreements (with what was expected and heard), the tap path's underruns, the tap sinks left after
// stopAll(), and the resident memory of this process and of the sound server at the start and the end. With each
// disagreement it prints where the server has each player's streams, and at what volume.
//
//   sonaric-soak MINUTES [SEED]

#include "audio/ca.h"
#include "audio/tap_engine.h"
#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "process_object.h"

#include <QFile>
#include <QProcess>

#include <pulse/simple.h>
#include <pulse/volume.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <thread>
#include <unistd.h>

using namespace sonaric;
using sonaric::bench::processOf;
using namespace std::chrono_literals;

namespace
{

constexpr int kPlayers = 3;
// Three players boosted to 250 % on one output stay below full scale: the test servers' sinks are 16-bit, and a
// mix that clipped would be heard below its level through no fault of the path.
constexpr float kAmplitude = 0.13f;
const double kFrequencies[kPlayers] = { 300.0, 500.0, 700.0 };
const char* const kOutputs[] = { "speakers", "headphones" };

/// What one player should be heard as: its gain and the output it plays on.
struct Expected {
    float gain = 1.0f;
    std::optional<QString> route; ///< none: the default output, "speakers"
};

/// Records `ms` of an output's monitor at `rate` and gives each player's tone amplitude (Goertzel, left channel).
std::vector<double> toneAmplitudes(const char* output, unsigned rate, int ms)
{
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, rate, 2 };
    int error = 0;
    const QByteArray monitor = QByteArray(output) + ".monitor";
    pa_simple* s = pa_simple_new(
        nullptr, "soak recorder", PA_STREAM_RECORD, monitor.constData(), "record", &spec, nullptr, nullptr, &error);
    std::vector<double> amplitudes(kPlayers, -1.0);
    if (!s)
        return amplitudes;
    std::vector<float> samples(std::size_t(rate) * 2 * std::size_t(ms) / 1000);
    const bool read = pa_simple_read(s, samples.data(), samples.size() * sizeof(float), &error) == 0;
    pa_simple_free(s);
    if (!read)
        return amplitudes;
    // The first quarter is what the monitor held from before; the rest is measured.
    const std::size_t start = samples.size() / 2 / 4, frames = samples.size() / 2 - start;
    const auto amplitudeAt = [&](double frequency) {
        const double w = 2 * M_PI * frequency / rate, coefficient = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (std::size_t i = start; i < start + frames; ++i) {
            const double s0 = samples[i * 2] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        return 2 * std::sqrt(std::max(power, 0.0)) / double(frames);
    };
    // A tap played through pulse streams holds its latency by playing up to 0.5 % fast or slow, which moves a
    // tone by a few hertz: over 300 ms that is most of a bin, so each tone is looked for within that band.
    for (int p = 0; p < kPlayers; ++p)
        for (int step = -6; step <= 6; ++step)
            amplitudes[std::size_t(p)]
                = std::max(amplitudes[std::size_t(p)], amplitudeAt(kFrequencies[p] * (1.0 + step * 0.001)));
    return amplitudes;
}

/// A process's resident memory in KiB, in all and the parts of it that are anonymous and shared memory.
struct Resident {
    long total = 0, anonymous = 0, shared = 0;
};

Resident resident(pid_t pid)
{
    Resident kib;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return kib;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> field = line.simplified().split(' ');
        if (field.size() < 2)
            continue;
        if (field[0] == "VmRSS:")
            kib.total = field[1].toLong();
        else if (field[0] == "RssAnon:")
            kib.anonymous = field[1].toLong();
        else if (field[0] == "RssShmem:")
            kib.shared = field[1].toLong();
    }
    return kib;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ') : QByteArray();
}

long serverResidentKiB()
{
    QFile pids(qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/pids"));
    if (!pids.open(QIODevice::ReadOnly))
        return 0;
    long total = 0;
    for (const QByteArray& pid : pids.readLine().trimmed().split(' '))
        total += resident(pid_t(pid.toInt())).total;
    return total;
}

int tapSinksLeft()
{
    PulseConnection connection(QStringLiteral("soak"));
    if (!connection.connect(2000, nullptr))
        return -1;
    const auto sinks = PulseQuery::sinks(connection);
    if (!sinks)
        return -1;
    int left = 0;
    for (const auto& sink : *sinks)
        left += sink.tapUid.isEmpty() ? 0 : 1;
    return left;
}

/// Where each player's streams are and at what volume, as the server has them: " player0: sink 0.85 muted".
QString playerStreams(const std::vector<pid_t>& pids)
{
    PulseConnection connection(QStringLiteral("soak"));
    if (!connection.connect(2000, nullptr))
        return QStringLiteral(" (the server did not answer)");
    const auto sinks = PulseQuery::sinks(connection);
    const auto streams = PulseQuery::streams(connection);
    if (!sinks || !streams)
        return QStringLiteral(" (the server did not list its streams)");
    QString text;
    for (std::size_t p = 0; p < pids.size(); ++p) {
        text += QStringLiteral(" player%1:").arg(p);
        for (const StreamRecord& stream : *streams) {
            if (stream.pid != pids[p])
                continue;
            QString sink = QString::number(stream.sink);
            for (const SinkRecord& s : *sinks)
                if (s.index == stream.sink)
                    sink = s.name.startsWith(QLatin1String("sonaric_tap_")) ? QStringLiteral("tap") : s.name;
            const double volume = stream.volume.empty() ? -1.0 : pa_sw_volume_to_linear(stream.volume.front());
            text += QStringLiteral(" %1 %2%3").arg(sink).arg(volume, 0, 'f', 3).arg(stream.muted ? " muted" : "");
        }
    }
    return text;
}

unsigned outputRate(const char* output)
{
    PulseConnection connection(QStringLiteral("soak"));
    if (connection.connect(2000, nullptr))
        if (const auto sinks = PulseQuery::sinks(connection))
            for (const auto& s : *sinks)
                if (s.name == QLatin1String(output))
                    return s.rate;
    return 48000;
}

/// Whether every player is heard as expected on both outputs, read a few times while a change settles.
bool heardAsExpected(const Expected (&expected)[kPlayers], unsigned rates[2], QString* heard)
{
    for (int attempt = 0; attempt < 6; ++attempt) {
        bool agree = true;
        heard->clear();
        for (int o = 0; o < 2; ++o) {
            const std::vector<double> amplitudes = toneAmplitudes(kOutputs[o], rates[o], 400);
            for (int p = 0; p < kPlayers; ++p) {
                const Expected& e = expected[p];
                const bool here = e.route.value_or(QStringLiteral("speakers")) == QLatin1String(kOutputs[o]);
                const double want = here ? kAmplitude * e.gain : 0.0;
                const double got = amplitudes[std::size_t(p)];
                // 10 % of the expected level, and a floor for silence.
                if (std::abs(got - want) > std::max(0.1 * want, 0.01))
                    agree = false;
                *heard += QStringLiteral(" %1@%2=%3(want %4)")
                              .arg(p)
                              .arg(QLatin1String(kOutputs[o]))
                              .arg(got, 0, 'f', 3)
                              .arg(want, 0, 'f', 3);
            }
        }
        if (agree)
            return true;
        std::this_thread::sleep_for(300ms);
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 30.0;
    const unsigned seed = argc > 2 ? unsigned(std::strtoul(argv[2], nullptr, 10)) : unsigned(std::random_device {}());
    std::printf("soak: %.1f minutes, seed %u, server %s, load average %s\n", minutes, seed,
        qgetenv("SONARIC_SOUND_SERVER").constData(), loadAverage().constData());

    PulseAudioHardware::Options options;
    options.journalPath = qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/journal.json");
    options.watchdogPath = QStringLiteral(SONARIC_WATCHDOG);
    QString error;
    auto hw = PulseAudioHardware::connect(options, &error);
    if (!hw) {
        std::fprintf(stderr, "soak: cannot connect: %s\n", qPrintable(error));
        return 1;
    }

    std::vector<std::unique_ptr<QProcess>> players;
    std::vector<AudioObjectID> processes;
    std::vector<pid_t> pids;
    for (int p = 0; p < kPlayers; ++p) {
        auto player = std::make_unique<QProcess>();
        player->start(QStringLiteral(SONARIC_TEST_PLAYER),
            { "--app-id", QStringLiteral("soak.player%1").arg(p), "--amplitude", QString::number(kAmplitude),
                "--frequency", QString::number(kFrequencies[p]), "--seconds", QString::number(minutes * 60 + 60) });
        player->waitForStarted();
        pids.push_back(pid_t(player->processId()));
        processes.push_back(processOf(*hw, pids.back()));
        players.push_back(std::move(player));
    }
    unsigned rates[2] = { outputRate(kOutputs[0]), outputRate(kOutputs[1]) };
    std::this_thread::sleep_for(1s);

    TapEngine engine(*hw);
    const Resident ownStart = resident(getpid());
    const long serverStart = serverResidentKiB();
    std::mt19937 random(seed);
    Expected expected[kPlayers];
    int changes = 0, disagreements = 0;
    const auto begin = std::chrono::steady_clock::now();
    const auto end = begin + std::chrono::duration<double>(minutes * 60);
    // Memory at each third of the run as well: growth that stops is warming up, growth that goes on is a leak.
    int thirds = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (std::chrono::steady_clock::now() >= begin + (end - begin) * (thirds + 1) / 3 && thirds < 2) {
            ++thirds;
            const Resident own = resident(getpid());
            std::printf(
                "soak: after %d/3: this process %ld KiB (anonymous %ld, shared memory %ld), sound server %ld KiB\n",
                thirds, own.total, own.anonymous, own.shared, serverResidentKiB());
        }
        const int p = int(random() % kPlayers);
        Expected& e = expected[p];
        QString what;
        switch (random() % 5) {
        case 0: // a level up to the larger boost limit
            e.gain = float(random() % 251) / 100.0f;
            what = QStringLiteral("level %1").arg(e.gain);
            break;
        case 1: // muted
            e.gain = 0.0f;
            what = QStringLiteral("mute");
            break;
        case 2:
        case 3: // a route to either output, or back to the default
            if (random() % 3 == 0)
                e.route.reset();
            else
                e.route = QLatin1String(kOutputs[random() % 2]);
            what = QStringLiteral("route %1").arg(e.route.value_or(QStringLiteral("default")));
            break;
        default: // unity without a route: no tap at all
            e = {};
            what = QStringLiteral("unity");
            break;
        }
        engine.apply(QStringLiteral("soak.player%1").arg(p), { processes[std::size_t(p)] }, e.gain, e.route);
        ++changes;
        QString heard;
        if (!heardAsExpected(expected, rates, &heard)) {
            ++disagreements;
            std::printf("soak: change %d (player %d: %s) disagrees:%s; streams:%s\n", changes, p, qPrintable(what),
                qPrintable(heard), qPrintable(playerStreams(pids)));
        }
    }
    const std::uint64_t underruns = hw->totalUnderruns();
    const Resident ownEnd = resident(getpid());
    const long serverEnd = serverResidentKiB();
    engine.stopAll();
    const bool cleared = [&] {
        for (int i = 0; i < 40 && tapSinksLeft() != 0; ++i)
            std::this_thread::sleep_for(100ms);
        return tapSinksLeft() == 0;
    }();
    for (auto& player : players) {
        player->kill();
        player->waitForFinished();
    }
    std::printf("soak: %d changes, %d disagreements, %llu underruns, tap sinks left after stopAll: %d\n", changes,
        disagreements, static_cast<unsigned long long>(underruns), cleared ? 0 : tapSinksLeft());
    std::printf("soak: resident memory: this process %ld -> %ld KiB (anonymous %ld -> %ld, shared memory %ld -> %ld), "
                "sound server %ld -> %ld KiB\n",
        ownStart.total, ownEnd.total, ownStart.anonymous, ownEnd.anonymous, ownStart.shared, ownEnd.shared, serverStart,
        serverEnd);
    std::printf("soak: load average at the end: %s\n", loadAverage().constData());
    return disagreements == 0 && cleared ? 0 : 1;
}
