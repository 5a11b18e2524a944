#pragma once

// The arithmetic of a tap's IO cycle: copy the captured stereo to the output device with a per-buffer gain
// ramp and a peak limiter. Runs on the real-time thread: no allocation, no lock, no system call, no logging.

#include "audio/rt_state.h"
#include "platform/audio/audio_hardware.h"

namespace sonaric
{

/// The limiter's ceiling: no output frame peaks above it (about -0.09 dBFS).
inline constexpr float kLimiterCeiling = 0.99f;

/// One IO cycle. The source is input buffer `state.inputOffset`; output channel k, counted across the output
/// buffers, carries source channel k; everything without a source sample is silence.
void renderTapIO(RTState& state, const AudioBufferList* input, AudioBufferList* output) noexcept;

} // namespace sonaric
