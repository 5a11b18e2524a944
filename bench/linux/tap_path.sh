#!/usr/bin/env bash
# Figures of the Linux paths of a level on a private PulseAudio and a private PipeWire server: the latency each
# path adds over direct playback, and for three streams at 0.5 (the server's own stream volume) and at 2.0 (the
# tap path) the underruns over a minute and Sonaric's and the server's CPU time against the server's own for
# the same streams played directly.
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
    for gain in 0.5 2.0; do
        "$root/tests/platform/linux/with_sound_server.sh" "$server" "$bench" load "$gain" "$baseline" "$seconds"
    done
done
