#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus of its own: with_session_bus.sh COMMAND...
# DBUS_SESSION_BUS_ADDRESS points at the bus; nothing of the machine's own session is seen. The bus is stopped
# however this script ends (the command failing, a timeout's signal). Exit status 77: dbus-daemon is not installed.
set -uo pipefail
command -v dbus-daemon >/dev/null 2>&1 || { echo "with_session_bus: dbus-daemon is not installed" >&2; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonaric-bus-XXXXXX")
pid=
child=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 143' TERM
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 130' INT
dbus-daemon --session --fork --nopidfile --address="unix:path=$dir/bus" --print-pid=3 3>"$dir/pid" >/dev/null
pid=$(cat "$dir/pid")
[ -n "$pid" ] || { echo "with_session_bus: dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
# In the background, so that a signal reaches the traps above while the command runs.
"$@" &
child=$!
wait "$child"
exit $?
