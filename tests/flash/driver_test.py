#!/usr/bin/env python3
"""The movie driver library against a scripted control played by a socket client:
load and call round trips, pushes kept apart from a call's replies, error and closed
connections turned into DriverError, and the registration file's text."""

import json
import os
import socket
import sys
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "standins", "flash"))
import driver  # noqa: E402


class FakeControl:
    """Connects like the stand-in and answers each call with the given script."""

    def __init__(self, address, replies):
        host, port = address.split(":")
        self.sock = socket.create_connection((host, int(port)))
        self.replies = replies
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def send(self, obj):
        self.sock.sendall((json.dumps(obj) + "\n").encode("utf-8"))

    def start(self):
        self.thread.start()

    def _serve(self):
        with self.sock.makefile("rb") as lines:
            for line in lines:
                request = json.loads(line)
                for event in self.replies(request):
                    self.send(event)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        if self.thread.is_alive():
            self.thread.join(timeout=5)


class DriverTest(unittest.TestCase):
    def test_load_call_and_pushes(self):
        def replies(request):
            if "call" not in request:
                return [{"event": "error", "message": "expected call"}]
            if request["call"] == "boom":
                return [{"event": "error", "message": "bad"}]
            return [{"event": "callFunction", "request": "reply:" + request["call"]},
                    {"event": "callFunction", "request": "push"},
                    {"event": "returned"}]

        with driver.MovieDriver() as movie:
            fake = FakeControl(movie.address, replies)
            control = movie.accept(timeout=5)
            fake.send({"event": "callFunction", "request": "early push"})
            fake.send({"event": "loadMovie", "layer": 0, "path": "C:\\x\\Aerin.swf"})
            fake.start()
            self.assertEqual(control.wait_load_movie(timeout=5), "C:\\x\\Aerin.swf")
            fake.send({"event": "callFunction", "request": "between"})
            self.assertEqual(control.pushes(wait=0.3), ["early push", "between"])
            self.assertEqual(control.call("Init \u00e9", timeout=5),
                             ["reply:Init \u00e9", "push"])
            self.assertEqual(control.pushes(), [])
            with self.assertRaises(driver.DriverError):
                control.call("boom", timeout=5)
            fake.close()
            with self.assertRaises(driver.DriverError):
                control.call("after close", timeout=5)

    def test_timeouts_are_errors(self):
        with driver.MovieDriver() as movie:
            with self.assertRaises(driver.DriverError):
                movie.accept(timeout=0.2)
            fake = FakeControl(movie.address, lambda request: [])
            control = movie.accept(timeout=5)
            fake.start()
            with self.assertRaises(driver.DriverError):
                control.call("never answered", timeout=0.3)
            fake.close()

    def test_registration_text(self):
        text = driver.registration_text("C:\\stand-ins\\flash_standin.dll")
        self.assertIn("[HKEY_CLASSES_ROOT\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}"
                      "\\InprocServer32]", text)
        self.assertIn('@="C:\\\\stand-ins\\\\flash_standin.dll"', text)
        self.assertEqual(driver.windows_path("/tmp/a b"), "Z:\\tmp\\a b")


if __name__ == "__main__":
    unittest.main()
