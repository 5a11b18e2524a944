#pragma once

#include <atomic>
#include <cstdint>

namespace sonaric
{

/// The state a tap shares with its IO block on the real-time thread. Every field is a lock-free atomic used
/// with relaxed ordering: each is a single value, read at most once per IO cycle, with no ordering between
/// fields to preserve.
struct RTState {
    std::atomic<float> targetGain { 1.0f }; ///< written by the engine queue: the gain the user asked for
    std::atomic<float> currentGain { 1.0f }; ///< written by the IO block: where the next ramp starts
    std::atomic<std::int32_t> inputOffset { 0 }; ///< written by start(): the tap's buffer in the input list
    std::atomic<float> limiterGain { 1.0f }; ///< written by the IO block: above 0, at most 1
    std::atomic<float> releaseCoeff { 0.0001f }; ///< written by start(): per-sample limiter release

    explicit RTState(float gain = 1.0f)
        : targetGain(gain)
        , currentGain(gain)
    {
    }
};

static_assert(std::atomic<float>::is_always_lock_free && std::atomic<std::int32_t>::is_always_lock_free,
    "the real-time thread must never wait on a lock");

} // namespace sonaric
