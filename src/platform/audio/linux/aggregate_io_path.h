#pragma once

#include "platform/audio/audio_hardware.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace sonaric
{

/// The running half of an aggregate device: what carries the tap sink's sound through the IO block into the
/// sub-device while the device runs. PulseAggregateDevice does it with a pair of pulse streams on any
/// server; PipeWireAggregateDevice does it inside PipeWire's own graph.
class AggregateIOPath
{
public:
    struct Config {
        QString tapSink; ///< the tap sink (its name)
        QString tapMonitor; ///< the source to capture (the tap sink's monitor)
        QString outputSink; ///< the sub-device
        std::uint32_t rate = 48000;
        std::uint32_t outputChannels = 2;
        std::uint32_t latencyMs = 10; ///< the playback queue's target, where the path has a queue
        AudioDeviceIOBlock block;
    };

    virtual ~AggregateIOPath() = default;

    /// Connects the path and waits until it runs. `onFirstData` is called once, from a thread of the path's
    /// own, when the tap first delivers sound: only then can the tapped streams be moved in without a gap.
    virtual bool start(std::function<void()> onFirstData, QString* error) = 0;
    /// Drops what is queued for the sub-device, so nothing plays twice once the streams are moved back.
    virtual void flush() = 0;
    virtual void stop() = 0;

    /// False once the server dropped the path.
    virtual bool isRunning() const = 0;
    /// How often the sub-device went without sound from this path since it started.
    virtual std::uint64_t underruns() const = 0;
};

} // namespace sonaric
