#!/usr/bin/python3
"""What a screen reader finds in every window of the program, over AT-SPI.

Runs tests/tools/a11y_windows (every window open, a recording running) and walks what it
shows: each control a user can reach must have a name, the level meter must tell its
value, and the time box must tell the state of the recording.
  names.py A11Y_WINDOWS
Run inside a session bus (dbus-run-session), on an X screen.
"""
import os
import subprocess
import sys
import time

import pyatspi

# What a user operates or reads as a value: these need a name.
NAMED_ROLES = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_LIST,
    pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_PAGE_TAB,
    pyatspi.ROLE_LINK, pyatspi.ROLE_DIAL,
}


def window_of(node):
    while node is not None:
        try:
            if node.getRole() in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW):
                return node.name
            node = node.parent
        except Exception:
            return "?"
    return "?"


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        try:
            yield from walk(node.getChildAtIndex(i), depth + 1)
        except Exception:  # a child gone meanwhile
            continue


def find_app(pid, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                continue
        time.sleep(0.2)
    return None


def main():
    tool = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                            env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb"))
    try:
        if tool.stdout.readline().strip() != "ready":
            print("FAIL: the windows did not come up")
            return 1
        app = find_app(tool.pid)
        if app is None:
            print("FAIL: the program is not on the accessibility bus")
            return 1
        time.sleep(1.0)  # let every window be mapped and the meter move
        problems, seen, windows = [], 0, []
        meter = time_box = None
        for node in walk(app):
            try:
                role, states = node.getRole(), node.getState()
                name = node.name
            except Exception:
                continue
            if role in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW):
                windows.append(name)
            if not states.contains(pyatspi.STATE_SHOWING):
                continue
            if role == pyatspi.ROLE_PROGRESS_BAR and name == "入力レベル":
                meter = node
            if name == "録音時間":
                time_box = node
            # What the keyboard reaches, and what tells a value, is named.
            reachable = states.contains(pyatspi.STATE_FOCUSABLE) or role == pyatspi.ROLE_PROGRESS_BAR
            if role in NAMED_ROLES and reachable:
                seen += 1
                if not name.strip():
                    problems.append(f"a {node.getRoleName()} without a name in the window '{window_of(node)}'")
        print(f"{len(windows)} windows: {windows}")
        print(f"{seen} controls looked at")
        if meter is None:
            problems.append("no level meter named 入力レベル")
        else:
            value = meter.queryValue()
            print(f"level meter: {value.currentValue} dB ({value.minimumValue} to {value.maximumValue})")
            if not value.minimumValue <= value.currentValue <= value.maximumValue:
                problems.append("the level meter's value is out of its range")
        if time_box is None:
            problems.append("no time box named 録音時間")
        else:
            print(f"time box says: {time_box.description}")
            if time_box.description != "録音中":
                problems.append(f"the time box does not tell that it records: '{time_box.description}'")
            tool.stdin.write("pause\n")
            tool.stdin.flush()
            tool.stdout.readline()
            time.sleep(0.5)
            print(f"paused, the time box says: {time_box.description}")
            if time_box.description != "一時停止中":
                problems.append(f"the time box does not tell that it is paused: '{time_box.description}'")
        for p in problems:
            print("FAIL:", p)
        return 1 if problems or seen < 10 else 0
    finally:
        try:
            tool.stdin.write("quit\n")
            tool.stdin.flush()
            tool.wait(10)
        except Exception:
            tool.kill()


if __name__ == "__main__":
    sys.exit(main())
