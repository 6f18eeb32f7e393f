#!/usr/bin/env python3
"""Files dragged onto the real PXStore.exe and out of it, under Wine on the test's X
display: a drop made by an XDND source (as a Linux file manager makes it) must reach the
movie as one DoDrapFiletoPlenthra list, and files the movie starts dragging must land on
another program's window (drop_target.exe) when the mouse leaves the store, or be asked
for with DownloadFiles when they are not all there. The mouse is driven with xdotool."""

import datetime
import os
import re
import threading
import time
import unittest

from store_fixture import DropTarget, StoreSession, invoke, screenshot, xdotool
import driver
import xdnd_drop

ENABLE_DRAG_PUSH = ('<invoke name="EnableTreeMenuDragDrop" returntype="xml"><arguments>'
                    '<number>0</number></arguments></invoke>')
PUSHED_STRING = re.compile(r'^<invoke name="(\w+)" returntype="xml"><arguments>'
                           r'<string>(.*)</string></arguments></invoke>$', re.S)
DATE = r"\d\d/\d\d/\d{4}"

# Screen points on the 1280x1024 display: the store window covers 0,0 to 1024,768 and its
# Flash control nearly all of it; the drop target sits to its right.
INSIDE_CONTROL = (512, 400)
TARGET_RECT = (1040, 200, 230, 400)
OVER_TARGET = [(1100, 400), (1130, 420), (1160, 440)]


def write_file(path, size, modified=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(bytes(i % 251 for i in range(size)))
    if modified is not None:
        stamp = modified.timestamp()
        os.utime(path, (stamp, stamp))


def today_texts():
    return {time.strftime("%m/%d/%Y")}


def wait_pushes(session, name, timeout=20.0):
    """All pushes seen until one named name arrives (or the time is up)."""
    seen = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        seen += session.movie.pushes(wait=0.5)
        if any('<invoke name="%s"' % name in p for p in seen):
            break
    return seen


def pushed(pushes, name):
    """The string arguments of the pushes named name, in order."""
    found = []
    for push in pushes:
        match = PUSHED_STRING.match(push)
        if match and match.group(1) == name:
            found.append(match.group(2))
    return found


class DropOntoStoreTest(unittest.TestCase):
    def test_dropped_files_and_folders_reach_the_movie_as_one_list(self):
        with StoreSession() as session:
            chair = os.path.join(session.root, "drop", "chair model.max")
            write_file(chair, 1234, datetime.datetime(2021, 3, 4, 12, 0))
            kit = os.path.join(session.root, "drop", "kit")
            write_file(os.path.join(kit, "a.txt"), 100)
            write_file(os.path.join(kit, "maps", "b.bin"), 2000)
            missing = os.path.join(session.root, "drop", "gone.max")
            cases = [
                ("a file and a folder", [chair, kit], [
                    (driver.windows_path(chair), 1234, None, "03/04/2021"),
                    (driver.windows_path(kit) + ".PLENTHRA_UNZIP", 2100, "today", "today"),
                ]),
                ("a missing file is left out", [missing, chair], [
                    (driver.windows_path(chair), 1234, None, "03/04/2021"),
                ]),
            ]
            session.start()
            session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            for label, paths, expected in cases:
                with self.subTest(label):
                    days = today_texts()
                    result = xdnd_drop.drop_files(paths, *INSIDE_CONTROL)
                    self.assertTrue(result["accepted"], result)
                    pushes = wait_pushes(session, "DoDrapFiletoPlenthra")
                    pushes += session.movie.pushes(wait=1.5)
                    days |= today_texts()
                    lists = pushed(pushes, "DoDrapFiletoPlenthra")
                    self.assertEqual(len(lists), 1, pushes)
                    records = lists[0].split("|")
                    self.assertEqual(records[-1], "", lists[0])
                    self.assertEqual(len(records) - 1, len(expected), lists[0])
                    for record, (path, size, created, modified) in zip(records, expected):
                        fields = record.split("*")
                        self.assertEqual(fields[:2], [path, str(size)], record)
                        self.assertEqual(len(fields), 4, record)
                        for field, want in zip(fields[2:], (created, modified)):
                            self.assertRegex(field, "^%s$" % DATE)
                            if want == "today":
                                self.assertIn(field, days, record)
                            elif want is not None:
                                self.assertEqual(field, want, record)


class DragOutTest(unittest.TestCase):
    def drag_out(self, session, target, listing, expect_drag, shot=None):
        """Presses the button inside the control, lets the movie start a drag of listing,
        moves onto the drop target and releases there; returns the pushes seen."""
        xdotool("mousemove", *INSIDE_CONTROL)
        xdotool("mousedown", 1)
        released = False
        try:
            session.movie.call(invoke("BeginDropFiles", listing))
            xdotool("mousemove", *OVER_TARGET[0])
            pushes = wait_pushes(session, "EnableTreeMenuDragDrop")
            self.assertIn(ENABLE_DRAG_PUSH, pushes)
            for point in OVER_TARGET[1:]:
                time.sleep(0.5)
                xdotool("mousemove", *point)
            if shot:
                screenshot(shot)
            if expect_drag:
                # A drag is on its way: the target must see it before the button goes up.
                target.output.expect("enter", 20)
            xdotool("mouseup", 1)
            released = True
            pushes += session.movie.pushes(wait=1.0)
            return pushes
        finally:
            if not released:
                xdotool("mouseup", 1)

    def test_files_dragged_out_of_the_movie(self):
        with StoreSession() as session, DropTarget(*TARGET_RECT) as target:
            folder = os.path.join(session.root, "cache")
            chair = os.path.join(folder, "chair.max")
            lamp = os.path.join(folder, "lamp maps.zip")
            write_file(chair, 4321)
            write_file(lamp, 777)
            a, b = driver.windows_path(chair), driver.windows_path(lamp)
            cases = [
                # label, list the movie sends, files dropped, DownloadFiles argument
                ("both files as listed", "1*%s*4321|2*%s*777|" % (a, b), [a, b], None),
                ("one file of another size", "1*%s*4321|2*%s*778|" % (a, b), None, b + "*"),
                ("a record of size 0 is skipped", "1*%s*0|2*%s*777|" % (a, b), [b], None),
            ]
            session.start()
            session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            for label, listing, dropped, download in cases:
                with self.subTest(label):
                    shot = "store-drag-out" if dropped == [a, b] else None
                    pushes = self.drag_out(session, target, listing, dropped is not None, shot)
                    self.assertEqual(pushes[0], ENABLE_DRAG_PUSH, pushes)
                    if dropped is not None:
                        line = target.output.expect("dropped", 20)
                        self.assertEqual(line, "dropped " + "|".join(dropped))
                        self.assertEqual(pushed(pushes, "DownloadFiles"), [])
                    else:
                        self.assertEqual(pushed(pushes, "DownloadFiles"), [download], pushes)
                        later = target.output.drain(wait=3.0)
                        self.assertFalse([n for n in later if n.startswith(("enter", "dropped"))],
                                         later)
                    self.assertIsNone(session.store.poll())

    def test_drag_lists_while_the_button_goes_up_and_down_keep_the_store_answering(self):
        """The movie hands over drag lists as fast as it can while the button is pressed
        inside the control, dragged out and released, again and again: the watcher that
        turns file drops off and on must never wait for the window while the movie's
        thread waits for the watcher."""
        with StoreSession() as session:
            missing = driver.windows_path(os.path.join(session.root, "missing.max"))
            listing = "1*%s*10|" % missing  # never dragged: only asked for again
            session.start()
            root, _ = session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            stop = threading.Event()

            def press_and_release():
                while not stop.is_set():
                    xdotool("mousemove", *INSIDE_CONTROL)
                    xdotool("mousedown", 1)
                    time.sleep(0.35)
                    xdotool("mousemove", *OVER_TARGET[0])
                    time.sleep(0.35)
                    xdotool("mouseup", 1)
                    time.sleep(0.1)

            mouse = threading.Thread(target=press_and_release, daemon=True)
            mouse.start()
            calls = 0
            try:
                deadline = time.monotonic() + 8
                while time.monotonic() < deadline:
                    session.movie.call(invoke("BeginDropFiles", listing), timeout=20)
                    calls += 1
            finally:
                stop.set()
                mouse.join(30)
                xdotool("mouseup", 1)
            self.assertGreater(calls, 10)
            self.assertIsNotNone(session.init())
            started = time.monotonic()
            self.assertEqual(session.probe.command("close"), "close ok")
            self.assertEqual(session.wait_exit(60), 0)
            self.assertLess(time.monotonic() - started, 20)


if __name__ == "__main__":
    unittest.main(verbosity=2)
