#!/usr/bin/python3
"""Prints the AT-SPI accessibility tree of a running application and checks its pressable controls.

Usage: accessibility_tree.py APP-NAME [--require NAME]...
Every push button, toggle button, menu item, page tab, check box and combo box must carry a
name (its caption); the exit status is 1 when one does not, or when a control named NAME (given
with --require, may repeat) is missing or cannot be focused.
"""
import sys
import time

import pyatspi

PRESSABLE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_MENU_ITEM,
    pyatspi.ROLE_MENU, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_RADIO_MENU_ITEM, pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_RADIO_BUTTON,
}


def find_app(name, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.5)
    return None


def walk(node, depth, out):
    try:
        role = node.getRole()
        name = node.name or ""
        states = node.getState()
    except Exception:  # a node that went away while walking
        return
    out.append((depth, node, role, name, states))
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, out)


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    app_name = args[0]
    required = [args[i + 1] for i, a in enumerate(args) if a == "--require" and i + 1 < len(args)]
    app = find_app(app_name)
    if app is None:
        print(f"no application named {app_name!r} on the accessibility bus")
        return 1
    nodes = []
    walk(app, 0, nodes)
    faults = 0
    for depth, node, role, name, states in nodes:
        showing = states.contains(pyatspi.STATE_SHOWING)
        focusable = states.contains(pyatspi.STATE_FOCUSABLE)
        enabled = states.contains(pyatspi.STATE_ENABLED)
        marks = ("S" if showing else "-") + ("F" if focusable else "-") + ("E" if enabled else "-")
        print(f"{'  ' * depth}{node.getRoleName()} [{marks}] {name!r}")
        if role in PRESSABLE and showing and enabled and not name.strip():
            print(f"{'  ' * depth}^ FAULT: a pressable control without a name")
            faults += 1
    for wanted in required:
        match = [n for n in nodes if n[3] == wanted]
        if not match:
            print(f"FAULT: no control named {wanted!r}")
            faults += 1
        elif not any(n[4].contains(pyatspi.STATE_FOCUSABLE) for n in match):
            print(f"FAULT: {wanted!r} cannot take the keyboard focus")
            faults += 1
    print(f"{len(nodes)} nodes, {faults} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
