#!/usr/bin/python3
# The check window as a screen reader meets it over the accessibility bus (Debian's pyatspi):
#   tree    each object, none below a hidden one: s(howing)f(ocusable)|role|name read|description
#   events  "ready", then focus|role|name read and shown|role|name read, for 60 s at most
import sys
import time

import pyatspi
from gi.repository import GLib


def read_name(node):
    """As Orca reads it: the names of its labels (a frame around it is none), else its own."""
    relations = [r for r in node.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
    labels = [r.getTarget(i) for r in relations for i in range(r.getNTargets())]
    names = [label.name for label in labels if not pyatspi.findAncestor(node, lambda a: a == label)]
    return " ".join(names) or node.name


def tree(node):
    states = node.getState()
    showing = states.contains(pyatspi.STATE_SHOWING)
    flags = "s" * showing + "f" * states.contains(pyatspi.STATE_FOCUSABLE)
    print(f"{flags}|{node.getRoleName()}|{read_name(node)}|{node.description}")
    for child in node if showing else []:
        tree(child)


def heard(event):
    kind = "focus" if event.type.startswith("focus") else "shown"
    if kind == "focus" or event.detail1:
        print(f"{kind}|{event.source.getRoleName()}|{read_name(event.source)}", flush=True)


if sys.argv[1] == "tree":
    for _ in range(100):  # until the window has registered
        windows = [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "ostrel"]
        if windows:
            sys.exit(tree(windows[0]))
        time.sleep(0.1)
else:
    pyatspi.Registry.registerEventListener(heard, "focus:", "object:state-changed:showing")
    GLib.timeout_add_seconds(60, pyatspi.Registry.stop)
    print("ready", flush=True)
    pyatspi.Registry.start()
