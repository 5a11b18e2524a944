#!/usr/bin/python3
"""A Chromium tab's own volume from the tray, as a person gets it (run it under
tests/platform/linux/with_sound_server.sh pulseaudio):

    chromium_end_to_end.py SONARIC SCREENSHOT_DIR

Sonaric runs in an XEmbed tray on a private desktop and sound server. A real Chromium (Debian's, in its new
headless mode, which plays through PulseAudio like a windowed one) starts with a fresh profile and Sonaric's
extension loaded from the folder Sonaric unpacks, and opens a loopback page that plays a tone. The popover lists
Chromium as an application; "Switch to native tab volume" is clicked, Sonaric installs its host manifest into
that profile, and the tab's row appears under its title. The tab's slider is dragged to about a third: the page
reports that volume and the speakers hear it; the tab's mute is clicked: the page reports muted and the speakers
are silent.

The first switch waits only 3 s for the extension, which retries on its own schedule (0.5 s doubling to 30 s):
when it answers later, the switch fails into the Connectors pane as it would for a person, and the test does
what that person does: closes the settings, waits until the browser has started Sonaric's host, and clicks the
switch again.

Exits 77 when Chromium is not installed (outside CI)."""

import http.server
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

from desktop import Desktop, Failure, wait_for, wait_heard
from tray_end_to_end import Run

PAGE_TITLE = "E2E Radio - loopback tone"
AMPLITUDE = 0.5
SWITCH = "^Switch to native tab volume$"

PAGE = """<!doctype html>
<html lang="en">
<head><meta charset="utf-8"><title>%s</title></head>
<body>
<audio id="media" src="/tone.wav" autoplay loop></audio>
<script>
// The page tells the test server what its media does, whoever changed it.
const media = document.getElementById('media');
function report() {
    fetch('/state', { method: 'POST', body: JSON.stringify(
        { playing: !media.paused && media.currentTime > 0, volume: media.volume, muted: media.muted }) });
}
for (const name of ['playing', 'volumechange', 'timeupdate']) media.addEventListener(name, report);
</script>
</body>
</html>
""" % PAGE_TITLE


def tone_wav(seconds=2.0, rate=48000):
    """A stereo 440 Hz sine at AMPLITUDE, loopable without a click (a whole number of periods)."""
    frames = int(rate * seconds) // 440 * 440
    data = bytearray()
    for i in range(frames):
        sample = int(AMPLITUDE * 32767 * math.sin(2 * math.pi * 440 * i / rate))
        data += struct.pack("<hh", sample, sample)
    out = tempfile.SpooledTemporaryFile()
    with wave.open(out, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(data))
    out.seek(0)
    return out.read()


class PageServer:
    """The loopback site: the page, its tone, and the state the page last reported."""

    def __init__(self):
        self.state = {}
        page, tone, server = PAGE.encode(), tone_wav(), self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body, kind = {"/radio.html": (page, "text/html; charset=utf-8"),
                              "/tone.wav": (tone, "audio/wav")}.get(self.path, (None, None))
                if body is None:
                    self.send_error(404)
                    return
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                try:
                    server.state = json.loads(self.rfile.read(length))
                except ValueError:
                    pass
                self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/radio.html"

    def close(self):
        self.httpd.shutdown()


def chromium_executable():
    for name in (os.environ.get("SONARIC_CHROMIUM"), "chromium", "chromium-browser"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


def parent_of(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return int(stat.read().rsplit(")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError):
        return 0


def host_started_by(browser):
    """Whether a sonaric-browser-host runs below the browser: its extension reached Sonaric's socket."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                program = cmdline.read().split(b"\0", 1)[0]
        except OSError:
            continue
        if os.path.basename(program) != b"sonaric-browser-host":
            continue
        pid = int(entry)
        while pid > 1:
            pid = parent_of(pid)
            if pid == browser:
                return True
    return False


class ChromiumRun(Run):
    def __init__(self, sonaric, shots):
        # The tray run without its test player: Chromium is the one playing here.
        self.sonaric_path, self.player_path, self.tray, self.shots = sonaric, None, "xembed", shots
        self.player = None
        self.sonaric = None
        self.chromium = None
        self.desktop = Desktop("xembed")
        self.home = tempfile.mkdtemp(prefix="sonaric-home-")
        self.env = self.desktop.sonaric_env(self.home)
        self.server = PageServer()
        self.profile = tempfile.mkdtemp(prefix="sonaric-chromium-")

    def extension_folder(self):
        # Where Sonaric unpacks its extension at every start, the folder its steps tell a person to load.
        data = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local", "share")
        return os.path.join(data, "sonaric", "browser-extension")

    def start_chromium(self, program):
        folder = self.extension_folder()
        wait_for("Sonaric's unpacked extension", lambda: os.path.exists(os.path.join(folder, "manifest.json")))
        self.chromium_log = open(os.path.join(self.home, "chromium.log"), "w+")
        # The browser's own environment: the same session (runtime folder, where the host finds Sonaric's socket).
        self.chromium = subprocess.Popen([
            program, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--password-store=basic", "--autoplay-policy=no-user-gesture-required",
            "--disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication",
            # Nothing but the loopback page is ever contacted.
            "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
            "--user-data-dir=" + self.profile,
            "--load-extension=" + folder, "--disable-extensions-except=" + folder,
            self.server.url], env=self.env, stdout=self.chromium_log, stderr=subprocess.STDOUT,
            start_new_session=True)
        wait_for("the page to play", lambda: self.server.state.get("playing"), timeout=30)
        heard = wait_heard("speakers.monitor", AMPLITUDE * 0.85, AMPLITUDE * 1.1, timeout=20)
        print(f"Chromium plays the page: speakers heard at {heard:.3f}")

    def chromium_output(self):
        self.chromium_log.flush()
        self.chromium_log.seek(0)
        return self.chromium_log.read()[-4000:]

    # --- the mixer ---------------------------------------------------------------------------------------------
    def open_popover(self):
        self.click_icon()
        window = wait_for("the popover", self.popover, timeout=10)
        return self.desktop.window_geometry(window)

    def settings_window(self):
        windows = self.desktop.visible_windows("^Sonaric Settings$")
        return windows[0] if windows else None

    def tab_slider(self):
        found = self.desktop.find("Sonaric", "slider", "^" + PAGE_TITLE + "$")
        return found[0] if found else None

    def click_switch(self):
        _, _, (x, y, w, h) = wait_for("Chromium's \"Switch to native tab volume\"",
                                      lambda: (self.desktop.find("Sonaric", "push button", SWITCH) or [None])[0],
                                      timeout=20)
        self.desktop.click(x + w / 2, y + h / 2)

    def switch_to_tab_volume(self):
        self.open_popover()
        self.click_switch()
        outcome = wait_for("the tab's row or the Connectors pane",
                           lambda: ("tab" if self.tab_slider() else None) or
                           ("settings" if self.settings_window() else None), timeout=30)
        if outcome == "settings":
            # The extension's next try came after the first wait. A person whose extension is loaded clicks Try
            # Again once the browser has found the host that is installed now.
            print("the first switch came before the extension's next try: the Connectors pane opened")
            wait_for("Chromium to start Sonaric's host", lambda: host_started_by(self.chromium.pid), timeout=45)
            _, _, (x, y, w, h) = wait_for("Try Again", lambda: (self.desktop.find(
                "Sonaric", "push button", "^Try Again$") or [None])[0], timeout=10)
            self.desktop.click(x + w / 2, y + h / 2)
            # Connected, the card offers Disconnect in place of Try Again.
            wait_for("the Connectors pane to show Chromium connected", lambda: self.desktop.find(
                "Sonaric", "push button", "^Disconnect$"), timeout=20)
            self.desktop.xdotool("key", "ctrl+w")
            wait_for("the settings window to close", lambda: not self.settings_window(), timeout=5)
            self.open_popover()
        wait_for("the tab's row", self.tab_slider, timeout=20)
        if not host_started_by(self.chromium.pid):
            raise Failure("the tab's row shows, but Chromium runs no Sonaric host")
        manifest = os.path.join(self.profile, "NativeMessagingHosts", "org.sonaric.browser_bridge.json")
        with open(manifest) as file:
            origins = json.load(file).get("allowed_origins")
        if origins != ["chrome-extension://nffjohpklfnkhekejnajopkdkkfeehfm/"]:
            raise Failure(f"the host manifest allows {origins}")
        if self.desktop.find("Sonaric", "push button", SWITCH):
            raise Failure("Chromium's application row is still offered beside its tab rows")
        print(f"the tab's row shows {PAGE_TITLE!r}")

    def take_screenshot(self):
        geometry = self.desktop.window_geometry(self.popover())
        time.sleep(0.5)  # the popover's last layout pass
        shot = self.desktop.screenshot(os.path.join(self.shots, "e2e-chromium-tabs.png"), geometry)
        if self.desktop.image_spread(shot) < 0.02:
            raise Failure("the popover's screenshot is blank")
        print(f"screenshot: {shot}")

    def set_tab_volume(self):
        _, _, (x, y, w, h) = wait_for("the tab's slider", self.tab_slider)
        # The handle is at the slider's right end (the page plays at 100 %); drag it to about a third.
        self.desktop.drag((x + w - 6, y + h / 2), (x + w * 0.3, y + h / 2))
        state = wait_for("the page at about a third", lambda: 0.15 <= self.server.state.get("volume", 1) <= 0.45
                         and dict(self.server.state), timeout=15)
        volume = state["volume"]
        heard = wait_heard("speakers.monitor", AMPLITUDE * volume * 0.8, AMPLITUDE * volume * 1.2)
        print(f"tab slider at {volume:.2f}: the page's media volume is {volume:.2f}, speakers heard at {heard:.3f}")

    def mute_tab(self):
        _, _, (sx, sy, sw, sh) = wait_for("the tab's slider", self.tab_slider)
        # The tab's mute button is on the tab's row, beside its slider.
        buttons = [b for b in self.desktop.find("Sonaric", "push button", "^Mute$") if b[2][0] > sx + sw]
        if not buttons:
            raise Failure("no Mute button beside the tab's slider")
        _, _, (x, y, w, h) = min(buttons, key=lambda b: abs(b[2][1] + b[2][3] / 2 - (sy + sh / 2)))
        self.desktop.click(x + w / 2, y + h / 2)
        wait_for("the page to be muted", lambda: self.server.state.get("muted"), timeout=15)
        wait_for("the tab's button to offer Unmute",
                 lambda: self.desktop.find("Sonaric", "push button", "^Unmute$"), timeout=10)
        heard = wait_heard("speakers.monitor", 0.0, 0.01)
        print(f"tab muted: the page's media is muted, speakers heard at {heard:.3f}")

    def close(self):
        if self.chromium and self.chromium.poll() is None:
            os.killpg(self.chromium.pid, signal.SIGKILL)
            self.chromium.wait(timeout=10)
        self.server.close()
        super().close()
        shutil.rmtree(self.profile, ignore_errors=True)
        shutil.rmtree(self.home, ignore_errors=True)


def in_own_process_namespace():
    """Runs this script again as the first process of a process namespace of its own, where it can.

    Sonaric treats every running Chromium as the one to connect, and a machine that runs other tests may have
    several (and ended ones nobody collected); inside the namespace this test's Chromium is the only one."""
    if os.environ.get("SONARIC_E2E_NAMESPACE") or not shutil.which("unshare"):
        return None
    unshare = ["unshare", "--pid", "--fork", "--mount-proc", "--kill-child"]
    if subprocess.run(unshare + ["true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        print("no process namespace here (unshare refused): other Chromium processes stay visible")
        return None
    env = dict(os.environ, SONARIC_E2E_NAMESPACE="1")
    return subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), *sys.argv[1:]], env=env).returncode


def main():
    sonaric, shots = sys.argv[1:3]
    program = chromium_executable()
    if not program:
        print("Chromium is not installed (the chromium package, or SONARIC_CHROMIUM)")
        return 1 if os.environ.get("CI") else 77
    status = in_own_process_namespace()
    if status is not None:
        return status
    os.makedirs(shots, exist_ok=True)
    run = ChromiumRun(sonaric, shots)
    try:
        run.start_sonaric()
        run.start_chromium(program)
        run.switch_to_tab_volume()
        run.take_screenshot()
        run.set_tab_volume()
        run.mute_tab()
    except Failure as failure:
        print(f"FAIL: {failure}")
        try:
            print("--- the screen: " + run.desktop.screenshot(os.path.join(shots, "failure-chromium.png")))
        except Exception:
            pass
        print("--- what the accessibility bus shows of Sonaric\n" + run.desktop.tree("Sonaric"))
        print(f"--- the page's last report: {run.server.state}")
        manifests = [os.path.join(folder, name) for top in (run.profile, run.home)
                     for folder, _, names in os.walk(top) if folder.endswith("NativeMessagingHosts") for name in names]
        print(f"--- host manifests: {manifests}")
        print("--- processes\n" + subprocess.run(["ps", "-eo", "pid,ppid,stat,args"], capture_output=True,
                                                  text=True).stdout[:6000])
        if run.sonaric:
            print("--- Sonaric's output\n" + run.sonaric_log())
        if run.chromium:
            print("--- Chromium's output (end)\n" + run.chromium_output())
        return 1
    finally:
        run.close()
    print("Chromium end to end: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
