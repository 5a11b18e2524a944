#pragma once

// What both native controllers share: running one operation at a time on their own queue and turning the
// failures thrown inside an operation into its outcome.

#include "native/native_volume_controlling.h"
#include "platform/serial_queue.h"

namespace sonaric::native_detail
{

/// Ends an operation with `NativeVolumeCancelled` when its token was cancelled.
inline void checkCancellation(const CancellationToken& cancellation)
{
    if (cancellation.isCancelled())
        throw NativeVolumeCancelled {};
}

/// Queues `operation` and hands its outcome to `done`, both on `queue`. The operation throws
/// `NativeVolumeError` or `NativeVolumeCancelled`; nothing else escapes.
template <typename Operation>
void runOperation(SerialQueue& queue, NativeVolumeControlling::Completion done, Operation operation)
{
    queue.async([done = std::move(done), operation = std::move(operation)]() mutable {
        std::optional<NativeVolumeResult> result;
        try {
            result.emplace(operation());
        } catch (const NativeVolumeError& error) {
            result.emplace(error);
        } catch (const NativeVolumeCancelled& cancelled) {
            result.emplace(cancelled);
        }
        if (done)
            done(*result);
    });
}

} // namespace sonaric::native_detail
