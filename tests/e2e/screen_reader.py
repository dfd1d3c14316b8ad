#!/usr/bin/python3
"""What a screen reader finds on screen in one program's windows, over AT-SPI.

  screen_reader.py PID
prints one JSON object a line for each control that shows: its role, name, description,
text, window and where it is on the screen. Run on the bus the program was started on.
"""
import json
import sys

import pyatspi


def walk(node, window, depth=0):
    if node is None or depth > 40:
        return
    yield node, window
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
            role = child.getRole()
        except Exception:  # gone meanwhile
            continue
        inner = child.name if role in (pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW,
                                       pyatspi.ROLE_ALERT) else window
        yield from walk(child, inner, depth + 1)


def describe(node, window):
    states = node.getState()
    if not states.contains(pyatspi.STATE_SHOWING):
        return None
    text = ""
    try:
        t = node.queryText()
        text = t.getText(0, t.characterCount)
    except NotImplementedError:
        pass
    extents = [0, 0, 0, 0]
    try:
        e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [e.x, e.y, e.width, e.height]
    except NotImplementedError:
        pass
    return {"role": node.getRoleName(), "name": node.name or "", "description": node.description or "",
            "text": text, "window": window or "", "extents": extents,
            "selected": states.contains(pyatspi.STATE_SELECTED),
            "focused": states.contains(pyatspi.STATE_FOCUSED)}


def main():
    pid = int(sys.argv[1])
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is None or app.get_process_id() != pid:
                continue
        except Exception:
            continue
        for node, window in walk(app, ""):
            try:
                found = describe(node, window)
            except Exception:
                continue
            if found:
                print(json.dumps(found, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
