#!/usr/bin/python3
"""The built program from the build tree, its window module beside it, on a real X server (Xvfb): Escape ends it at
once, and a screen reader reads it over the accessibility bus. Run under dbus-run-session: test_program.py ostrel"""
import glob
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import pyatspi
from gi.repository import GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, headless, until  # noqa: E402

BUILT = sys.argv.pop(1)


def read_name(node):  # as Orca reads it: the names of its labels (a frame around it is none), else its own
    relations = [r for r in node.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
    labels = [r.getTarget(i) for r in relations for i in range(r.getNTargets())]
    names = [label.name for label in labels if not pyatspi.findAncestor(node, lambda a: a == label)]
    return " ".join(names) or node.name


def showing(node):  # the node and those below it, none below one not on show (such as a closed list)
    yield node
    for child in node if node.getState().contains(pyatspi.STATE_SHOWING) else []:
        yield from showing(child)


class Program(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()  # the per-user settings
        cls.settings = Path(cls.folder, "Ostrel", "Ostrel.conf")
        cls.settings.parent.mkdir()
        cls.server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"],
                                      stdout=subprocess.PIPE, text=True)
        cls.addClassCleanup(cls.server.wait, 5)
        cls.addClassCleanup(cls.server.terminate)
        cls.display = ":" + cls.server.stdout.readline().strip()

    def xdotool(self, *arguments):
        subprocess.run(["xdotool", *arguments], env=self.environment, timeout=20, check=True)

    def open(self, settings="", arguments=(), **environment):
        """The program once its window (class ostrel) has the focus; variables None removed, no leak search at exit."""
        self.settings.write_text("[Settings]\n" + settings)
        environment.update(DISPLAY=self.display, XDG_CONFIG_HOME=self.folder, ASAN_OPTIONS="detect_leaks=0")
        self.environment = headless(**environment)
        self.program = subprocess.Popen([BUILT, *arguments], env=self.environment)
        self.addCleanup(self.program.wait, 5)
        self.addCleanup(self.program.kill)
        self.xdotool("search", "--sync", "--onlyvisible", "--classname", "^ostrel$", "windowfocus", "--sync")

    def test_escape_ends_at_once(self):
        """Without a session bus (ssh -X) the help box ends at once, leaving nothing (the window: package test)."""
        self.open("", ["/?"], DBUS_SESSION_BUS_ADDRESS=None, XDG_RUNTIME_DIR=None)
        start = time.monotonic()
        self.xdotool("key", "Escape")
        self.assertEqual(self.program.wait(15), 0)
        self.assertLess(time.monotonic() - start, 0.5, "not at once: a bus waited for?")
        # libdbus would autolaunch a bus for the display (dbus-launch, dbus-daemon); other sessions' are not ours.
        left = subprocess.run(["grep", "-lsxz", f"DISPLAY={self.display}", *glob.glob("/proc/[0-9]*/environ")],
                              stdout=subprocess.PIPE, text=True).stdout.split()
        self.assertEqual([comm for comm in (Path(path).with_name("comm").read_text() for path in left)
                          if comm.startswith("dbus")], [])

    def test_screen_reader(self):
        """Each control that takes the focus has a name of its own, no frame's caption, and a description; no light
        is met while none is on. Return on Check Port (Shift+Tab) checks; the result is told at once, focus kept."""
        device = Port()
        self.addCleanup(device.close)
        self.open(f"DeviceName=127.0.0.1\nPort={device.port}\n", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        windows = until(lambda: [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "ostrel"], 10)
        names = []  # of the focusable controls on show, marked when one has no description
        for node in showing(windows[0]):
            self.assertNotEqual(node.getRoleName(), "image", read_name(node))
            if node.getState().contains(pyatspi.STATE_SHOWING) and node.getState().contains(pyatspi.STATE_FOCUSABLE):
                names.append(read_name(node) + ("" if node.description else " (no description)"))
        self.assertEqual([n for n in names if names.count(n) > 1 or n.endswith("(no description)")
                          or n.strip() in ("", "Port Settings", "Connection Result")], [])
        self.assertEqual(len([n for n in names if re.fullmatch("Timeout .*seconds|Browse for the command", n)]), 2)
        told = []

        def heard(event):
            kind = "focus" if event.type.startswith("focus") else "shown"
            if kind == "focus" or event.type.startswith("object:state") and event.detail1:
                told.append(f"{kind}|{event.source.getRoleName()}|{read_name(event.source)}")
            if event.source.getRoleName() == "notification":  # a focus moved by the check would come by now
                GLib.timeout_add(500, pyatspi.Registry.stop)

        # Name changes too, as Orca takes them: they refresh the names pyatspi keeps.
        pyatspi.Registry.registerEventListener(heard, "focus:", "object:state-changed:showing",
                                              "object:property-change:accessible-name")
        GLib.idle_add(self.xdotool, "key", "shift+Tab", "Return")  # once: it returns nothing
        GLib.timeout_add_seconds(10, pyatspi.Registry.stop)
        pyatspi.Registry.start()
        self.assertEqual(told[-3:], ["focus|push button|Check Port", "shown|image|Port available",
                                     "shown|notification|Port Available"])

    def test_unusable_display(self):
        """A stale DISPLAY, as ssh or cron may pass on, and a Wayland compositor that answers where Qt has no Wayland
        platform (here none at all): help on standard output, the start-up failure on standard error, no abort."""
        free = (n for n in range(170, 1000) if not glob.glob(f"/tmp/.X{n}-lock") + glob.glob(f"/tmp/.X11-unix/X{n}"))
        stale, runtime, compositor = f":{next(free)}", tempfile.mkdtemp(), socket.socket(socket.AF_UNIX)
        compositor.bind(f"{runtime}/wayland-1")
        compositor.listen()
        no_platform = ["unshare", "--mount", "sh", "-c", 'mount -t tmpfs none "$0" && exec "$@"',
                       glob.glob("/usr/lib/*/qt6/plugins/platforms")[0], BUILT]
        x, wayland = f'the X display "{stale}" cannot be reached', 'the Wayland display "wayland-1" answers, but ' \
            "Qt's Wayland platform is not installed (apt install qt6-wayland)"
        for arguments, displays, code, out, err in (
                (["/?"], {"DISPLAY": stale}, 0, "Use the followi", ""), ([], {"DISPLAY": stale}, 1, "", x),
                ([], {"WAYLAND_DISPLAY": "wayland-1"}, 1, "", wayland),
                ([], {"WAYLAND_DISPLAY": "wayland-1", "QT_QPA_PLATFORM": "wayland"}, 1, "", wayland),
                ([], {"DISPLAY": stale, "WAYLAND_DISPLAY": "wayland-1"}, 1, "", f"{x}; {wayland}")):
            environment = headless(ASAN_OPTIONS="detect_leaks=0", XDG_RUNTIME_DIR=runtime, **displays)
            run = subprocess.run(no_platform + arguments, env=environment, capture_output=True, text=True, timeout=20)
            self.assertEqual((run.returncode, run.stdout[:15], run.stderr),
                             (code, out, err and f"Error loading main form, {err}\n"))

if __name__ == "__main__":
    unittest.main()
