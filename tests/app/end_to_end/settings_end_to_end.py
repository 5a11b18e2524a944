#!/usr/bin/python3
"""The settings window used as a person uses it, on a private desktop and sound server (run it under
tests/platform/linux/with_sound_server.sh):

    settings_end_to_end.py SONARIC PLAYER SCREENSHOT_DIR

"Settings…" is chosen from the tray's menu (XEmbed tray, xdotool); launch at login is switched on and the
autostart entry appears, starting this Sonaric; 200 % is chosen as the boost limit, the settings file holds 2.0
and the player's slider in the mixer ends at 200 %; Ctrl+W closes the window and Ctrl+Q from it quits."""

import configparser
import glob
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

from desktop import Failure, wait_for  # noqa: E402
from tray_end_to_end import Run  # noqa: E402

ENTRY = "autostart/org.sonaric.Sonaric.desktop"


def settings_window(run):
    windows = run.desktop.visible_windows("^Sonaric Settings$")
    return windows[0] if windows else None


def click_accessible(run, role, name):
    _, _, (x, y, w, h) = wait_for(f"the {role} {name!r}",
                                  lambda: (run.desktop.find("Sonaric", role, name) or [None])[0], timeout=10)
    run.desktop.click(x + w / 2, y + h / 2)


def stored_max_volume(run):
    for path in glob.glob(os.path.join(run.env["XDG_CONFIG_HOME"], "**", "*.conf"), recursive=True):
        with open(path) as file:
            for line in file:
                if line.startswith("maxVolume="):
                    return float(line.split("=", 1)[1])
    return None


def main():
    sonaric, player, shots = sys.argv[1:4]
    os.makedirs(shots, exist_ok=True)
    run = Run(sonaric, player, "xembed", shots)
    try:
        run.start_sonaric()
        run.click_icon(button=3)
        x, y, w, h = wait_for("the menu", run.menu_geometry)
        time.sleep(0.3)
        run.desktop.click(x + w / 2, y + 12)  # "Settings…", the first entry
        window = wait_for("the settings window", lambda: settings_window(run), timeout=10)
        geometry = run.desktop.window_geometry(window)
        if geometry[2] != 760 or geometry[3] < 468:
            raise Failure(f"the settings window is {geometry[2]}x{geometry[3]}")
        print(f"Settings… opened the settings window ({geometry[2]}x{geometry[3]})")

        entry = os.path.join(run.env["XDG_CONFIG_HOME"], ENTRY)
        click_accessible(run, "check box", "^Launch at login$")
        wait_for("the autostart entry", lambda: os.path.exists(entry), timeout=5)
        parser = configparser.ConfigParser(interpolation=None)
        parser.read(entry)
        exec_line = parser["Desktop Entry"]["Exec"]
        if exec_line.strip('"') != os.path.realpath(sonaric):
            raise Failure(f"the entry starts {exec_line}, not {sonaric}")
        print(f"launch at login on: {entry} starts {exec_line}")

        click_accessible(run, "push button", "^Maximum boost 200%$")
        wait_for("2.0 in the settings file", lambda: stored_max_volume(run) == 2.0, timeout=5)
        print("200 % chosen: the settings file holds 2.0")
        time.sleep(0.5)
        run.desktop.screenshot(os.path.join(shots, "e2e-settings.png"), run.desktop.window_geometry(window))

        run.desktop.xdotool("key", "ctrl+w")
        wait_for("Ctrl+W to close the window", lambda: not settings_window(run), timeout=5)

        run.open_mixer()
        # The slider's end stop: its handle sits at half the track for 100 % and a drag past the end stops at
        # 200 %. (Qt's accessibility reports no maximum for a Controls 2 slider, so the value shows it.)
        node, _, (x, y, w, h) = wait_for("the player's slider", run.player_slider)
        run.desktop.drag((x + w * 0.5, y + h / 2), (x + w + 40, y + h / 2))
        reached = wait_for("the slider at its end stop", lambda: Atspi.Value.get_current_value(node) > 1.0 and
                           Atspi.Value.get_current_value(node), timeout=5)
        if abs(reached - 2.0) > 1e-3:
            raise Failure(f"the player's slider ends at {reached}, not 200 %")
        print(f"the player's slider ends at {reached:.2f} (200 %)")
        run.desktop.xdotool("key", "Escape")

        run.click_icon(button=3)
        x, y, w, h = wait_for("the menu", run.menu_geometry)
        time.sleep(0.3)
        run.desktop.click(x + w / 2, y + 12)
        window = wait_for("the settings window again", lambda: settings_window(run), timeout=10)
        if run.desktop.window_geometry(window)[2] != 760:
            raise Failure("the settings window came back at another width")
        run.desktop.xdotool("key", "ctrl+q")
        status = run.sonaric.wait(timeout=15)
        if status != 0:
            raise Failure(f"Sonaric ended with status {status} after Ctrl+Q")
        print("Ctrl+Q in the settings window quit Sonaric")
    except Failure as failure:
        print(f"FAIL: {failure}")
        try:
            print("--- the screen: " + run.desktop.screenshot(os.path.join(shots, "failure-settings.png")))
        except Exception:
            pass
        print("--- what the accessibility bus shows of Sonaric\n" + run.desktop.tree("Sonaric"))
        if run.sonaric:
            print("--- Sonaric's output\n" + run.sonaric_log())
        return 1
    finally:
        run.close()
    print("settings end to end: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
