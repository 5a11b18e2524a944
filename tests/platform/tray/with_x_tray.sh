#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) whose screen has an XEmbed system tray (trayer, docked at the top
# right): with_x_tray.sh COMMAND...
# DISPLAY points at it; the server and the tray are stopped however this script ends. Exit status 77: Xvfb or
# trayer is not installed.
set -uo pipefail
for program in Xvfb xdpyinfo trayer; do
    command -v "$program" >/dev/null 2>&1 || { echo "with_x_tray: $program is not installed" >&2; exit 77; }
done
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonaric-x-XXXXXX")
xvfb=
tray=
child=
cleanup() {
    [ -n "$tray" ] && kill "$tray" 2>/dev/null
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null
        wait "$xvfb" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 143' TERM
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 130' INT
# A display number with neither a lock file nor a listening socket (a server in another mount namespace shares the
# abstract sockets, so -displayfd's first number without a lock could reach someone else's server). -noreset keeps
# the server as it is when the last client leaves.
display=
for _ in $(seq 1 8); do
    number=$((200 + RANDOM % 5800))
    grep -q "/tmp/.X11-unix/X$number\$" /proc/net/unix && continue
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
    Xvfb ":$number" -noreset -screen 0 1280x800x24 -nolisten tcp 2>>"$dir/xvfb.log" &
    xvfb=$!
    for _ in $(seq 1 200); do
        kill -0 "$xvfb" 2>/dev/null || break
        DISPLAY=":$number" xdpyinfo >/dev/null 2>&1 && { display=$number; break; }
        sleep 0.05
    done
    [ -n "$display" ] && break
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    xvfb=
done
[ -n "$display" ] || { echo "with_x_tray: Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"
trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true \
    >"$dir/trayer.log" 2>&1 &
tray=$!
# The tray is ready once its panel window exists (it takes the tray selection when it makes it).
for _ in $(seq 1 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"panel": ("panel" "trayer")' && break
    sleep 0.05
done
"$@" &
child=$!
wait "$child"
exit $?
