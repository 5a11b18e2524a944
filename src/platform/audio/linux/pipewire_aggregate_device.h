#pragma once

#include "platform/audio/linux/aggregate_io_path.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace sonaric
{

/// An aggregate device's IO path inside PipeWire's own graph: one filter node whose inputs are linked to
/// the tap sink's monitor ports and whose outputs are linked to the sub-device's playback ports. The graph
/// runs the application, the tap sink, the filter and the sub-device one after another in the same cycle,
/// on the sub-device's clock, so the path adds no queue, no latency and no drift; the IO block runs in the
/// filter's process callback on PipeWire's real-time data thread.
///
/// Needs the PipeWire daemon behind the pulse server to be reachable from this process (its socket in the
/// runtime directory); `start` fails otherwise, and the caller falls back to PulseAggregateDevice.
class PipeWireAggregateDevice final : public AggregateIOPath
{
public:
    explicit PipeWireAggregateDevice(Config config);
    ~PipeWireAggregateDevice() override;
    PipeWireAggregateDevice(const PipeWireAggregateDevice&) = delete;
    PipeWireAggregateDevice& operator=(const PipeWireAggregateDevice&) = delete;

    /// Connects to PipeWire, adds the filter and links it, waiting at most `timeoutMs` for each step.
    /// `onFirstData` comes from the path's own loop thread, never from the real-time thread.
    bool start(std::function<void()> onFirstData, QString* error) override;
    /// Nothing is queued on this path: a cycle's sound leaves in the same cycle.
    void flush() override { }
    void stop() override;

    /// False once PipeWire dropped the connection, the filter or one of the two devices.
    bool isRunning() const override { return m_running.load(std::memory_order_relaxed); }
    /// Cycles the device played without this path since the tap's sound first came: the filter missed them,
    /// or the tap's sound did not reach it.
    std::uint64_t underruns() const override { return m_dropouts.load(std::memory_order_relaxed); }

private:
    struct Graph;
    void process(std::uint32_t clock, std::uint64_t position, std::uint32_t frames);

    Config m_config;
    std::unique_ptr<Graph> m_graph;

    // Preallocated so that the process callback never allocates.
    std::vector<float> m_silence;
    std::vector<float> m_interleavedInput;
    std::vector<float> m_interleavedOutput;
    std::vector<std::uint8_t> m_inputList;
    std::vector<std::uint8_t> m_outputList;
    std::vector<float*> m_inputs;
    std::vector<float*> m_outputs;
    double m_sampleTime = 0;
    std::uint32_t m_clock = 0; ///< the driver's clock of the last cycle
    std::uint64_t m_nextPosition = 0; ///< where the next cycle of that clock starts

    std::atomic<bool> m_running { false };
    std::atomic<bool> m_firstDataSeen { false };
    std::atomic<std::uint64_t> m_dropouts { 0 };
};

} // namespace sonaric
