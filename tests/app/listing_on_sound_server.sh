#!/usr/bin/env bash
# sonaric --list against the real sound server that with_sound_server.sh started: a player with an application
# id and no desktop entry is listed under that id and named by its stream's application name, the null sinks are the output devices, the default one marked, and the platform
# notice goes to standard error only.
set -uo pipefail
sonaric=${1:?path to sonaric}
work=$(mktemp -d)
trap 'kill $player 2>/dev/null; rm -rf "$work"' EXIT
sox -n -r 48000 -c 2 "$work/tone.wav" synth 20 sine 440 vol 0.3 2>/dev/null || exit 1
PULSE_PROP="application.id=org.example.ListedPlayer" paplay "$work/tone.wav" &
player=$!
for _ in $(seq 50); do
    pactl list short sink-inputs 2>/dev/null | grep -q . && break
    sleep 0.1
done
sleep 0.5
"$sonaric" --list >"$work/out" 2>"$work/err"
status=$?
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }
[ $status -eq 0 ] || fail "exit status $status"
grep -qP "^paplay\torg\.example\.ListedPlayer\tpid=$player\tobjects=\[\d+\]$" "$work/out" \
    || fail "no line for the player"
grep -qP '^raw HAL process objects: 1$' "$work/out" || fail "raw count"
[ "$(grep -cP '^output: .*\tsymbol=\S+(\t\(default\))?$' "$work/out")" -ge 1 ] || fail "no output devices"
[ "$(grep -c '(default)' "$work/out")" -eq 1 ] || fail "exactly one default device"
grep -q "using the sound server" "$work/err" || fail "no platform notice on standard error"
grep -q "sound server" "$work/out" && fail "the notice reached standard output"
echo "listing on $SONARIC_SOUND_SERVER: ok"
