"""A private desktop for end-to-end tests: an X server (Xvfb), a session bus with the accessibility bus, a tray
(a real XEmbed tray, or the StatusNotifierItem test host), and helpers to click, type, look and listen the way a
person would. Everything is started by the test and stopped however it ends."""

import array
import json
import os
import random
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


class Failure(Exception):
    pass


def free_display_number():
    """An X display number with neither a lock file nor a listening socket, from a range test desktops keep to."""
    with open("/proc/net/unix") as table:
        listening = set(re.findall(r"/tmp/\.X11-unix/X(\d+)", table.read()))
    while True:
        number = random.randrange(200, 6000)
        if str(number) not in listening and not os.path.exists(f"/tmp/.X{number}-lock") \
                and not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            return number


def wait_for(what, predicate, timeout=10.0, interval=0.1):
    """Polls `predicate` until it returns something true, and returns that; fails with `what` on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(interval)


class Desktop:
    def __init__(self, tray):
        self.tray = tray
        self.work = tempfile.mkdtemp(prefix="sonaric-desktop-")
        self.processes = []
        self.env = dict(os.environ)
        self._start_x()
        self._start_bus()
        self._start_tray()

    # --- set-up -------------------------------------------------------------------------------------------
    def _spawn(self, args, env=None, **kwargs):
        process = subprocess.Popen(args, env=env or self.env, start_new_session=True, **kwargs)
        self.processes.append(process)
        return process

    def _start_x(self):
        # A display number nobody uses, neither by a lock file nor by an abstract socket (a server in another mount
        # namespace shares the abstract ones): with -displayfd Xvfb takes the first number without a lock file,
        # and a client could then reach another server on the same number. -noreset keeps the server and the
        # accessibility bus's root property when the last client leaves.
        self.xvfb_log = os.path.join(self.work, "xvfb.log")
        for attempt in range(8):
            number = free_display_number()
            with open(self.xvfb_log, "ab") as log:
                xvfb = self._spawn(["Xvfb", f":{number}", "-noreset", "-screen", "0", "1280x800x24",
                                    "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=log)
            env = dict(self.env, DISPLAY=f":{number}")
            answered = wait_for("the X server to answer or end", lambda: xvfb.poll() is not None or subprocess.run(
                ["xdpyinfo"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0,
                timeout=30)
            if xvfb.poll() is None and answered:
                break
        else:
            raise Failure("Xvfb did not start:\n" + self.xvfb_output())
        self.env["DISPLAY"] = f":{number}"
        os.environ["DISPLAY"] = self.env["DISPLAY"]

    def xvfb_output(self):
        try:
            with open(self.xvfb_log, errors="replace") as log:
                return log.read()
        except OSError:
            return ""

    def _start_bus(self):
        address = "unix:path=" + os.path.join(self.work, "bus")
        self._spawn(["dbus-daemon", "--session", "--nofork", "--address=" + address],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("the session bus", lambda: os.path.exists(os.path.join(self.work, "bus")))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        self._spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)

    def _start_tray(self):
        if self.tray == "xembed":
            # A loaded machine can be slow to bring the tray up; one that died on the way is started again.
            for attempt in range(2):
                trayer = self._spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                      "--height", "24", "--SetDockType", "true", "--transparent", "false"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    wait_for("the XEmbed tray",
                             lambda: self._tray_selection_owned() or trayer.poll() is not None, timeout=30)
                except Failure:
                    if attempt:
                        raise
                if trayer.poll() is None and self._tray_selection_owned():
                    break
                if attempt:
                    raise Failure(f"the XEmbed tray ended with status {trayer.poll()}")
        else:
            host = os.environ.get("SONARIC_SNI_HOST")
            if not host:
                raise Failure("SONARIC_SNI_HOST is not set")
            self.sni = self._spawn([host], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
            self.sni_events = []
            threading.Thread(target=self._read_sni, daemon=True).start()
            wait_for("the StatusNotifierWatcher", lambda: self.sni_event("ready"))

    def _read_sni(self):
        for line in self.sni.stdout:
            try:
                self.sni_events.append(json.loads(line))
            except ValueError:
                pass

    def sni_event(self, kind, **fields):
        """The last event of the test host of this kind whose fields match."""
        for event in reversed(self.sni_events):
            if event.get("event") == kind and all(event.get(k) == v for k, v in fields.items()):
                return event
        return None

    def sni_command(self, command):
        """Sends a command to the host (activate X Y, context X Y, menu-click LABEL, ...) and waits for its call."""
        before = len(self.sni_events)
        self.sni.stdin.write(command + "\n")
        self.sni.stdin.flush()
        wait_for(f"the host to carry out {command!r}",
                 lambda: any(e.get("event") in ("called", "error") for e in self.sni_events[before:]))
        failed = [e for e in self.sni_events[before:] if e.get("event") == "error" or e.get("ok") is False]
        if failed:
            raise Failure(f"the tray host could not {command!r}: {failed}")

    def _tray_selection_owned(self):
        """Whether trayer's panel window is on the screen (it takes the tray selection as it maps it)."""
        listed = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "trayer"], env=self.env,
                                capture_output=True, text=True).stdout.split()
        return bool(listed)

    @staticmethod
    def _descendants(pid):
        """Every process below `pid` (the accessibility bus's own daemon leaves its launcher's process group)."""
        children = {}
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as stat:
                        parent = int(stat.read().rsplit(")", 1)[1].split()[1])
                except (OSError, ValueError, IndexError):
                    continue
                children.setdefault(parent, []).append(int(entry))
        found, queue = [], [pid]
        while queue:
            for child in children.get(queue.pop(), []):
                found.append(child)
                queue.append(child)
        return found

    def close(self):
        strays = [pid for process in self.processes for pid in self._descendants(process.pid)]
        for pid in strays:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for process in self.processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
        shutil.rmtree(self.work, ignore_errors=True)

    def sonaric_env(self, home):
        """The environment Sonaric runs in on this desktop: its configuration under `home`, Qt on this X server with
        the software renderer and accessibility on, and the real platform rather than a scene."""
        env = dict(self.env)
        env.update({
            "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "QT_QPA_PLATFORM": "xcb",
            "QT_QUICK_BACKEND": "software",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
        })
        env.pop("SONARIC_PLATFORM", None)
        env.pop("SONARIC_SCENE", None)
        return env

    # --- the X server ---------------------------------------------------------------------------------------
    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                              check=False).stdout

    def click(self, x, y, button=1):
        self.xdotool("mousemove", "--sync", int(x), int(y))
        time.sleep(0.05)
        self.xdotool("click", button)

    def drag(self, start, end, steps=12):
        self.xdotool("mousemove", "--sync", int(start[0]), int(start[1]))
        self.xdotool("mousedown", 1)
        for i in range(1, steps + 1):
            x = start[0] + (end[0] - start[0]) * i / steps
            y = start[1] + (end[1] - start[1]) * i / steps
            self.xdotool("mousemove", "--sync", int(x), int(y))
            time.sleep(0.02)
        self.xdotool("mouseup", 1)

    def visible_windows(self, name):
        ids = self.xdotool("search", "--onlyvisible", "--name", name).split()
        return [int(i) for i in ids]

    def window_geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def screenshot(self, path, geometry=None):
        args = ["import", "-window", "root"]
        if geometry:
            x, y, w, h = geometry
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run(args + [path], env=self.env, check=True)
        return path

    def image_spread(self, path):
        """The standard deviation of the picture's grey levels, 0…1: 0 for a blank picture."""
        out = subprocess.run(["convert", path, "-colorspace", "Gray", "-format", "%[fx:standard_deviation]",
                              "info:"], capture_output=True, text=True, check=True).stdout
        return float(out.strip() or 0)

    # --- accessibility: where the controls are -------------------------------------------------------------
    def application(self, name):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == name:
                return app
        return None

    def tree(self, app_name):
        """The application's accessibility tree as text, for failure reports."""
        lines = []

        def walk(node, depth):
            if node is None or depth > 40:
                return
            try:
                extents = node.get_extents(Atspi.CoordType.SCREEN)
                lines.append("  " * depth + f"{node.get_role_name()} {node.get_name()!r} "
                             f"({extents.x},{extents.y} {extents.width}x{extents.height})")
            except Exception:
                return
            for i in range(node.get_child_count()):
                walk(node.get_child_at_index(i), depth + 1)

        walk(self.application(app_name), 0)
        return "\n".join(lines)

    def find(self, app_name, role, name_pattern=None, showing=True):
        """Every accessible of `role` under the application whose name matches, with its screen extents."""
        app = self.application(app_name)
        found = []
        if app is None:
            return found

        def walk(node, depth):
            if node is None or depth > 40:
                return
            try:
                role_name = node.get_role_name()
                name = node.get_name() or ""
            except Exception:
                return
            if role_name == role and (name_pattern is None or re.search(name_pattern, name)):
                states = node.get_state_set()
                if not showing or states.contains(Atspi.StateType.SHOWING):
                    extents = node.get_extents(Atspi.CoordType.SCREEN)
                    found.append((node, name, (extents.x, extents.y, extents.width, extents.height)))
            for i in range(node.get_child_count()):
                walk(node.get_child_at_index(i), depth + 1)

        walk(app, 0)
        return found


def record_peak(device, seconds=0.5, env=None):
    """Records `seconds` of a sink's monitor and returns the loudest sample."""
    args = ["parec", "-d", device, "--raw", "--format=float32le", "--channels=2", "--rate=48000",
            "--latency-msec=20"]
    process = subprocess.Popen(args, stdout=subprocess.PIPE, env=env)
    time.sleep(seconds)
    process.terminate()
    data, _ = process.communicate(timeout=5)
    samples = array.array("f")
    samples.frombytes(data[: len(data) - len(data) % 4])
    # The first few milliseconds may still hold what was queued before; the loudest of the rest counts.
    tail = samples[len(samples) // 5:]
    return max((abs(s) for s in tail), default=0.0)


def wait_heard(device, low, high, timeout=12.0, env=None):
    """Waits until the device is heard between `low` and `high` (a new tap warms up for a couple of seconds)."""
    last = [None]

    def heard():
        last[0] = record_peak(device, env=env)
        return low <= last[0] <= high

    try:
        wait_for(f"{device} heard between {low} and {high}", heard, timeout=timeout, interval=0.2)
    except Failure as failure:
        raise Failure(f"{failure} (last heard {last[0]:.3f})")
    return last[0]


def sinks():
    out = subprocess.run(["pactl", "list", "short", "sinks"], capture_output=True, text=True).stdout
    return [line.split("\t")[1] for line in out.splitlines() if "\t" in line]


def sink_of_inputs():
    """The sink name each playback stream is on."""
    names = {line.split("\t")[0]: line.split("\t")[1]
             for line in subprocess.run(["pactl", "list", "short", "sinks"], capture_output=True,
                                        text=True).stdout.splitlines()}
    out = subprocess.run(["pactl", "list", "short", "sink-inputs"], capture_output=True, text=True).stdout
    return [names.get(line.split("\t")[1], line.split("\t")[1]) for line in out.splitlines() if "\t" in line]
