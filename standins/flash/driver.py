#!/usr/bin/env python3
"""Test driver for programs that host the Flash control stand-in.

The stand-in control connects to the address in PX_MOVIE_DRIVER when a movie is
loaded and speaks JSON Lines (see README.md). This module plays the movie's side:

    with WebSide(root_dir) as web, MovieDriver() as driver:
        register_control(dll_path)                       # once per Wine prefix
        store = driver.start_program(exe_path, ["APPHOSTID", "7"])
        main = driver.accept()                           # the main window's control
        path = main.wait_load_movie()
        replies = main.call('<invoke name="Init" returntype="xml"></invoke>')
        pushes = main.pushes(wait=1.0)

Standard library only. Wine runs through PX_WINE (set by scripts/wine-session.sh) or
/usr/lib/wine/wine64.
"""

import json
import os
import queue
import socket
import subprocess
import tempfile
import threading
import time

CONTROL_CLSID = "{D27CDB6E-AE6D-11CF-96B8-444553540000}"
HERE = os.path.dirname(os.path.abspath(__file__))
WEBSIDE_SERVER = os.path.join(HERE, "..", "webside", "server.py")


class DriverError(Exception):
    """The control answered with an error, closed, or did not answer in time."""


def wait_until(condition, timeout, what, step=0.2):
    """The first true value of condition(), asked every `step` seconds; DriverError when
    none came within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DriverError("not reached within %.0f s: %s" % (timeout, what))
        time.sleep(step)


def wine_loader():
    return os.environ.get("PX_WINE", "/usr/lib/wine/wine64")


def windows_path(linux_path):
    """The path as a program under Wine sees it (Z: is the Linux root)."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


TLS_KINDS = ("good", "wrong-name", "expired", "unknown-authority", "revoked",
             "revocation-unknown")


def start_webside(root, port=0, tls_dir=None, server=WEBSIDE_SERVER):
    """Starts the web side stand-in; returns (process, plain port, {TLS kind: port}).
    With tls_dir the stand-in makes its test authority there and serves TLS too."""
    command = ["python3", server, "--root", root, "--port", str(port)]
    if tls_dir is not None:
        command += ["--tls", tls_dir]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                               text=True)
    first = process.stdout.readline().strip()
    if not first.startswith("listening 127.0.0.1:"):
        process.kill()
        raise DriverError("web side did not start: %r" % first)
    tls_ports = {}
    while tls_dir is not None and len(tls_ports) < len(TLS_KINDS):
        line = process.stdout.readline().strip()
        words = line.split()
        if len(words) != 3 or words[0] != "tls":
            process.kill()
            raise DriverError("web side did not announce its TLS ports: %r" % line)
        tls_ports[words[1]] = int(words[2].rsplit(":", 1)[1])
    return process, int(first.rsplit(":", 1)[1]), tls_ports


def trust_authority(action, der_path, env=None):
    """Adds ("add") or removes ("remove") a test authority in the Wine prefix's machine
    Root store with the trust_authority.exe helper named by PX_TRUST_AUTHORITY."""
    helper = (env or os.environ).get("PX_TRUST_AUTHORITY")
    if not helper:
        raise DriverError("PX_TRUST_AUTHORITY names no trust_authority.exe")
    subprocess.run([wine_loader(), helper, action, windows_path(der_path)], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True, timeout=120)


class WebSide:
    """The web side stand-in on a free port, stopped on exit. With tls=True it also
    serves its TLS ports, and its test authority is trusted in the Wine prefix until
    stop()."""

    def __init__(self, root, server=WEBSIDE_SERVER, tls=False):
        self.tls_dir = os.path.abspath(root) + ".tls" if tls else None
        self.trusted = False
        self.process, self.port, self.tls_ports = start_webside(
            root, tls_dir=self.tls_dir, server=server)
        if tls:
            try:
                trust_authority("add", os.path.join(self.tls_dir, "ca.der"))
                self.trusted = True
            except Exception:
                self.stop()
                raise

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def tls_url(self, kind, path):
        return "https://127.0.0.1:%d%s" % (self.tls_ports[kind], path)

    def stop(self):
        if self.trusted:
            self.trusted = False
            trust_authority("remove", os.path.join(self.tls_dir, "ca.der"))
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def registration_text(dll_windows_path):
    """A .reg file that registers the stand-in control at dll_windows_path."""
    escaped = dll_windows_path.replace("\\", "\\\\")
    key = "HKEY_CLASSES_ROOT\\CLSID\\" + CONTROL_CLSID
    return ("REGEDIT4\r\n\r\n"
            "[%s]\r\n@=\"Shockwave Flash Object (stand-in)\"\r\n\r\n"
            "[%s\\InprocServer32]\r\n@=\"%s\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n"
            % (key, key, escaped))


def register_control(dll_path, env=None):
    """Registers the stand-in in the current Wine prefix (WINEPREFIX) with regedit."""
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as reg:
        reg.write(registration_text(windows_path(dll_path)))
        reg_path = reg.name
    try:
        subprocess.run([wine_loader(), "regedit", windows_path(reg_path)], env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=120)
    finally:
        os.unlink(reg_path)


class MovieControl:
    """One control instance's connection: events in, calls out."""

    def __init__(self, sock):
        self.sock = sock
        self.events = queue.Queue()
        self.queued_pushes = []
        # Events other than the ones the methods below wait for (ambient, properties,
        # key, char ...), in arrival order, until noted_events takes them.
        self.noted = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        pending = b""
        try:
            while True:
                data = self.sock.recv(65536)
                if not data:
                    break
                pending += data
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    if line.strip():
                        self.events.put(json.loads(line.decode("utf-8")))
        except (OSError, ValueError) as error:
            self.events.put({"event": "closed", "message": str(error)})
            return
        self.events.put({"event": "closed"})

    def next_event(self, timeout=10.0):
        """The next event object; DriverError when none comes in time."""
        try:
            return self.events.get(timeout=timeout)
        except queue.Empty:
            raise DriverError("no event within %.1f s" % timeout) from None

    def send(self, obj):
        self.sock.sendall((json.dumps(obj, ensure_ascii=False) + "\n").encode("utf-8"))

    def wait_load_movie(self, timeout=30.0):
        """The path of the next loaded movie; calls seen meanwhile count as pushes."""
        deadline = time.monotonic() + timeout
        while True:
            event = self.next_event(max(0.0, deadline - time.monotonic()))
            kind = event.get("event")
            if kind == "loadMovie":
                return event["path"]
            if kind == "callFunction":
                self.queued_pushes.append(event["request"])
            elif kind == "closed":
                raise DriverError("control closed before loading a movie")
            else:
                self.noted.append(event)

    def call(self, request, timeout=10.0):
        """Raises FlashCall with request; returns the callFunction requests the host
        made before the event returned (its reply first, then any pushes)."""
        self._drain()
        self.send({"call": request})
        deadline = time.monotonic() + timeout
        made = []
        while True:
            event = self.next_event(max(0.0, deadline - time.monotonic()))
            kind = event.get("event")
            if kind == "returned":
                return made
            if kind == "callFunction":
                made.append(event["request"])
            elif kind in ("error", "closed"):
                raise DriverError("%s: %s" % (kind, event.get("message", "")))
            else:
                self.noted.append(event)

    def pushes(self, wait=0.0):
        """callFunction requests made outside any call, waiting up to wait seconds
        for more; each is returned once."""
        deadline = time.monotonic() + wait
        while True:
            left = deadline - time.monotonic()
            try:
                event = self.events.get(timeout=left) if left > 0 else self.events.get_nowait()
            except queue.Empty:
                break
            if event.get("event") == "callFunction":
                self.queued_pushes.append(event["request"])
            elif event.get("event") == "closed":
                self.events.put(event)
                break
            else:
                self.noted.append(event)
        found, self.queued_pushes = self.queued_pushes, []
        return found

    def host_report(self, timeout=10.0):
        """Asks the control what its host told it: {"ambient": EVENT, "properties": EVENT,
        "window": EVENT} (see README.md, {"report":"host"})."""
        self._drain()
        self.send({"report": "host"})
        found = {}
        for kind in ("ambient", "properties", "window"):
            events = self.noted_events(kind, wait=timeout, count=1)
            if not events:
                raise DriverError("no %s event within %.1f s" % (kind, timeout))
            found[kind] = events[-1]
        return found

    def noted_events(self, kind, wait=0.0, count=None):
        """The events of kind (for example "key", "ambient", "properties") that arrived so
        far, waiting up to wait seconds, or until count of them are there; each is
        returned once. Pushes arriving meanwhile are kept for pushes()."""
        deadline = time.monotonic() + wait
        while True:
            matching = [e for e in self.noted if e.get("event") == kind]
            left = deadline - time.monotonic()
            if left <= 0 or (count is not None and len(matching) >= count):
                break
            queued = self.queued_pushes
            self.queued_pushes = []
            self.queued_pushes = queued + self.pushes(wait=min(left, 0.2))
        self.noted = [e for e in self.noted if e.get("event") != kind]
        return matching

    def _drain(self):
        while True:
            try:
                event = self.events.get_nowait()
            except queue.Empty:
                return
            if event.get("event") == "callFunction":
                self.queued_pushes.append(event["request"])
            elif event.get("event") == "closed":
                self.events.put(event)
                return
            else:
                self.noted.append(event)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.reader.join(timeout=10)


class MovieDriver:
    """Listens for control instances and starts programs that host them."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.address = "127.0.0.1:%d" % self.listener.getsockname()[1]
        self.controls = []
        self.programs = []

    def environment(self, extra=None):
        env = dict(os.environ)
        env["PX_MOVIE_DRIVER"] = self.address
        env.update(extra or {})
        return env

    def start_program(self, exe_path, args=(), env=None, cwd=None, stdout=None):
        """Starts a Windows program under Wine with PX_MOVIE_DRIVER pointing here."""
        process = subprocess.Popen([wine_loader(), exe_path] + list(args),
                                   env=self.environment(env), cwd=cwd,
                                   stdin=subprocess.DEVNULL, stdout=stdout)
        self.programs.append(process)
        return process

    def accept(self, timeout=60.0):
        """The next control instance that connects."""
        self.listener.settimeout(timeout)
        try:
            sock, _ = self.listener.accept()
        except socket.timeout:
            raise DriverError("no control connected within %.1f s" % timeout) from None
        sock.settimeout(None)
        control = MovieControl(sock)
        self.controls.append(control)
        return control

    def close(self):
        for control in self.controls:
            control.close()
        for process in self.programs:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
