#pragma once

#include "native/cancellation_token.h"
#include "native/native_volume_error.h"
#include "native/native_volume_records.h"

#include <functional>
#include <variant>

namespace sonaric
{

/// The operation was cancelled (checked at the points the controller's behaviour names).
struct NativeVolumeCancelled {
    bool operator==(const NativeVolumeCancelled&) const = default;
};

/// The outcome of one controller operation: the connection, a failure to show, or a cancellation.
class NativeVolumeResult
{
public:
    NativeVolumeResult(NativeVolumeConnection connection)
        : m_value(std::move(connection))
    {
    }
    NativeVolumeResult(NativeVolumeError error)
        : m_value(std::move(error))
    {
    }
    NativeVolumeResult(NativeVolumeCancelled cancelled)
        : m_value(cancelled)
    {
    }

    bool isSuccess() const { return std::holds_alternative<NativeVolumeConnection>(m_value); }
    bool isFailure() const { return std::holds_alternative<NativeVolumeError>(m_value); }
    bool isCancelled() const { return std::holds_alternative<NativeVolumeCancelled>(m_value); }
    /// Only valid when `isSuccess()`.
    const NativeVolumeConnection& connection() const { return std::get<NativeVolumeConnection>(m_value); }
    /// Only valid when `isFailure()`.
    const NativeVolumeError& error() const { return std::get<NativeVolumeError>(m_value); }

    bool operator==(const NativeVolumeResult&) const = default;

private:
    std::variant<NativeVolumeConnection, NativeVolumeError, NativeVolumeCancelled> m_value;
};

/// A native controller (`AppVolume`, `BrowserMediaVolume`). Each runs one operation at a time on its own
/// serial queue, off the main thread: a call returns at once, and `done` later runs on the controller's queue
/// with the outcome (the caller moves it to its own thread). A cancelled token turns an operation that has not
/// reached a cancellation check yet into `NativeVolumeCancelled`; a script that is already running completes.
class NativeVolumeControlling
{
public:
    using Completion = std::function<void(const NativeVolumeResult&)>;

    virtual ~NativeVolumeControlling() = default;

    /// Verifies that the source can be controlled and reports its current volumes.
    virtual void connect(CancellationToken cancellation, Completion done) = 0;
    /// Re-reads the volumes (the periodic refresh).
    virtual void read(const NativeVolumeConnection& current, CancellationToken cancellation, Completion done) = 0;
    /// Applies the desired states (key "" = the application, other keys = tab keys) and reports the
    /// connection read back afterwards.
    virtual void set(const NativeVolumeChanges& desired, const NativeVolumeConnection& current,
        CancellationToken cancellation, Completion done)
        = 0;
    /// Awaited by the session before it forgets a connection; `done` runs when nothing is pending.
    virtual void finishPendingOperations(std::function<void()> done) = 0;
};

} // namespace sonaric
