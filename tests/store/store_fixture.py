"""Runs the real PXStore.exe under Wine for the store's end-to-end tests.

A StoreSession copies the program into an installation folder of its own (so each
session has its own settings file and its own single-instance counter), starts
store_probe.exe to play host plug-ins and poke windows, drives the movie through the
Flash control stand-in, and stops everything on exit. Paths of the programs come from
the environment that CMake gives the test: PX_STORE_EXE, PX_STORE_PROBE,
PX_FLASH_STANDIN, PX_DLGWATCH, PX_ARTEFACTS.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import queue

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "standins", "flash"))
import driver  # noqa: E402

RETURN_VALUE = re.compile(
    r'<invoke name="SetReturnValue" returntype="xml"><arguments><string>(.*?)</string>'
    r'(?:<string>(.*?)</string>|<number>(.*?)</number>)</arguments></invoke>', re.S)

_registered = False


def register_once():
    global _registered
    if not _registered:
        driver.register_control(os.environ["PX_FLASH_STANDIN"])
        # A store that crashes must end rather than wait in Wine's crash dialog.
        subprocess.run([driver.wine_loader(), "reg", "add", "HKCU\\Software\\Wine\\WineDbg",
                        "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=120)
        _registered = True


def register_again():
    """Registers the stand-in once more (after a test removed it)."""
    global _registered
    _registered = False
    register_once()


def invoke(name, *arguments):
    """An invoke request as the movie sends it, string arguments only."""
    body = "".join("<string>%s</string>" % a for a in arguments)
    return '<invoke name="%s" returntype="xml"><arguments>%s</arguments></invoke>' % (name, body)


def reply_value(requests, name):
    """The value of the SetReturnValue reply for name among requests (None if absent)."""
    for request in requests:
        match = RETURN_VALUE.search(request)
        if match and match.group(1) == name:
            return match.group(2) if match.group(2) is not None else match.group(3)
    return None


def linux_path(windows_path):
    """A C: or Z: path of the Wine prefix as a Linux path."""
    if windows_path[:2].upper() == "Z:":
        return windows_path[2:].replace("\\", "/")
    if windows_path[:2].upper() == "C:":
        prefix = os.environ["WINEPREFIX"]
        return os.path.join(prefix, "drive_c", windows_path[3:].replace("\\", "/"))
    raise ValueError(windows_path)


def screenshot(name):
    """Saves the X display as PX_ARTEFACTS/name.png (xwd, converted here); best effort."""
    folder = os.environ.get("PX_ARTEFACTS")
    if not folder or not shutil.which("xwd"):
        return None
    os.makedirs(folder, exist_ok=True)
    dump = subprocess.run(["xwd", "-root", "-silent"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=60)
    if dump.returncode != 0:
        return None
    sys.path.insert(0, HERE)
    import xwd_png
    target = os.path.join(folder, name + ".png")
    xwd_png.convert(dump.stdout, target)
    return target


def xdotool(*args):
    """Runs xdotool on the test's display (the mouse of the drag tests)."""
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=30,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


class LineReader:
    """Standard output of a helper program, one line at a time, read on a thread."""

    def __init__(self, process, name):
        self.process = process
        self.name = name
        self.lines = queue.Queue()
        self.notes = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\r\n"))
        self.lines.put(None)

    def expect(self, prefix, timeout=30.0):
        """The next line starting with prefix; lines before it are kept in notes."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                line = self.lines.get(timeout=max(0.01, left))
            except queue.Empty:
                raise driver.DriverError("%s: no %r within %.0f s (saw %r)"
                                         % (self.name, prefix, timeout, self.notes))
            if line is None:
                self.lines.put(None)
                raise driver.DriverError("%s ended while waiting for %r" % (self.name, prefix))
            if line.startswith(prefix):
                return line
            self.notes.append(line)

    def drain(self, wait=0.0):
        """The lines that arrive within wait seconds (and those already there)."""
        deadline = time.monotonic() + wait
        found = []
        while True:
            left = deadline - time.monotonic()
            try:
                line = self.lines.get(timeout=left) if left > 0 else self.lines.get_nowait()
            except queue.Empty:
                return found
            if line is None:
                self.lines.put(None)
                return found
            found.append(line)


class DropTarget:
    """drop_target.exe (PX_DROP_TARGET): another program's window at a screen rectangle
    that takes dropped files and prints "enter" and "dropped PATH|PATH"."""

    def __init__(self, x, y, width, height):
        self.rect = (x, y, width, height)
        self.process = subprocess.Popen(
            [driver.wine_loader(), os.environ["PX_DROP_TARGET"], str(x), str(y), str(width),
             str(height)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.output = LineReader(self.process, "drop target")
        self.output.expect("ready", 60)

    def close(self):
        stop_line_program(self.process)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def stop_line_program(process):
    """Asks a program that reads commands on standard input to quit, kills it when it does
    not, and closes its pipes."""
    if process.poll() is None:
        try:
            process.stdin.write("quit\n")
            process.stdin.flush()
            process.wait(timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            process.kill()
            process.wait(timeout=30)
    for pipe in (process.stdin, process.stdout):
        try:
            pipe.close()
        except OSError:
            pass


class Probe(LineReader):
    """store_probe.exe: commands in, one answer line each."""

    def __init__(self):
        process = subprocess.Popen(
            [driver.wine_loader(), os.environ["PX_STORE_PROBE"]], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        super().__init__(process, "probe")
        self.expect("ready", 60)
        self.pid = int(self.command("pid").split()[1])

    def command(self, line, answer=None, timeout=30.0):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.expect(answer or line.split()[0], timeout)

    def window(self):
        """The main window as a dict (visible, x, y, w, h, cx, cy, cw, ch), or None."""
        line = self.command("window")
        if line == "window none":
            return None
        return {k: int(v) for k, v in (pair.split("=") for pair in line.split()[1:])}

    def wait_window(self, condition, timeout=30.0):
        deadline = time.monotonic() + timeout
        while True:
            window = self.window()
            if window is not None and condition(window):
                return window
            if time.monotonic() > deadline:
                raise driver.DriverError("window state not reached: %r" % (window,))
            time.sleep(0.25)

    def close(self):
        stop_line_program(self.process)

    def post_to_store(self, message, timeout=30.0):
        """Posts message to the store's hidden window once that window exists."""
        deadline = time.monotonic() + timeout
        while True:
            if self.command("post %d" % message, "posted").endswith(" ok"):
                return
            if time.monotonic() > deadline:
                raise driver.DriverError("the store's message window did not appear")
            time.sleep(0.2)


class StoreSession:
    """One installation of PXStore.exe with its probe and movie driver."""

    def __init__(self, settings_xml=None):
        register_once()
        self.root = tempfile.mkdtemp(prefix="pxstore-")
        self.install = os.path.join(self.root, "Vellamar Plenthra")
        os.makedirs(self.install)
        self.exe = os.path.join(self.install, "PXStore.exe")
        shutil.copy(os.environ["PX_STORE_EXE"], self.exe)
        if settings_xml is not None:
            os.makedirs(os.path.join(self.install, "plugcfg"))
            with open(os.path.join(self.install, "plugcfg", "pxplugin.xml"), "w") as f:
                f.write(settings_xml)
        self.driver = driver.MovieDriver()
        self.probe = Probe()
        self.store = None
        self.movie = None

    def start(self, args=(), wait_movie=True):
        self.store = self.driver.start_program(self.exe, list(args))
        if wait_movie:
            self.movie = self.driver.accept()
            path = self.movie.wait_load_movie()
            assert path.endswith("\\Aerin.swf"), path
        return self.store

    def start_again(self, args=()):
        """A second start of the same program file; returns its exit code."""
        second = subprocess.Popen([driver.wine_loader(), self.exe] + list(args),
                                  env=self.driver.environment(), stdin=subprocess.DEVNULL)
        return second.wait(timeout=60)

    def init(self):
        """Calls Init; returns (cache root as a Linux path, the reply text)."""
        replies = self.movie.call(invoke("Init"))
        text = reply_value(replies, "Init")
        root = re.match(r"RootCachePath=(.*?)\|HostID=(-?\d+)\|$", text)
        assert root, text
        return root.group(1), text

    def wait_exit(self, timeout=30.0):
        return self.store.wait(timeout=timeout)

    def close(self):
        if self.store is not None and self.store.poll() is None:
            self.probe.command("close")
            try:
                self.store.wait(timeout=30)
            except subprocess.TimeoutExpired:
                pass
        self.driver.close()
        self.probe.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
