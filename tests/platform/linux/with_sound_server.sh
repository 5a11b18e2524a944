#!/usr/bin/env bash
# Runs a command against a private sound server of its own: with_sound_server.sh pulseaudio|pipewire COMMAND...
# The command finds the server through the environment and can restart it with
# "$SONARIC_SOUND_SERVER_SCRIPT" restart "$SONARIC_SOUND_SERVER" "$SONARIC_SOUND_SERVER_DIR".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
kind=${1:?pulseaudio or pipewire}
shift
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonaric-$kind-XXXXXX")
"$here/sound_server.sh" start "$kind" "$dir"
status=$?
if [ $status -ne 0 ]; then
    [ $status -eq 77 ] || { cat "$dir"/*.log "$dir"/*.out 2>/dev/null | tail -40; }
    rm -rf "$dir"
    exit $status
fi
eval "$("$here/sound_server.sh" env "$kind" "$dir")"
export SONARIC_SOUND_SERVER=$kind SONARIC_SOUND_SERVER_DIR=$dir SONARIC_SOUND_SERVER_SCRIPT=$here/sound_server.sh
"$@"
status=$?
"$here/sound_server.sh" stop "$kind" "$dir"
rm -rf "$dir"
exit $status
