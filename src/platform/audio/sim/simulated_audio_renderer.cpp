#include "platform/audio/sim/simulated_audio_renderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <set>

namespace sonaric
{
namespace
{

// Owns the storage of an AudioBufferList whose buffers hold `frames` frames each.
class BufferListStorage
{
public:
    BufferListStorage(const std::vector<std::uint32_t>& channels, std::uint32_t frames)
        : m_header(audioBufferListSize(std::uint32_t(channels.size())))
    {
        std::size_t samples = 0;
        for (std::uint32_t c : channels)
            samples += std::size_t(c) * frames;
        m_samples.assign(samples, 0.0f);
        list()->mNumberBuffers = std::uint32_t(channels.size());
        std::size_t offset = 0;
        for (std::size_t i = 0; i < channels.size(); ++i) {
            list()->mBuffers[i] = AudioBuffer { channels[i], std::uint32_t(channels[i] * frames * sizeof(float)),
                m_samples.data() + offset };
            offset += std::size_t(channels[i]) * frames;
        }
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(m_header.data()); }

private:
    std::vector<std::byte> m_header;
    std::vector<float> m_samples;
};

} // namespace

SimulatedAudioRenderer::SimulatedAudioRenderer(std::recursive_mutex& mutex, std::map<AudioObjectID, SimDevice>& devices,
    std::map<AudioObjectID, SimProcess>& processes, const std::vector<AudioObjectID>& processOrder,
    const std::map<AudioObjectID, SimTap>& taps, std::map<std::uintptr_t, SimIOProc>& ioProcs,
    const AudioObjectID& defaultOutput)
    : m_mutex(mutex)
    , m_devices(devices)
    , m_processes(processes)
    , m_processOrder(processOrder)
    , m_taps(taps)
    , m_ioProcs(ioProcs)
    , m_defaultOutput(defaultOutput)
{
}

SimulatedAudioRenderer::~SimulatedAudioRenderer()
{
    stopRealTime();
}

void SimulatedAudioRenderer::setBufferFrames(std::uint32_t frames)
{
    std::lock_guard lock(m_mutex);
    m_bufferFrames = std::max<std::uint32_t>(frames, 1);
}

void SimulatedAudioRenderer::advance(std::uint32_t frames)
{
    std::lock_guard lock(m_mutex);
    while (frames > 0) {
        const std::uint32_t cycle = std::min(frames, m_bufferFrames.load(std::memory_order_relaxed));
        renderCycle(cycle);
        frames -= cycle;
    }
}

void SimulatedAudioRenderer::renderProcess(Process& p, std::uint32_t frames, float* stereo)
{
    const auto out = m_devices.find(m_defaultOutput);
    const double rate = out != m_devices.end() ? out->second.scene.sampleRate : 48000.0;
    const SceneSignal& s = p.scene.signal;
    for (std::uint32_t n = 0; n < frames; ++n) {
        float v = 0.0f;
        if (p.scene.playing) {
            const double t = double(p.phaseFrames + n) / rate;
            switch (s.kind) {
            case SceneSignal::Kind::sine:
                v = float(s.amplitude * std::sin(2.0 * std::numbers::pi * s.frequency * t));
                break;
            case SceneSignal::Kind::fullScale:
                // A square wave: every sample sits at the full amplitude, the harshest test of a limiter.
                v = std::fmod(t * s.frequency, 1.0) < 0.5 ? s.amplitude : -s.amplitude;
                break;
            case SceneSignal::Kind::noise:
                p.noiseState = p.noiseState * 1664525u + 1013904223u;
                v = s.amplitude * (float(p.noiseState >> 8) / float(1u << 23) - 1.0f);
                break;
            case SceneSignal::Kind::silence:
                break;
            }
        }
        stereo[2 * n] = v;
        stereo[2 * n + 1] = v;
    }
    p.phaseFrames += frames;
}

bool SimulatedAudioRenderer::aggregateRunning(const Device& d) const
{
    if (!d.isAggregate || !d.subDevice)
        return false;
    return std::any_of(m_ioProcs.begin(), m_ioProcs.end(),
        [&](const auto& entry) { return entry.second.device == d.id && entry.second.running; });
}

void SimulatedAudioRenderer::renderCycle(std::uint32_t frames)
{
    // Each process's stereo signal for this cycle.
    std::map<AudioObjectID, std::vector<float>> sources;
    for (AudioObjectID id : m_processOrder) {
        auto& buffer = sources[id];
        buffer.assign(std::size_t(frames) * 2, 0.0f);
        renderProcess(m_processes.at(id), frames, buffer.data());
    }

    // Processes silenced by a tap.
    std::set<AudioObjectID> silenced;
    for (const auto& [tid, tap] : m_taps) {
        bool read = false;
        for (const auto& [did, d] : m_devices)
            read = read || (aggregateRunning(d) && std::find(d.taps.begin(), d.taps.end(), tid) != d.taps.end());
        const auto behavior = tap.description.muteBehavior;
        if (behavior == CATapMuteBehavior::CATapMuted || (behavior == CATapMuteBehavior::CATapMutedWhenTapped && read))
            silenced.insert(tap.description.processes.begin(), tap.description.processes.end());
    }

    // What each real device plays this cycle, interleaved over all its output channels.
    std::map<AudioObjectID, std::vector<float>> mixes;
    for (const auto& [id, d] : m_devices)
        if (!d.isAggregate)
            mixes[id].assign(std::size_t(frames) * totalChannels(d.scene.outputStreams), 0.0f);

    if (auto out = mixes.find(m_defaultOutput); out != mixes.end()) {
        const std::uint32_t channels = totalChannels(m_devices.at(m_defaultOutput).scene.outputStreams);
        for (const auto& [pid, signal] : sources) {
            if (silenced.contains(pid))
                continue;
            for (std::uint32_t n = 0; n < frames; ++n)
                for (std::uint32_t c = 0; c < std::min<std::uint32_t>(channels, 2); ++c)
                    out->second[std::size_t(n) * channels + c] += signal[2 * n + c];
        }
    }

    for (auto& [id, d] : m_devices) {
        if (!aggregateRunning(d))
            continue;
        const Device& sub = m_devices.at(d.subDevice);
        // The sub-device's own input streams, then one stereo stream per tap.
        std::vector<std::uint32_t> inputStreams = sub.scene.inputStreams;
        inputStreams.insert(inputStreams.end(), d.taps.size(), 2);
        BufferListStorage input(inputStreams, frames);
        // The sub-device's own inputs carry a steady hum, so a block that reads the wrong buffer is heard.
        std::uint32_t b = 0;
        for (; b < sub.scene.inputStreams.size(); ++b) {
            AudioBuffer& buffer = input.list()->mBuffers[b];
            std::fill_n(static_cast<float*>(buffer.mData), buffer.mDataByteSize / sizeof(float), 0.125f);
        }
        for (AudioObjectID tid : d.taps) {
            auto* samples = static_cast<float*>(input.list()->mBuffers[b++].mData);
            for (AudioObjectID pid : m_taps.at(tid).description.processes) {
                auto signal = sources.find(pid);
                if (signal == sources.end())
                    continue;
                for (std::size_t i = 0; i < std::size_t(frames) * 2; ++i)
                    samples[i] += signal->second[i];
            }
        }
        BufferListStorage output(sub.scene.outputStreams, frames);
        const AudioTimeStamp now;
        for (auto& [handle, proc] : m_ioProcs)
            if (proc.device == id && proc.running)
                proc.block(&now, input.list(), &now, output.list(), &now);
        // Buffers are separate streams of the device; its played record interleaves them channel by channel.
        auto& mix = mixes[sub.id];
        const std::uint32_t channels = totalChannels(sub.scene.outputStreams);
        std::uint32_t first = 0;
        for (std::uint32_t i = 0; i < output.list()->mNumberBuffers; ++i) {
            const AudioBuffer& buffer = output.list()->mBuffers[i];
            const auto* samples = static_cast<const float*>(buffer.mData);
            for (std::uint32_t n = 0; n < frames; ++n)
                for (std::uint32_t c = 0; c < buffer.mNumberChannels; ++c)
                    mix[std::size_t(n) * channels + first + c] += samples[std::size_t(n) * buffer.mNumberChannels + c];
            first += buffer.mNumberChannels;
        }
    }

    for (auto& [id, mix] : mixes) {
        auto& played = m_devices.at(id).played;
        played.insert(played.end(), mix.begin(), mix.end());
        if (m_realTime) {
            // Nobody collects what the demo plays; keep only its last tenth of a second, in storage that does not
            // grow past twice that, so a demo left running for days holds a few hundred kilobytes per device.
            const std::size_t keep = std::size_t(m_devices.at(id).scene.sampleRate)
                * totalChannels(m_devices.at(id).scene.outputStreams) / 10;
            if (played.size() > 2 * keep)
                played.erase(played.begin(), played.end() - std::ptrdiff_t(keep));
        }
    }
}

std::vector<float> SimulatedAudioRenderer::takePlayed(const QString& uid)
{
    std::lock_guard lock(m_mutex);
    for (auto& [id, d] : m_devices)
        if (d.scene.uid == uid)
            return std::exchange(d.played, {});
    return {};
}

void SimulatedAudioRenderer::startRealTime()
{
    if (m_realTime.exchange(true))
        return;
    m_pacer = std::thread([this] {
        using clock = std::chrono::steady_clock;
        auto next = clock::now();
        while (m_realTime) {
            const std::uint32_t frames = bufferFrames();
            next += std::chrono::microseconds(std::int64_t(frames) * 1'000'000 / 48'000);
            advance(frames);
            std::this_thread::sleep_until(next);
        }
    });
}

void SimulatedAudioRenderer::stopRealTime()
{
    if (!m_realTime.exchange(false))
        return;
    if (m_pacer.joinable())
        m_pacer.join();
}

} // namespace sonaric
