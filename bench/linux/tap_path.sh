#!/usr/bin/env bash
# Figures of the Linux tap path on a private PulseAudio and a private PipeWire server: the latency the tap
# path adds over direct playback, underruns over a minute of three tapped streams, and Sonaric's CPU time
# for them against the server's own for the same streams played directly.
#
#   bench/linux/tap_path.sh [BASELINE_SECONDS] [SECONDS]     (default 30 and 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${SONARIC_BUILD_DIR:-$root/build}
baseline=${1:-30}
seconds=${2:-60}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target sonaric-tap-bench >/dev/null
bench=$(find "$build" -name sonaric-tap-bench -type f -perm -u+x | head -1)
for server in pulseaudio pipewire; do
    echo "== $server"
    "$root/tests/platform/linux/with_sound_server.sh" "$server" "$bench" latency
    "$root/tests/platform/linux/with_sound_server.sh" "$server" "$bench" load "$baseline" "$seconds"
done
