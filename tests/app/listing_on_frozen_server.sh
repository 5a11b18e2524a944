#!/usr/bin/env bash
# sonaric --list against a sound server that takes the connection and answers nothing (its pulse server
# stopped with SIGSTOP, under with_sound_server.sh): one line naming the problem on standard error, nothing on
# standard output, a non-zero status, and no long wait. It must not pass the demo scene off as the system.
set -uo pipefail
sonaric=${1:?path to sonaric}
work=$(mktemp -d)
read -r -a pids <"$SONARIC_SOUND_SERVER_DIR/pids"
# pulseaudio, or pipewire wireplumber pipewire-pulse
server=${pids[0]}
[ "$SONARIC_SOUND_SERVER" = pipewire ] && server=${pids[2]}
trap 'kill -CONT $server 2>/dev/null; rm -rf "$work"' EXIT
kill -STOP "$server"
start=$(date +%s%N)
timeout 20 "$sonaric" --list >"$work/out" 2>"$work/err"
status=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }
[ $status -ne 124 ] || fail "still waiting after 20 s"
[ $status -ne 0 ] || fail "exit status 0"
[ -s "$work/out" ] && fail "something on standard output"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "not exactly one line on standard error"
grep -q "^sonaric: the sound server .*answer" "$work/err" || fail "the line does not say the server stopped answering"
[ $elapsed_ms -lt 10000 ] || fail "took ${elapsed_ms} ms"

# Once it answers again, the listing works as ever.
kill -CONT "$server"
"$sonaric" --list >"$work/out" 2>"$work/err" || fail "exit status $? after the server answered again"
grep -q "^output: " "$work/out" || fail "no output devices after the server answered again"
echo "listing on a frozen $SONARIC_SOUND_SERVER: ok (${elapsed_ms} ms, status $status)"
