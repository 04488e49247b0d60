#!/usr/bin/python3
"""What a screen reader finds in the main window, over the accessibility bus
(at-spi2 and pyatspi): the window is a window, every list, slider and progress bar
has a name from its label, the status line's text is readable, the banner says
what it is, no hidden control is left in the tree, and the menu bar is there.

Run inside a D-Bus session of its own (dbus-run-session); needs an X display in
TONEWELL_X_DISPLAY (exits 77, skipped, without one).

Usage: dbus-run-session -- a11y_test.py TONEWELL_EXE
"""

import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import wave

EXE = sys.argv[1]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def descendants(pid):
    """The processes started under `pid`, found in /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(ppid, []).append(int(entry))
            except (OSError, ValueError, IndexError):
                pass
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def walk(node, out):
    out.append(node)
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, out)
    return out


def main():
    display = os.environ.get("TONEWELL_X_DISPLAY")
    if not display:
        print("skipped: no X display")
        return 77
    import pyatspi

    folder = tempfile.mkdtemp(prefix="tonewell-a11y-")
    os.makedirs(os.path.join(folder, "sounds", "Music Tracks", "T"))
    os.makedirs(os.path.join(folder, "sounds", "Voice Messages", "V"))
    with wave.open(os.path.join(folder, "sounds", "Voice Messages", "V", "m.wav"), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\0\1" * 8000)
    with wave.open(os.path.join(folder, "sounds", "Music Tracks", "T", "a.wav"), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(44100)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * i / 44100)))
                               for i in range(44100 * 20)))
    with open(os.path.join(folder, "audio.cfg"), "w") as f:
        f.write("[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
                "sounds\\Music Tracks\\T\\a.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
                ".\n\n[VOICE_LIST]\nsounds\\Voice Messages\\V\\m.wav\n"
                "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n.\n\n")
    # Without our output: nothing holds the test's output open after the end. The
    # bus it starts is stopped with it.
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           start_new_session=True)
    time.sleep(1)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               XDG_CONFIG_HOME=os.path.join(folder, "config"))
    app = subprocess.Popen([EXE], cwd=folder, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    try:
        found = None
        deadline = time.time() + 20
        while time.time() < deadline and found is None:
            time.sleep(0.5)
            for a in pyatspi.Registry.getDesktop(0):
                if a is not None and a.name == "Tonewell" and a.childCount:
                    found = a
        check(found is not None, "Tonewell is on the accessibility bus")
        if found is None:
            return 1
        time.sleep(4)  # the first song starts 2 s after the window
        window = found.getChildAtIndex(0)
        check(window.getRoleName() == "frame", "the main window is a window, not a dialog ("
              + window.getRoleName() + ")")
        check(window.name == "Tonewell v1.0", "the window is named by its title: " + window.name)
        nodes = walk(window, [])
        named = {(n.getRoleName(), n.name) for n in nodes}
        for role, name in [("list", "Voice Messages files"), ("list", "Music Tracks files"),
                           ("slider", "Voice Messages volume"), ("slider", "Music Tracks volume"),
                           ("progress bar", "Music Tracks progress"),
                           ("menu item", "File"), ("menu item", "Playback"), ("menu item", "Help")]:
            check((role, name) in named, f"a {role} named \"{name}\"")
        labels = [n.name for n in nodes if n.getRoleName() == "label"]
        check(any("Playing T\\a.wav" in l for l in labels),
              "the status line's text is read: " + repr([l for l in labels if len(l) > 3]))
        # Its name says what plays and holds still; the countdown is in its
        # description, read on request.
        status = [n for n in nodes if n.getRoleName() == "label" and "Playing T\\a.wav" in n.name]
        if status:
            first_name, first_description = status[0].name, status[0].description
            time.sleep(2.5)
            check("Next message in" not in first_name and status[0].name == first_name,
                  f"the status line's name holds still: {first_name!r}, then {status[0].name!r}")
            check("Next message in" in first_description and status[0].description != first_description,
                  f"its description counts down: {first_description!r}, then {status[0].description!r}")
        images = [n.name for n in nodes if n.getRoleName() == "image"]
        check(images and all(images), "the banner has a name: " + repr(images))
        hidden = [n.name for n in nodes if n.getRoleName() == "push button"
                  and not n.getState().contains(pyatspi.STATE_VISIBLE)]
        check(not hidden, "no hidden button in the tree: " + repr(hidden))
    finally:
        app.kill()
        app.wait()
        for pid in descendants(bus.pid) + [bus.pid]:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        bus.wait()
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
