#!/usr/bin/env bash
# Times the verification of a 100 MB update image (size and digest, unpack, copy, manifest and signature)
# against sha256sum and unsquashfs run alone on the same file in the same run, and reports the peak memory of
# each. Three rounds; prints every round and the ratios of the medians.
# Usage: bench/update/verify.sh [MEGABYTES]   (SONARIC_BENCH_DIR: the release build, default build-release/)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${SONARIC_BENCH_DIR:-$root/build-release}
megabytes=${1:-100}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONARIC_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target update_verify_bench sonaric-sign >/dev/null
bench=$build/bench/update/update_verify_bench
sign=$build/src/platform/bundle/sonaric-sign

work=$(mktemp -d "${TMPDIR:-/tmp}/sonaric-verify-bench.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
openssl genpkey -algorithm ed25519 -out "$work/key.pem"
key=$($sign public-key "$work/key.pem")

# An application folder whose programs and resources do not compress, so the image is as large as asked.
app=$work/Sonaric.app
mkdir -p "$app/lib"
printf '{"CFBundleIdentifier": "org.sonaric.Sonaric", "CFBundleVersion": "2"}\n' >"$app/Info.json"
for i in $(seq 1 20); do head -c $((megabytes * 1024 * 1024 / 20)) /dev/urandom >"$app/lib/part$i.so"; done
$sign sign "$work/key.pem" "$app"
mksquashfs "$app" "$work/image" -keep-as-directory -all-root -no-xattrs -noappend -quiet -no-progress >/dev/null
size=$(stat -c %s "$work/image")
digest=$(sha256sum "$work/image" | cut -d' ' -f1)
echo "image: $size bytes"

measure() { # measure LABEL COMMAND...: prints "LABEL seconds peak-KiB [what the command printed]"
    local label=$1; shift
    local printed; printed=$(/usr/bin/time -f '%e %M' -o "$work/time" "$@" 2>/dev/null)
    echo "$label $(tail -1 "$work/time") $printed"
}
results=$work/results
: >"$results"
for round in 1 2 3; do
    sync; measure sha256sum sha256sum "$work/image" | tee -a "$results"
    rm -rf "$work/alone"
    sync; measure unsquashfs unsquashfs -no-xattrs -quiet -no-progress -dest "$work/alone" "$work/image" | tee -a "$results"
    chmod -R u+w "$work/alone"; rm -rf "$work/alone"
    # The installation consumes its image: it gets a copy, made outside the timing.
    mkdir -p "$work/opt/Sonaric.app"
    printf '{"CFBundleIdentifier": "org.sonaric.Sonaric", "CFBundleVersion": "1"}\n' >"$work/opt/Sonaric.app/Info.json"
    cp "$work/image" "$work/download"
    sync; measure install "$bench" install "$work/download" "$digest" "$size" "$key" "$work/opt/Sonaric.app" | tee -a "$results"
    rm -rf "$work/opt"
    "$bench" steps "$work/image" "$key" | sed 's/^/step /' | tee -a "$results"
done
python3 - "$results" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
def median(label, column=1):
    return statistics.median(float(r[column]) for r in rows if r[0] == label)
def step(name):
    return statistics.median(float(r[2]) for r in rows if r[0] == "step" and r[1] == name)
sha, unsq, inst = median("sha256sum"), median("unsquashfs"), median("install")
print()
print(f"{'':34s} {'median s':>9s} {'ratio':>22s} {'peak RSS':>10s}")
print(f"{'sha256sum alone':34s} {sha:9.2f} {'1.00x':>22s} {median('sha256sum', 2)/1024:8.1f} MB")
print(f"{'unsquashfs alone':34s} {unsq:9.2f} {'1.00x':>22s} {median('unsquashfs', 2)/1024:8.1f} MB")
print(f"{'installation (whole)':34s} {inst:9.2f} {inst/(sha+unsq):9.2f}x sha256sum+unsquashfs {median('install', 3)/1024:8.1f} MB")
print(f"{'  its unsquashfs':34s} {'':9s} {'':22s} {median('install', 4)/1024:8.1f} MB")
print(f"{'  step: size and digest':34s} {step('digest'):9.2f} {step('digest')/sha:9.2f}x sha256sum")
print(f"{'  step: unpack':34s} {step('unpack'):9.2f} {step('unpack')/unsq:9.2f}x unsquashfs")
print(f"{'  step: copy out of the image':34s} {step('copy'):9.2f}")
print(f"{'  step: manifest and signature':34s} {step('signature'):9.2f} {step('signature')/sha:9.2f}x sha256sum")
print(f"{'  step: detach':34s} {step('detach'):9.2f}")
PY
