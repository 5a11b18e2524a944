#!/usr/bin/python3
"""The tray program's figures against a minimal Qt Quick tray program built beside it, on a private Xvfb with a
real XEmbed tray and Qt's software renderer:

    tray_bench.py SONARIC MINIMAL_TRAY [--idle-seconds 20] [--openings 6]

- resident memory with the popover closed and after opening it once;
- time from the tray activation to the popover's first frame, first and later openings;
- idle with the popover closed: main-thread wake-ups (context switches) and CPU time over the idle period.
Sonaric runs on the simulated system's demo scene, whose audio pacing thread is reported apart from the main
thread."""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "app",
                                "end_to_end"))
from desktop import Desktop, wait_for  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def thread_counters(pid, tid):
    """(context switches, CPU seconds) of one thread."""
    switches = 0
    with open(f"/proc/{pid}/task/{tid}/status") as status:
        for line in status:
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                switches += int(line.split()[1])
    with open(f"/proc/{pid}/task/{tid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return switches, (int(fields[11]) + int(fields[12])) / TICKS


def process_cpu(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class Program:
    def __init__(self, desktop, name, args, env):
        self.desktop, self.name = desktop, name
        self.log = tempfile.NamedTemporaryFile("w+", prefix=f"{name}-", suffix=".log")
        self.process = subprocess.Popen(args, env=env, stdout=self.log, stderr=self.log, start_new_session=True)

    def timings(self):
        self.log.flush()
        self.log.seek(0)
        return [float(m.group(1)) for m in re.finditer(r"first frame after ([0-9.]+) ms", self.log.read())]

    def icon(self):
        classname = os.path.basename(self.process.args[0])
        for window in self.desktop.xdotool("search", "--onlyvisible", "--classname", classname).split():
            x, y, w, h = self.desktop.window_geometry(window)
            if w <= 64 and h <= 64 and y < 40:
                return x + w // 2, y + h // 2
        return None

    def popover_open(self):
        return bool(self.desktop.visible_windows("^Sonaric$"))

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


def measure(desktop, name, args, env, idle_seconds, openings):
    program = Program(desktop, name, args, env)
    icon = wait_for(f"{name}'s tray icon", program.icon, timeout=30)
    time.sleep(3)  # let start-up work finish
    pid = program.process.pid
    figures = {"rss_closed_kib": rss_kib(pid)}

    switches0, cpu0 = thread_counters(pid, pid)
    all0 = process_cpu(pid)
    time.sleep(idle_seconds)
    switches1, cpu1 = thread_counters(pid, pid)
    figures["idle_main_wakeups_per_s"] = (switches1 - switches0) / idle_seconds
    figures["idle_main_cpu_ms_per_s"] = (cpu1 - cpu0) * 1000 / idle_seconds
    figures["idle_process_cpu_ms_per_s"] = (process_cpu(pid) - all0) * 1000 / idle_seconds

    for opening in range(openings):
        desktop.click(*icon)
        wait_for(f"{name}'s popover", program.popover_open, timeout=10)
        wait_for(f"{name}'s first frame", lambda: len(program.timings()) > opening, timeout=10)
        time.sleep(0.4)
        if opening == 0:
            figures["rss_opened_kib"] = rss_kib(pid)
        desktop.click(*icon)
        wait_for(f"{name}'s popover to close", lambda: not program.popover_open(), timeout=10)
        time.sleep(1.2)  # past the one-second rule about a release after the closing press
    times = program.timings()
    figures["first_open_ms"] = times[0]
    figures["later_open_ms"] = statistics.median(times[1:]) if len(times) > 1 else float("nan")
    program.stop()
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sonaric")
    parser.add_argument("minimal")
    parser.add_argument("--idle-seconds", type=float, default=20)
    parser.add_argument("--openings", type=int, default=6)
    options = parser.parse_args()

    desktop = Desktop("xembed")
    try:
        home = tempfile.mkdtemp(prefix="sonaric-bench-home-")
        env = dict(desktop.env)
        env.update({"QT_QPA_PLATFORM": "xcb", "QT_QUICK_BACKEND": "software", "XDG_CONFIG_HOME": home,
                    "XDG_RUNTIME_DIR": home, "QT_LOGGING_RULES": "sonaric.timing.debug=true"})
        baseline = measure(desktop, "minimal", [options.minimal], env, options.idle_seconds, options.openings)
        sonaric = measure(desktop, "sonaric", [options.sonaric, "--platform=sim"], env, options.idle_seconds,
                          options.openings)
    finally:
        desktop.close()

    print(f"{'figure':32s} {'sonaric':>10s} {'minimal':>10s} {'ratio':>8s}")
    for key in ("rss_closed_kib", "rss_opened_kib", "first_open_ms", "later_open_ms", "idle_main_wakeups_per_s",
                "idle_main_cpu_ms_per_s", "idle_process_cpu_ms_per_s"):
        a, b = sonaric[key], baseline[key]
        ratio = f"{a / b:7.2f}x" if b else "    n/a"
        print(f"{key:32s} {a:10.2f} {b:10.2f} {ratio}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
