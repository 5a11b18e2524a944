#!/usr/bin/env bash
# Starts, stops and restarts a private, headless sound server for the integration tests and the benchmark.
#
#   sound_server.sh start|stop|restart pulseaudio|pipewire DIR [SECONDS]
#
# Everything lives under DIR (runtime directory, home, state, logs), so nothing of the machine's own session
# is touched. Callers export the environment printed by `env DIR` (or source `sound_server.sh env DIR`).
# Two null sinks are loaded: "speakers" (the default) and "headphones". Exit status 77: the server is not
# installed. SECONDS (start and restart) keeps the two sinks back that long after the server answers, so it
# starts with none of its own (PulseAudio then has its placeholder sink, PipeWire nothing).
set -euo pipefail

command=${1:?command}
kind=${2:?pulseaudio or pipewire}
dir=${3:?directory}
sinks_after=${4:-0}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

export XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state"
export XDG_DATA_HOME="$dir/data"
unset PULSE_SERVER PULSE_RUNTIME_PATH PIPEWIRE_REMOTE DBUS_SESSION_BUS_ADDRESS
mkdir -p "$XDG_RUNTIME_DIR" "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME"
chmod 700 "$XDG_RUNTIME_DIR"

require() {
    for program in "$@"; do
        command -v "$program" >/dev/null 2>&1 || { echo "sound_server: $program is not installed" >&2; exit 77; }
    done
}

wait_ready() {
    for _ in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "sound_server: $kind did not answer" >&2
    return 1
}

load_sinks() {
    if ! pactl list short sinks | grep -q $'\tspeakers\t'; then
        pactl load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers >/dev/null
    fi
    if ! pactl list short sinks | grep -q $'\theadphones\t'; then
        pactl load-module module-null-sink sink_name=headphones sink_properties=device.description=Headphones >/dev/null
    fi
    for _ in $(seq 1 50); do
        pactl set-default-sink speakers 2>/dev/null && [ "$(pactl get-default-sink)" = speakers ] && return 0
        sleep 0.1
    done
    echo "sound_server: could not make speakers the default sink" >&2
    return 1
}

start() {
    case $kind in
    pulseaudio)
        require pulseaudio pactl
        cat >"$dir/pulse.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-stream-restore restore_device=true
load-module module-default-device-restore
load-module module-always-sink
PA
        # Running as root needs --system=false spelled out; the daemon stays in the foreground for us to own.
        setsid pulseaudio --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit -n -F "$dir/pulse.pa" \
            --log-target=file:"$dir/pulseaudio.log" >>"$dir/pulseaudio.out" 2>&1 &
        echo $! >"$dir/pids"
        ;;
    pipewire)
        require pipewire wireplumber pipewire-pulse dbus-daemon pactl
        if [ ! -s "$dir/dbus.address" ] || ! kill -0 "$(cat "$dir/dbus.pid" 2>/dev/null)" 2>/dev/null; then
            dbus-daemon --session --fork --address="unix:path=$dir/run/bus" --print-pid=3 3>"$dir/dbus.pid" >/dev/null
            echo "unix:path=$dir/run/bus" >"$dir/dbus.address"
        fi
        export DBUS_SESSION_BUS_ADDRESS=$(cat "$dir/dbus.address")
        setsid pipewire >>"$dir/pipewire.log" 2>&1 &
        local pw=$!
        for _ in $(seq 1 50); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
        setsid wireplumber >>"$dir/wireplumber.log" 2>&1 &
        local wp=$!
        setsid pipewire-pulse >>"$dir/pipewire-pulse.log" 2>&1 &
        echo "$pw $wp $!" >"$dir/pids"
        # A client that connects before the pulse server made its directory would make it first, and the
        # server then refuses to start.
        for _ in $(seq 1 50); do [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break; sleep 0.1; done
        ;;
    *)
        echo "sound_server: unknown server $kind" >&2
        exit 2
        ;;
    esac
    wait_ready
    # A server that answers before its outputs are there, as one does while a card or a headset comes up.
    sleep "$sinks_after"
    load_sinks
    # A null sink renders in periods as long as its clients allow, up to seconds, so a capture of its monitor
    # can wait that long for its first data. A low-latency reader on each keeps them running like a sound
    # card does.
    for sink in speakers headphones; do
        setsid parec --latency-msec=5 -d "$sink.monitor" --raw >/dev/null 2>&1 &
        echo $! >>"$dir/pids"
    done
}

stop() {
    if [ -f "$dir/pids" ]; then
        for pid in $(cat "$dir/pids"); do kill "$pid" 2>/dev/null || true; done
        for pid in $(cat "$dir/pids"); do
            for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -9 "$pid" 2>/dev/null || true
        done
        rm -f "$dir/pids"
    fi
    rm -f "$XDG_RUNTIME_DIR/pulse/native" "$XDG_RUNTIME_DIR/pulse/pid"
}

case $command in
start) start ;;
stop)
    stop
    if [ -f "$dir/dbus.pid" ]; then kill "$(cat "$dir/dbus.pid")" 2>/dev/null || true; rm -f "$dir/dbus.pid" "$dir/dbus.address"; fi
    ;;
restart)
    stop
    start
    ;;
env)
    echo "export XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR' HOME='$HOME' XDG_CONFIG_HOME='$XDG_CONFIG_HOME'"
    echo "export XDG_STATE_HOME='$XDG_STATE_HOME' XDG_DATA_HOME='$XDG_DATA_HOME'"
    [ -s "$dir/dbus.address" ] && echo "export DBUS_SESSION_BUS_ADDRESS='$(cat "$dir/dbus.address")'"
    echo "unset PULSE_SERVER PULSE_RUNTIME_PATH"
    ;;
*)
    echo "usage: sound_server.sh start|stop|restart|env pulseaudio|pipewire DIR" >&2
    exit 2
    ;;
esac
