#!/usr/bin/python3
"""Sonaric used as a person uses it, on a private desktop and a private sound server (run it under
tests/platform/linux/with_sound_server.sh):

    tray_end_to_end.py SONARIC PLAYER xembed|sni SCREENSHOT_DIR

A real player plays a tone; the tray icon is clicked, the popover appears, the player's slider is dragged to
about half and the player is heard at about half; another sink is chosen in the output picker and the player is
heard there only (both carried by the server's own stream volume and sink); Quit (from the tray's menu) puts the
player back on its sink at its own volume with no tap sink left; a second run ends with SIGTERM while the level
and the route are held, with the same result."""

import os
import signal
import subprocess
import sys
import tempfile
import time

from desktop import Desktop, Failure, record_peak, sink_of_inputs, sinks, wait_for, wait_heard

AMPLITUDE = 0.5
PLAYER_NAME = "E2E Player"
# Without a desktop entry the mixer names the player by its application id.
PLAYER_LABEL = r"E2E ?Player"


class Run:
    def __init__(self, sonaric, player, tray, shots):
        self.sonaric_path, self.player_path, self.tray, self.shots = sonaric, player, tray, shots
        self.desktop = Desktop(tray)
        self.home = tempfile.mkdtemp(prefix="sonaric-home-")
        self.env = self.desktop.sonaric_env(self.home)
        self.player = subprocess.Popen([player, "--app-id", "org.example.E2EPlayer", "--name", PLAYER_NAME,
                                        "--amplitude", str(AMPLITUDE), "--seconds", "300"], start_new_session=True)
        wait_for("the player's stream", lambda: sink_of_inputs() == ["speakers"])
        wait_heard("speakers.monitor", AMPLITUDE * 0.9, AMPLITUDE * 1.05)
        self.sonaric = None

    def start_sonaric(self):
        mark = len(self.desktop.sni_events) if self.tray == "sni" else 0
        self.log = open(os.path.join(self.home, "sonaric.log"), "w+")
        self.sonaric = subprocess.Popen([self.sonaric_path], env=self.env, stdout=self.log, stderr=self.log,
                                        start_new_session=True)
        wait_for("Sonaric on the accessibility bus", lambda: self.desktop.application("Sonaric"), timeout=20)
        if self.tray == "sni":
            item = wait_for("Sonaric's item at the watcher", 
                            lambda: next((e for e in self.desktop.sni_events[mark:] if e.get("event") == "registered"),
                                         None), timeout=20)
            if item.get("Title") != "Sonaric" or item.get("ItemIsMenu") is not False:
                raise Failure(f"the item reads {item}")

    def sonaric_log(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    # --- the tray ---------------------------------------------------------------------------------------------
    def icon_point(self):
        if self.tray == "xembed":
            ids = self.desktop.xdotool("search", "--onlyvisible", "--classname", "sonaric").split()
            for window in ids:
                x, y, w, h = self.desktop.window_geometry(window)
                if w <= 64 and h <= 64:
                    return x + w // 2, y + h // 2
            return None
        return (1250, 12)

    def click_icon(self, button=1):
        if self.tray == "xembed":
            point = wait_for("the tray icon", self.icon_point, timeout=20)
            self.desktop.click(*point, button=button)
        else:
            x, y = self.icon_point()
            self.desktop.sni_command(("activate" if button == 1 else "context") + f" {x} {y}")

    def popover(self):
        windows = self.desktop.visible_windows("^Sonaric$")
        return windows[0] if windows else None

    # --- the scenario -----------------------------------------------------------------------------------------
    def second_start_opens_the_mixer(self):
        second = subprocess.run([self.sonaric_path], env=self.env, capture_output=True, text=True, timeout=20)
        if second.returncode != 0 or "already running" not in second.stderr:
            raise Failure(f"a second start ended with {second.returncode}: {second.stderr}")
        wait_for("the popover a second start opened", self.popover, timeout=10)
        self.desktop.xdotool("key", "Escape")
        wait_for("Escape to close the popover", lambda: not self.popover(), timeout=5)
        print("a second start opened the running mixer; Escape closed it")

    def open_mixer(self):
        self.click_icon()
        window = wait_for("the popover", self.popover, timeout=10)
        geometry = self.desktop.window_geometry(window)
        if geometry[2] != 320:
            raise Failure(f"the popover is {geometry[2]} wide, not 320")
        time.sleep(0.5)
        shot = self.desktop.screenshot(os.path.join(self.shots, f"e2e-popover-{self.tray}.png"), geometry)
        if self.desktop.image_spread(shot) < 0.02:
            raise Failure("the popover's screenshot is blank")
        return geometry

    def player_slider(self):
        found = self.desktop.find("Sonaric", "slider", PLAYER_LABEL)
        if found:
            return found[0]
        # A slider without a name of its own: the one in the row under the player's name.
        labels = self.desktop.find("Sonaric", "label", PLAYER_LABEL)
        if not labels:
            return None
        label_y = labels[0][2][1]
        below = [s for s in self.desktop.find("Sonaric", "slider") if s[2][1] >= label_y]
        return min(below, key=lambda s: s[2][1] - label_y) if below else None

    def drag_player_to_half(self):
        _, name, (x, y, w, h) = wait_for("the player's slider", self.player_slider)
        maximum = 2.5  # the default boost limit
        handle = (x + w * (1.0 / maximum), y + h / 2)
        target = (x + w * (0.5 / maximum), y + h / 2)
        self.desktop.drag(handle, target)
        heard = wait_heard("speakers.monitor", AMPLITUDE * 0.5 * 0.8, AMPLITUDE * 0.5 * 1.2)
        print(f"slider at about half: speakers heard at {heard:.3f} (player {AMPLITUDE})")

    def route_to_headphones(self):
        _, _, (x, y, w, h) = wait_for("the player's output button",
                                      lambda: (self.desktop.find("Sonaric", "push button", PLAYER_LABEL + " plays")
                                               or [None])[0])
        self.desktop.click(x + w / 2, y + h / 2)
        _, _, (x, y, w, h) = wait_for("the Headphones row",
                                      lambda: (self.desktop.find("Sonaric", "push button", "^Headphones") or [None])[0])
        time.sleep(0.3)
        self.desktop.screenshot(os.path.join(self.shots, f"e2e-picker-{self.tray}.png"))
        self.desktop.click(x + w / 2, y + h / 2)
        heard = wait_heard("headphones.monitor", AMPLITUDE * 0.5 * 0.8, AMPLITUDE * 0.5 * 1.2)
        speakers = record_peak("speakers.monitor")
        if speakers > 0.01:
            raise Failure(f"still heard on the speakers ({speakers:.3f}) after choosing the headphones")
        print(f"routed: headphones heard at {heard:.3f}, speakers at {speakers:.3f}")

    def menu_geometry(self):
        for window in self.desktop.xdotool("search", "--onlyvisible", "--pid", self.sonaric.pid).split():
            x, y, w, h = self.desktop.window_geometry(window)
            if 100 <= w < 320 and 30 <= h <= 120:
                return x, y, w, h
        return None

    def quit_from_menu(self):
        if self.tray == "xembed":
            self.click_icon(button=3)
            # The menu is a window of its own under the icon; "Quit Sonaric" is its last entry.
            x, y, w, h = wait_for("the menu", self.menu_geometry)
            time.sleep(0.3)
            self.desktop.screenshot(os.path.join(self.shots, f"e2e-menu-{self.tray}.png"))
            self.desktop.click(x + w / 2, y + h - 12)
        else:
            self.desktop.sni_command("menu-click Quit Sonaric")

    def expect_back_to_normal(self, how):
        status = self.sonaric.wait(timeout=15)
        if status != 0:
            raise Failure(f"Sonaric ended with status {status} after {how}\n{self.sonaric_log()}")
        leftovers = [s for s in sinks() if s not in ("speakers", "headphones")]
        if leftovers:
            raise Failure(f"tap sinks left after {how}: {leftovers}")
        if sink_of_inputs() != ["speakers"]:
            raise Failure(f"the player is on {sink_of_inputs()} after {how}, not on the speakers")
        heard = wait_heard("speakers.monitor", AMPLITUDE * 0.9, AMPLITUDE * 1.05, timeout=5)
        print(f"after {how}: the player is back on the speakers at {heard:.3f}, no tap sink left")

    def close(self):
        for process in (self.sonaric, self.player):
            if process and process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
        self.desktop.close()


def main():
    sonaric, player, tray, shots = sys.argv[1:5]
    os.makedirs(shots, exist_ok=True)
    run = Run(sonaric, player, tray, shots)
    try:
        run.start_sonaric()
        run.second_start_opens_the_mixer()
        run.open_mixer()
        run.drag_player_to_half()
        run.route_to_headphones()
        run.quit_from_menu()
        run.expect_back_to_normal("Quit")

        run.start_sonaric()
        wait_heard("headphones.monitor", AMPLITUDE * 0.5 * 0.8, AMPLITUDE * 0.5 * 1.2)
        os.kill(run.sonaric.pid, signal.SIGTERM)
        run.expect_back_to_normal("SIGTERM")
    except Failure as failure:
        print(f"FAIL ({tray}): {failure}")
        try:
            print("--- the screen: " + run.desktop.screenshot(os.path.join(shots, f"failure-{tray}.png")))
        except Exception:
            pass
        print("--- what the accessibility bus shows of Sonaric\n" + run.desktop.tree("Sonaric"))
        if run.sonaric:
            print("--- Sonaric's output\n" + run.sonaric_log())
        print("--- the X server's output\n" + run.desktop.xvfb_output())
        return 1
    finally:
        run.close()
    print(f"tray end to end ({tray}): ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
