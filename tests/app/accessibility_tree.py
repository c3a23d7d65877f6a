#!/usr/bin/python3
"""The widget and every panel as a screen reader finds them.

Run inside a private session bus (dbus-run-session) on an X server: starts the accessibility bus
(at-spi-bus-launcher), the program given (accessibility_windows) with Qt's accessibility on, and reads
its AT-SPI tree with pyatspi: every window named, roles and names of the controls, no control
without a name, the widget's lines as one group in reading order, the lock button saying what it
does, the Forecast chart described with the values it shows. Prints the tree it read."""

import os
import subprocess
import sys
import time

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
# Roles a user acts on or reads: each needs a name.
CONTROLS = {
    "push button", "toggle button", "check box", "radio button", "text", "entry", "password text",
    "list", "list item", "progress bar", "chart", "label", "combo box", "slider", "spin button",
    "menu item", "page tab", "table", "tree",
}


def fail(message, tree=""):
    sys.stderr.write("FAIL: " + message + "\n" + tree)
    sys.exit(1)


def describe(node, depth=0):
    """The subtree as text: role "name" (description), one line per node; hidden nodes marked."""
    import pyatspi
    hidden = "" if node.getState().contains(pyatspi.STATE_SHOWING) else " [not showing]"
    description = f" ({node.description})" if node.description else ""
    text = f"{'  ' * depth}{node.getRoleName()} \"{node.name}\"{description}{hidden}\n"
    for child in node:
        if child is not None:
            text += describe(child, depth + 1)
    return text


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def main():
    if not os.environ.get("DISPLAY"):
        print("no DISPLAY: skipped")
        return 77
    if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        fail("run me inside dbus-run-session")
    # Without DISPLAY the launcher leaves the X server's root window alone (it would name its bus
    # there for every client of the shared test display); ours finds the bus on the session bus.
    launcher_env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately"], stdout=subprocess.DEVNULL, env=launcher_env)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb", LANG="en_US.UTF-8",
               LANGUAGE="en_US")
    program = subprocess.Popen([sys.argv[1]], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        if program.stdout.readline().strip() != "ready":
            fail("the windows did not come up")
        import pyatspi  # connects to the accessibility bus, which is up now

        # The application registers with the registry as it starts: ask until it is there.
        deadline = time.monotonic() + 30
        app = None
        while time.monotonic() < deadline:
            desktop = pyatspi.Registry.getDesktop(0)
            app = next((a for a in desktop if a is not None and a.get_process_id() == program.pid), None)
            if app is not None and app.childCount >= 6:
                break
            time.sleep(0.1)
        else:
            fail("the application did not appear on the accessibility bus")
        result = check(app)
        # Ending while the screen reader's bus listens takes the windows down in order.
        program.stdin.close()
        if program.wait(timeout=30) != 0:
            fail(f"the program ended with status {program.returncode}")
        return result
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        launcher.terminate()
        launcher.wait(timeout=30)


def check(app):
    import pyatspi
    tree = "".join(describe(window) for window in app)
    print(tree)
    windows = {window.name: window for window in app}
    if "" in windows:
        fail("a window without a name", tree)
    expected = {"Nimbara weather", "Quick Tour", "About Nimbara", "Feedback", "Forecast", "Choose a place"}
    if not expected <= set(windows):
        fail(f"windows {sorted(windows)}, expected {sorted(expected)}", tree)
    for window in app:
        if window.getRoleName() != "frame":
            fail(f"window \"{window.name}\" has the role {window.getRoleName()}", tree)
        # What shows must be named; the hidden ones that matter are asked for by name below.
        for node in walk(window):
            if not node.getState().contains(pyatspi.STATE_SHOWING):
                continue
            if node.getRoleName() in CONTROLS and not node.name.strip():
                fail(f"an unnamed {node.getRoleName()} in \"{window.name}\"", tree)

    widget = windows["Nimbara weather"]
    groups = [n for n in walk(widget) if n.getRoleName() == "panel" and n.name == "Time, weather and place"]
    if len(groups) != 1:
        fail("the widget's lines are not one group", tree)
    lines = [(n.getRoleName(), n.name) for n in groups[0]]
    if len(lines) != 3 or any(role != "label" for role, _ in lines) or \
            lines[1:] != [("label", "LOCATION SERVICES OFF"), ("label", "RIGHT-CLICK TO CHOOSE A PLACE")]:
        fail(f"the lines read {lines}", tree)
    buttons = {n.name for n in walk(widget) if n.getRoleName() == "push button"}
    # Six buttons, each named (the unnamed check above); the units button's title is its own matter.
    if len(buttons) != 6:
        fail(f"the widget's buttons read {sorted(buttons)}", tree)
    for name in ("Unlock the widget", "Colour", "Clock", "Place", "Align"):
        if name not in buttons:
            fail(f"no button \"{name}\" in the widget: {sorted(buttons)}", tree)
    if "Lock" in buttons:
        fail("the lock button reads \"Lock\" while pressing it unlocks", tree)
    bars = [n for n in walk(widget) if n.getRoleName() == "progress bar"]
    if [n.name for n in bars] != ["Updating the weather"]:
        fail("the activity bar is not named", tree)

    charts = [n for n in walk(windows["Forecast"]) if n.getRoleName() == "chart"]
    if len(charts) != 1 or charts[0].name != "Forecast for the next 24 hours":
        fail("no named chart in the Forecast panel", tree)
    for value in ("lowest 10° at 12:00", "highest 15° at 17:00", "Precipitation from 15:00, 7.0 mm",
                  "up to 80%"):
        if value not in charts[0].description:
            fail(f"the chart's description lacks \"{value}\"", tree)

    chooser = windows["Choose a place"]
    clear = [n for n in walk(chooser) if n.getRoleName() == "push button"]
    if [n.name for n in clear] != ["Clear"]:
        fail("the search field's clear button is not named", tree)
    fields = {n.name for n in walk(windows["Choose a place"]) if n.getRoleName() in ("text", "entry")}
    if "Name of a town" not in fields:
        fail(f"the search field reads {sorted(fields)}", tree)
    return 0


if __name__ == "__main__":
    sys.exit(main())
