#pragma once

#include "platform/audio/linux/aggregate_io_path.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct pa_stream;

namespace sonaric
{

class PulseConnection;

/// An aggregate device's IO path on any pulse server: a capture of the tap sink's monitor and a playback
/// into the sub-device, joined by the IO block through a ring held at the playback queue's target. Each one
/// has a connection and loop thread of its own; that thread runs nothing but this device's IO, so it serves
/// as the device's real-time IO thread.
class PulseAggregateDevice final : public AggregateIOPath
{
public:
    explicit PulseAggregateDevice(Config config);
    ~PulseAggregateDevice() override;
    PulseAggregateDevice(const PulseAggregateDevice&) = delete;
    PulseAggregateDevice& operator=(const PulseAggregateDevice&) = delete;

    /// Connects both streams and waits until they run; `onFirstData` comes from the IO thread.
    bool start(std::function<void()> onFirstData, QString* error) override;
    void flush() override;
    void stop() override;

    /// False once the server dropped either stream.
    bool isRunning() const override { return m_running.load(std::memory_order_relaxed); }
    /// Playback underruns, as the server reported them.
    std::uint64_t underruns() const override { return m_underruns.load(std::memory_order_relaxed); }

private:
    void captured();
    void pushToRing(std::size_t frames);
    void pump();
    void adjustRate(std::size_t queuedBytes);
    void streamStateChanged(pa_stream* stream);
    void underrun();
    std::size_t primeFrames() const;

    Config m_config;
    std::unique_ptr<PulseConnection> m_connection;
    pa_stream* m_capture = nullptr;
    pa_stream* m_playback = nullptr;
    std::function<void()> m_onFirstData;

    // Preallocated so that the IO path never allocates.
    std::vector<float> m_output;
    std::vector<float> m_silence;
    std::vector<float> m_ring; ///< processed sound waiting for the device, one second at most
    std::size_t m_ringStart = 0;
    std::size_t m_ringFrames = 0;
    std::size_t m_maxRingFrames = 0;
    std::vector<std::uint8_t> m_inputList;
    std::vector<std::uint8_t> m_outputList;
    std::size_t m_maxFrames = 0;
    double m_sampleTime = 0;

    std::size_t m_targetBytes = 0;
    std::size_t m_burstBytes = 0;
    std::size_t m_maxTargetBytes = 0;
    std::uint64_t m_lastRaise = 0;
    double m_queueSum = 0;
    double m_setpoint = 0;
    std::uint32_t m_queueSamples = 0;
    std::uint32_t m_currentRate = 0;
    bool m_prioritySet = false;
    bool m_priming = true; ///< holding captured sound back until the queue can start with a margin

    std::atomic<bool> m_running { false };
    std::atomic<bool> m_firstDataSeen { false };
    std::atomic<std::uint64_t> m_underruns { 0 };
};

} // namespace sonaric
