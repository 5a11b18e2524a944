#!/usr/bin/env bash
# Runs a command against a private sound server of its own: with_sound_server.sh pulseaudio|pipewire COMMAND...
# The command finds the server through the environment and can restart it with
# "$SONARIC_SOUND_SERVER_SCRIPT" restart "$SONARIC_SOUND_SERVER" "$SONARIC_SOUND_SERVER_DIR".
# The server is stopped however this script ends (a failed start, the command failing, a timeout's signal).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=${1:?pulseaudio or pipewire}
shift
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonaric-$kind-XXXXXX")
cleanup() {
    "$here/sound_server.sh" stop "$kind" "$dir" >/dev/null 2>&1
    rm -rf "$dir"
}
child=
trap cleanup EXIT
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 143' TERM
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 130' INT
"$here/sound_server.sh" start "$kind" "$dir"
status=$?
if [ $status -ne 0 ]; then
    [ $status -eq 77 ] || { cat "$dir"/*.log "$dir"/*.out 2>/dev/null | tail -40; }
    exit $status
fi
eval "$("$here/sound_server.sh" env "$kind" "$dir")"
export SONARIC_SOUND_SERVER=$kind SONARIC_SOUND_SERVER_DIR=$dir SONARIC_SOUND_SERVER_SCRIPT=$here/sound_server.sh
# In the background, so that a signal reaches the traps above while the command runs.
"$@" &
child=$!
wait "$child"
exit $?
