#!/usr/bin/python3
"""The built program as a user starts it from the build tree: it loads its window module beside it; on a real X
server (Xvfb) Escape ends it at once, and a screen reader reads it over the accessibility bus (Debian's pyatspi).
Run under dbus-run-session: test_program.py path/to/ostrel"""
import glob
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import pyatspi
from gi.repository import GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from ostrel_testing import Port, headless  # noqa: E402

BUILT = sys.argv.pop(1)


def read_name(node):
    """As Orca reads it: the names of its labels (a frame around it is none), else its own."""
    relations = [r for r in node.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
    labels = [r.getTarget(i) for r in relations for i in range(r.getNTargets())]
    names = [label.name for label in labels if not pyatspi.findAncestor(node, lambda a: a == label)]
    return " ".join(names) or node.name


def showing(node):
    """The node and those below it, none below one not on show (such as a closed list)."""
    yield node
    for child in node if node.getState().contains(pyatspi.STATE_SHOWING) else []:
        yield from showing(child)


class Program(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"],
                                      stdout=subprocess.PIPE, text=True)
        cls.display = ":" + cls.server.stdout.readline().strip()

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(5)

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=self.environment, stdout=subprocess.PIPE, text=True,
                              timeout=20).stdout.strip()

    def open(self, settings, **environment):
        """The program on Xvfb with these settings stored, and these variables (None: removed), its window focused;
        it is mapped only once the module beside the program has been loaded."""
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.settings = os.path.join(folder.name, "Ostrel", "Ostrel.conf")
        os.mkdir(os.path.dirname(self.settings))
        with open(self.settings, "w") as file:
            file.write(f"[Settings]\nDeviceName=127.0.0.1\n{settings}")
        # The sanitizer's leak search at exit is no part of the program's own ending.
        environment.update(DISPLAY=self.display, XDG_CONFIG_HOME=folder.name, ASAN_OPTIONS="detect_leaks=0")
        self.environment = {k: v for k, v in headless(**environment).items() if v is not None}
        self.program = subprocess.Popen([BUILT], env=self.environment)
        self.addCleanup(self.program.wait, 5)
        self.addCleanup(self.program.kill)
        self.xdotool("windowfocus", "--sync", self.xdotool("search", "--sync", "--onlyvisible", "--name", "^Ostrel "))

    def test_escape_ends_at_once(self):
        """Idle, in the middle of a check, and while F2 waits for the desktop to name the help page's type (xdg-mime
        here never answers). Started without a session bus (plain X, ssh -X), it leaves nothing on its display."""
        desktop = tempfile.TemporaryDirectory()
        self.addCleanup(desktop.cleanup)
        with open(os.path.join(desktop.name, "xdg-mime"), "w") as file:
            file.write("#!/bin/sh\nexec sleep 10\n")
        os.chmod(file.name, 0o755)
        os.symlink("/bin/true", os.path.join(desktop.name, "xdg-open"))
        blackholed = Port("blackholed")
        self.addCleanup(blackholed.close)
        for key, limit in (("", 0.3), ("Return", 0.5), ("F2", 0.5)):
            with self.subTest(key=key):
                # Everything but "Argument", which the closing writes after a check.
                self.open(f"Port={blackholed.port}\nTimeout=10\n", PATH=desktop.name + ":" + os.environ["PATH"],
                          DBUS_SESSION_BUS_ADDRESS=None, XDG_RUNTIME_DIR=None)
                if key:
                    self.xdotool("key", key)
                    time.sleep(0.5)
                    self.assertIsNone(self.program.poll())
                start = time.monotonic()
                self.xdotool("key", "Escape")
                self.program.wait(15)
                self.assertLess(time.monotonic() - start, limit)
                with open(self.settings) as file:
                    self.assertEqual("\nArgument=" in file.read(), key == "Return")
                # Nothing on its display once it ended (libdbus would autolaunch a bus for it).
                left = subprocess.run(["grep", "-lsxz", f"DISPLAY={self.display}", *glob.glob("/proc/[0-9]*/environ")],
                                      stdout=subprocess.PIPE, text=True).stdout.split()
                self.assertEqual([Path(path).with_name("comm").read_text() for path in left], [])

    def test_screen_reader(self):
        """Each control that takes the focus has a name of its own, no frame's caption, and each field a
        description; no light is met while none is on. Return on Check Port, reached with Shift+Tab, checks, and
        the result is told at once, the focus staying where it was."""
        device = Port()
        self.addCleanup(device.close)
        self.open(f"Port={device.port}\n", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        for _ in range(100):  # until the window has registered
            windows = [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "ostrel"]
            if windows:
                break
            time.sleep(0.1)
        names = []  # of the focusable controls on show, marked when a field has no description
        for node in showing(windows[0]):
            self.assertNotEqual(node.getRoleName(), "image", read_name(node))
            if node.getState().contains(pyatspi.STATE_SHOWING) and node.getState().contains(pyatspi.STATE_FOCUSABLE):
                field = node.getRoleName() in ("text", "combo box", "scroll bar")
                names.append(read_name(node) + (" (no description)" if field and not node.description else ""))
        self.assertEqual(len(names), len(set(names)), names)
        wrong = r"^ *$|^ *(Port Settings|Connection Result) *$|no description$"
        self.assertEqual([name for name in names if re.search(wrong, name)], [])
        self.assertEqual(len([n for n in names if re.search(r"^Timeout .*seconds$|^Browse for the command$", n)]), 2)
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
        GLib.idle_add(self.xdotool, "key", "shift+Tab", "Return")  # once: it returns no text
        GLib.timeout_add_seconds(10, pyatspi.Registry.stop)
        pyatspi.Registry.start()
        self.assertEqual(told[-3:], ["focus|push button|Check Port", "shown|image|Port available",
                                     "shown|notification|Port Available"])

    def test_stale_display(self):
        """An ssh session or a cron job that exports one: help on standard output, the start-up failure on standard
        error, no abort."""
        free = (n for n in range(170, 1000) if not glob.glob(f"/tmp/.X{n}-lock") + glob.glob(f"/tmp/.X11-unix/X{n}"))
        environment = headless(DISPLAY=f":{next(free)}", ASAN_OPTIONS="detect_leaks=0")
        for arguments, code, out, err in (["/?"], 0, "Use the followi", ""), ([], 1, "", "Error loading main form, "):
            run = subprocess.run([BUILT, *arguments], env=environment, capture_output=True, text=True, timeout=20)
            self.assertEqual((run.returncode, run.stdout[:15], run.stderr[:25]), (code, out, err))


if __name__ == "__main__":
    unittest.main()
