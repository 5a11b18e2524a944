// A small audio application for the integration tests: plays a sine through libpulse, names itself with an
// application id and media role, can open a second stream later or replace its stream with a new one (as a
// player between tracks does), and reconnects when the server goes away.
//
//   sonaric-test-player [--app-id ID] [--role ROLE] [--name NAME] [--amplitude A] [--frequency HZ]
//                       [--seconds S] [--second-stream-after MS] [--reopen-after MS]

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{

struct Options {
    std::string appId, role, name = "Test Player";
    double amplitude = 1.0, frequency = 440.0, seconds = 30.0;
    int secondStreamAfterMs = -1;
    int reopenAfterMs = -1; ///< the first stream is closed then and another opened at once
};

std::atomic<bool> g_done { false };

void play(const Options& options, const char* streamName, int reopenAfterMs)
{
    constexpr unsigned rate = 48000;
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, rate, 2 };
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = rate * 8 * 40 / 1000; // 40 ms: short enough that a move is heard at once
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    std::vector<float> chunk(rate / 100 * 2); // 10 ms
    double phase = 0;
    const double step = 2 * M_PI * options.frequency / rate;
    while (!g_done) {
        int error = 0;
        pa_simple* s = pa_simple_new(
            nullptr, options.name.c_str(), PA_STREAM_PLAYBACK, nullptr, streamName, &spec, nullptr, &attr, &error);
        if (!s) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        const auto opened = std::chrono::steady_clock::now();
        while (!g_done) {
            if (reopenAfterMs >= 0
                && std::chrono::steady_clock::now() - opened >= std::chrono::milliseconds(reopenAfterMs)) {
                reopenAfterMs = -1;
                break;
            }
            for (std::size_t i = 0; i < chunk.size(); i += 2) {
                const auto v = float(options.amplitude * std::sin(phase));
                chunk[i] = chunk[i + 1] = v;
                phase += step;
            }
            phase = std::fmod(phase, 2 * M_PI);
            if (pa_simple_write(s, chunk.data(), chunk.size() * sizeof(float), &error) < 0)
                break;
        }
        pa_simple_free(s);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--app-id")
            options.appId = value;
        else if (key == "--role")
            options.role = value;
        else if (key == "--name")
            options.name = value;
        else if (key == "--amplitude")
            options.amplitude = std::atof(value);
        else if (key == "--frequency")
            options.frequency = std::atof(value);
        else if (key == "--seconds")
            options.seconds = std::atof(value);
        else if (key == "--second-stream-after")
            options.secondStreamAfterMs = std::atoi(value);
        else if (key == "--reopen-after")
            options.reopenAfterMs = std::atoi(value);
        else {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            return 2;
        }
    }
    // libpulse adds these to every context this process creates.
    std::string properties;
    if (!options.appId.empty())
        properties += "application.id='" + options.appId + "' ";
    if (!options.role.empty())
        properties += "media.role='" + options.role + "' ";
    if (!properties.empty())
        setenv("PULSE_PROP", properties.c_str(), 1);

    std::thread first(play, std::cref(options), "first", options.reopenAfterMs);
    std::thread second;
    if (options.secondStreamAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.secondStreamAfterMs));
        second = std::thread(play, std::cref(options), "second", -1);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    g_done = true;
    first.join();
    if (second.joinable())
        second.join();
    return 0;
}
