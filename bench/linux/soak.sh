#!/usr/bin/env bash
# A soak run of the tap engine on a private PulseAudio and a private PipeWire server: three players get random
# levels, mutes and routes for MINUTES each, every change checked against what each output played. Prints the
# changes, disagreements, underruns, tap sinks left behind and memory growth. Not part of CI.
#
#   bench/linux/soak.sh [MINUTES] [SEED] [SERVER...]     (default 30 minutes, a random seed, both servers)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${SONARIC_BUILD_DIR:-$root/build}
minutes=${1:-30}
seed=${2:-$RANDOM$RANDOM}
shift 2 || shift $#
servers=("$@")
[ ${#servers[@]} -gt 0 ] || servers=(pulseaudio pipewire)
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONARIC_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" --target sonaric-soak >/dev/null
soak=$(find "$build" -name sonaric-soak -type f -perm -u+x | head -1)
status=0
for server in "${servers[@]}"; do
    echo "== $server"
    "$root/tests/platform/linux/with_sound_server.sh" "$server" "$soak" "$minutes" "$seed" || status=1
done
exit $status
