#!/usr/bin/python3
"""What a screen reader finds in every window of the program, over AT-SPI.

Runs tests/tools/a11y_windows (every window open, a recording running) and walks what it
shows: each control a user can reach must have a name, the level meter must tell its
value, and the time box must tell the state of the recording. A control that shows a
value is named by its purpose and tells the value apart, in the unit a user hears it in
(the volume in percent, the position in seconds and as a time); what is hidden is not
marked visible.
  names.py A11Y_WINDOWS
Run inside a session bus (dbus-run-session), on an X screen.
"""
import os
import re
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


TIME = r"\d\d:\d\d:\d\d"


def text_of(node):
    """The text a screen reader reads of the node, or None without a text interface."""
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        return None


def check_values(found, problems):
    """What each value control tells: its purpose as its name, its value apart."""
    def expect_text(name, pattern):
        node = found.get(name)
        if node is None:
            problems.append(f"no control named {name}")
            return
        text = text_of(node)
        print(f"{name}: '{text}'")
        if text is None or not re.fullmatch(pattern, text):
            problems.append(f"{name} reads '{text}', not /{pattern}/")

    expect_text("録音時間", TIME)
    expect_text("経過時間", TIME)
    expect_text("全体の長さ", "00:00:03")
    expect_text("録音品質", "FM ラジオ")
    expect_text("音量", "50 %")
    expect_text("再生位置", f"{TIME} / 00:00:03")

    def expect_value(name, low, high, maximum):
        node = found.get(name)
        if node is None:
            return
        value = node.queryValue()
        print(f"{name}: {value.currentValue} ({value.minimumValue} to {value.maximumValue})")
        if not (low <= value.currentValue <= high and value.minimumValue == 0
                and abs(value.maximumValue - maximum) < 0.1):
            problems.append(f"{name} is {value.currentValue} on {value.minimumValue}..{value.maximumValue}, "
                            f"not {low}..{high} on 0..{maximum}")

    expect_value("音量", 50, 50, 100)  # percent
    expect_value("再生位置", 0, 3, 3)  # seconds

    box = found.get("録音品質")
    if box is not None and box.getRole() != pyatspi.ROLE_COMBO_BOX:
        problems.append(f"録音品質 is a {box.getRoleName()}, not the combo box")


def check_hidden(nodes, problems):
    """Hidden controls are marked invisible: no two visible buttons stand in one place, as
    the main window's twins would, and the recording's state number is out of sight."""
    places = {}
    for node, role, states, name in nodes:
        visible = states.contains(pyatspi.STATE_VISIBLE)
        if name == "録音の状態番号" and visible:
            problems.append("the hidden field 録音の状態番号 is marked visible")
        if role != pyatspi.ROLE_PUSH_BUTTON or not visible:
            continue
        extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        place = (window_of(node), extents.x, extents.y, extents.width, extents.height)
        if place in places:
            problems.append(f"'{name}' and '{places[place]}' are both visible at {place[1:]} in '{place[0]}'")
        places[place] = name


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
        found, nodes = {}, []
        for node in walk(app):
            try:
                role, states = node.getRole(), node.getState()
                name = node.name
            except Exception:
                continue
            nodes.append((node, role, states, name))
            if role in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW):
                windows.append(name)
            if not states.contains(pyatspi.STATE_SHOWING):
                continue
            if role == pyatspi.ROLE_PROGRESS_BAR and name == "入力レベル":
                meter = node
            if name == "録音時間":
                time_box = node
            # The label before a control may bear its name too: the control is what counts.
            if name not in found or (found[name].getRole() == pyatspi.ROLE_LABEL and role in NAMED_ROLES):
                found[name] = node
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
        check_values(found, problems)
        check_hidden(nodes, problems)
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
