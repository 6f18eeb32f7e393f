"""The whole system under Wine, as the system test and the demo drive it.

PXStore.exe is installed where the plug-in looks for it (C:\\Program Files\\Vellamar
Plenthra in the Wine prefix) with a settings file that points its upload URL and its
update service at the web side stand-in; 3ds Max is played by maxhost.exe with the real
PXPluginMax.dlu; the movie is played through the Flash control stand-in, whose driver
address reaches the store through the environment that maxhost.exe passes on when the
plug-in starts the store; dlgwatch.exe answers and reports message boxes.

Standard library only. Run inside scripts/wine-session.sh (WINEPREFIX, DISPLAY, PX_WINE).
"""

import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(REPO, "standins", "flash"))
sys.path.insert(0, os.path.join(REPO, "tests", "store"))
import driver  # noqa: E402
import xwd_png  # noqa: E402

DriverError = driver.DriverError

# The plug-in's actions (its function-published interface numbers them 5 to 9).
ACTION_SEARCH_MARKETPLACE = 5
ACTION_OPEN_MY_FILES = 6
ACTION_SAVE_TO_PLENTHRA = 7
ACTION_CHECK_FOR_UPDATE = 8
ACTION_ABOUT = 9
MENU_ITEMS = ["Search Marketplace...", "Open My Files...", "Save to Plenthra...",
              "Check for Update...", "About Vellamar Plenthra"]

PLUGIN_HOST_ID = 14
PLUGIN_VERSION = "1.0.72"
INSTALL_FOLDER_WINDOWS = "C:\\Program Files\\Vellamar Plenthra"
SERVICE_PATH = "/aerin/aerinpluginconfigurationservice.cfm"
UPLOAD_PATH = "/Upload/uploadtest.asp"
NO_UPDATE_DESCRIPTOR = '<?xml version="1.0"?>\r\n<PXUpdate></PXUpdate>\r\n'
NO_UPDATE_DIALOG = "dialog Information | No updates are currently available."
FOLDER_MARKER = ".PLENTHRA_UNZIP"

RETURN_VALUE = re.compile(
    r'<invoke name="SetReturnValue" returntype="xml"><arguments><string>(.*?)</string>'
    r'(?:<string>(.*?)</string>|<number>(.*?)</number>)</arguments></invoke>', re.S)
PUSH_NAME = re.compile(r'<invoke name="([^"]+)"')
PUSH_STRING = re.compile(r"<string>(.*?)</string>", re.S)


def service_query(host_id, version, counter):
    return "%s?intHostID=%d&stgVersion=%s&stgUpdateSource=1.0.0&temp=%d" % (
        SERVICE_PATH, host_id, version, counter)


def invoke(name, *arguments):
    """An invoke request as the movie sends it, string arguments only."""
    body = "".join("<string>%s</string>" % a for a in arguments)
    return '<invoke name="%s" returntype="xml"><arguments>%s</arguments></invoke>' % (name, body)


def push_name(request):
    match = PUSH_NAME.search(request)
    return match.group(1) if match else None


def push_argument(request):
    """The first string argument of a push, or None."""
    match = PUSH_STRING.search(request)
    return match.group(1) if match else None


def linux_path(windows_path):
    """A C: or Z: path of the Wine prefix as a Linux path."""
    if windows_path[:2].upper() == "Z:":
        return windows_path[2:].replace("\\", "/")
    if windows_path[:2].upper() == "C:":
        return os.path.join(os.environ["WINEPREFIX"], "drive_c",
                            windows_path[3:].replace("\\", "/"))
    raise ValueError(windows_path)


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


wait_until = driver.wait_until


class Transcript:
    """Standard output of a helper program, kept line by line; a cursor marks what the
    caller has already looked at. `echo` sees every line as it arrives."""

    def __init__(self, process, name, echo=None):
        self.process = process
        self.name = name
        self.echo = echo
        self.lines = []
        self.cursor = 0
        self.ended = False
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            line = raw.rstrip("\r\n")
            if self.echo is not None:
                self.echo(line)
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()
        with self.changed:
            self.ended = True
            self.changed.notify_all()

    def expect(self, prefix, timeout=30.0):
        """The first line at or after the cursor that starts with prefix; the cursor moves
        past it."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for index in range(self.cursor, len(self.lines)):
                    if self.lines[index].startswith(prefix):
                        self.cursor = index + 1
                        return self.lines[index]
                left = deadline - time.monotonic()
                if self.ended or left <= 0:
                    raise DriverError("%s: no line %r (%s; lines since the cursor: %r)" % (
                        self.name, prefix, "ended" if self.ended else "timed out",
                        self.lines[self.cursor:]))
                self.changed.wait(left)

    def since(self, mark):
        """Every line from index mark on."""
        with self.changed:
            return list(self.lines[mark:])

    def mark(self):
        with self.changed:
            return len(self.lines)

    def settle(self, wait):
        """Waits `wait` seconds and returns the lines after the cursor; the cursor moves to
        the end."""
        time.sleep(wait)
        with self.changed:
            found = self.lines[self.cursor:]
            self.cursor = len(self.lines)
            return found


def stop_process(process, quit_line=None, timeout=30.0):
    """Ends a helper process: the quit command first when it has one, then a kill."""
    if process.poll() is None and quit_line is not None:
        try:
            process.stdin.write(quit_line + "\n")
            process.stdin.flush()
            process.wait(timeout=timeout)
        except (OSError, ValueError, subprocess.TimeoutExpired):
            pass
    if process.poll() is None:
        process.kill()
        process.wait(timeout=timeout)
    for pipe in (process.stdin, process.stdout):
        if pipe is not None:
            try:
                pipe.close()
            except OSError:
                pass


class MaxHost:
    """maxhost.exe with the plug-in, started with the movie driver's environment so that
    the store the plug-in starts reaches the driver too."""

    REPLIES = {"menu": "menu ", "scene": "scene", "save-as": "save-as",
               "check-for-save": "check-for-save", "wait": "waited", "stop": "stopped",
               "start": "started"}

    def __init__(self, movie_driver, maxhost_exe, plugin, echo=None):
        self.process = subprocess.Popen(
            [driver.wine_loader(), maxhost_exe, plugin], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1,
            env=movie_driver.environment())
        self.output = Transcript(self.process, "maxhost", echo)
        self.output.expect("ready", 120)

    def command(self, line, timeout=60.0):
        """Runs one command and returns its reply line."""
        verb = line.split()[0]
        if verb == "action":
            reply = "action %s -> " % line.split()[1]
        else:
            reply = self.REPLIES.get(verb, verb)
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.output.expect(reply, timeout)

    def menu(self):
        """The Plenthra menu's items."""
        line = self.command("menu")
        title, _, items = line[len("menu "):].partition(": ")
        return title, items.split("|")

    def action(self, number, timeout=60.0):
        """Runs action number; its result as an int."""
        return int(self.command("action %d" % number, timeout).rsplit(" ", 1)[1])

    def expect(self, prefix, timeout=30.0):
        return self.output.expect(prefix, timeout)

    def close(self):
        stop_process(self.process, "quit")


class DialogWatch:
    """dlgwatch.exe answering every dialog of other processes with the given button."""

    def __init__(self, dlgwatch_exe, answer="ok", echo=None):
        self.process = subprocess.Popen(
            [driver.wine_loader(), dlgwatch_exe, "--answer", answer],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True, bufsize=1)
        self.output = Transcript(self.process, "dlgwatch", echo)

    def expect(self, prefix, timeout=30.0):
        return self.output.expect(prefix, timeout)

    def close(self):
        stop_process(self.process)


class StoreInstall:
    """PXStore.exe, its settings file and its two movies in the prefix's C:\\Program
    Files\\Vellamar Plenthra; whatever was there before is put back by remove(). The movies
    are placeholders: the Flash control stand-in never reads them, but the store shows them
    only when they are there."""

    MOVIES = ("Aerin.swf", "CameraShelf.swf")
    NAMES = ("PXStore.exe", "plugcfg") + MOVIES

    def __init__(self, store_exe, settings_xml):
        self.folder = linux_path(INSTALL_FOLDER_WINDOWS)
        self.exe = os.path.join(self.folder, "PXStore.exe")
        self.exe_windows = INSTALL_FOLDER_WINDOWS + "\\PXStore.exe"
        self.created = not os.path.isdir(self.folder)
        os.makedirs(self.folder, exist_ok=True)
        self.saved = tempfile.mkdtemp(prefix="pxinstall-saved-")
        for name in self.NAMES:
            if os.path.lexists(os.path.join(self.folder, name)):
                shutil.move(os.path.join(self.folder, name), os.path.join(self.saved, name))
        shutil.copy(store_exe, self.exe)
        os.makedirs(os.path.join(self.folder, "plugcfg"))
        with open(os.path.join(self.folder, "plugcfg", "pxplugin.xml"), "w") as f:
            f.write(settings_xml)
        for name in self.MOVIES:
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(b"movie placeholder")

    def remove(self):
        for name in self.NAMES:
            path = os.path.join(self.folder, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.lexists(path):
                os.unlink(path)
            if os.path.lexists(os.path.join(self.saved, name)):
                shutil.move(os.path.join(self.saved, name), path)
        shutil.rmtree(self.saved, ignore_errors=True)
        if self.created and not os.listdir(self.folder):
            os.rmdir(self.folder)


def store_settings(web_port):
    """The store's settings file: uploads and the update service at the web side."""
    return ('<?xml version="1.0"?><plugcfg>'
            '<UploadUrl>http://127.0.0.1:%d%s</UploadUrl>'
            '<UpdateHost>127.0.0.1:%d</UpdateHost></plugcfg>' % (web_port, UPLOAD_PATH, web_port))


def wine_command_lines(image):
    """Command lines (as Windows wrote them) of the running processes of this Wine prefix
    whose program file is named image, read from /proc: Wine puts the Windows command line
    there. Other prefixes on the machine are left out."""
    prefix = os.path.realpath(os.environ["WINEPREFIX"])
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                words = [w for w in f.read().decode("utf-8", "replace").split("\0") if w]
            if not words or not re.search(r"(^|[\\/])%s$" % re.escape(image), words[0], re.I):
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        for variable in environment:
            if variable.startswith(b"WINEPREFIX=") and os.path.realpath(
                    variable[len(b"WINEPREFIX="):].decode("utf-8", "replace")) == prefix:
                found.append(words)
                break
    return found


def windows_pids(image):
    """Windows process ids of the running processes named image (wmic under Wine)."""
    listing = subprocess.run(
        [driver.wine_loader(), "wmic", "process", "get", "Name,ProcessId"],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
        timeout=120)
    raw = listing.stdout
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode(
        "latin-1")
    pids = []
    for line in text.splitlines():
        words = line.split()
        if len(words) == 2 and words[0].lower() == image.lower() and words[1].isdigit():
            pids.append(int(words[1]))
    return pids


class Movie:
    """The main window's Flash control as the movie sees it: calls with their replies,
    and every push the store makes, whether it came inside a call or on its own."""

    def __init__(self, control):
        self.control = control
        self.pushed = []

    def call(self, name, *arguments, timeout=30.0):
        """Calls name; returns the reply's value (text), None when there was none."""
        made = self.control.call(invoke(name, *arguments), timeout)
        value = None
        for request in made:
            match = RETURN_VALUE.search(request)
            if match and match.group(1) == name and value is None:
                value = match.group(2) if match.group(2) is not None else match.group(3)
            else:
                self.pushed.append(request)
        return value

    def wait_push(self, name, timeout=30.0):
        """The first push named name not yet taken; it is taken."""
        deadline = time.monotonic() + timeout
        while True:
            self.pushed += self.control.pushes()
            for index, request in enumerate(self.pushed):
                if push_name(request) == name:
                    del self.pushed[index]
                    return request
            left = deadline - time.monotonic()
            if left <= 0:
                raise DriverError("no %s push within %.0f s (pushes: %r)" % (
                    name, timeout, self.pushed))
            self.pushed += self.control.pushes(wait=min(0.5, left))

    def take_pushes(self, wait=0.0):
        """Every push not yet taken, after waiting `wait` seconds for more."""
        self.pushed += self.control.pushes(wait=wait)
        found, self.pushed = self.pushed, []
        return found

    def init(self):
        """Calls Init; returns (cache root, host ID)."""
        text = self.call("Init")
        match = re.match(r"RootCachePath=(.*?)\|HostID=(-?\d+)\|$", text or "")
        if not match:
            raise DriverError("unexpected Init reply %r" % text)
        return match.group(1), int(match.group(2))

    def follow_transfer(self, transfer_id, timeout=120.0, step=0.25, report=None):
        """Polls GetTransStatus until transfer_id has come and gone from the list (a record
        lingers 2 s after its end); returns its records, each once, in the order seen, as
        "id,done,total,status". report sees each new record."""
        seen = []
        started = time.monotonic()
        while time.monotonic() - started < timeout:
            status = self.call("GetTransStatus") or ""
            record = None
            for entry in status.strip('"').split(";"):
                if entry.split(",")[0] == str(transfer_id):
                    record = entry
            if record is None:
                if seen:
                    return seen
                if time.monotonic() - started > 30:
                    raise DriverError("transfer %d never listed" % transfer_id)
            elif not seen or seen[-1] != record:
                seen.append(record)
                if report is not None:
                    report(record)
            time.sleep(step)
        raise DriverError("transfer %d still listed after %.0f s: %r" % (
            transfer_id, timeout, seen))


class WebSide:
    """The web side stand-in serving a folder: model files under /files/, the update
    descriptor, and received uploads kept under _uploads/; with tls=True also over TLS,
    its test authority trusted in the Wine prefix until close()."""

    def __init__(self, root, tls=False):
        self.root = root
        os.makedirs(root, exist_ok=True)
        self.server = driver.WebSide(root, tls=tls)
        self.port = self.server.port

    def url(self, path):
        return self.server.url(path)

    def tls_url(self, kind, path):
        """The same stand-in over TLS with the certificate of that kind ("good", ...)."""
        return self.server.tls_url(kind, path)

    def put_file(self, name, data):
        with open(os.path.join(self.root, name), "wb") as f:
            f.write(data)

    def serve_descriptor(self, text):
        with open(os.path.join(self.root, "PXUpdate.xml"), "w", newline="") as f:
            f.write(text)

    def log(self):
        with urllib.request.urlopen(self.url("/_log"), timeout=60) as answer:
            return [json.loads(line) for line in answer.read().decode().splitlines() if line]

    def paths(self, prefix):
        return [entry["path"] for entry in self.log() if entry["path"].startswith(prefix)]

    def uploads(self):
        return [entry for entry in self.log()
                if entry["method"] == "POST" and entry["path"] == UPLOAD_PATH]

    def wait_uploads(self, count, timeout=60.0):
        return wait_until(lambda: len(self.uploads()) >= count and self.uploads(), timeout,
                          "%d upload(s) at the web side" % count)

    def stored_file_part(self, number):
        """(head, bytes) of the file part of the number-th upload (1 = first) as stored."""
        folder = os.path.join(self.root, "_uploads", "%04d" % number)
        for name in sorted(os.listdir(folder)):
            if name.endswith(".head"):
                with open(os.path.join(folder, name), encoding="latin-1") as f:
                    head = json.load(f)
                if head.get("filename") is not None:
                    with open(os.path.join(folder, name[:-5] + ".data"), "rb") as f:
                        return head, f.read()
        raise DriverError("upload %d has no file part" % number)

    def close(self):
        self.server.stop()


def file_part(upload_entry):
    """The part of a logged upload that carries a file."""
    files = [part for part in upload_entry.get("parts", []) if "filename" in part]
    if len(files) != 1:
        raise DriverError("expected one file part in %r" % upload_entry)
    return files[0]


def package_entries(data):
    """{entry name: bytes or None for a folder} of a zip package."""
    entries = {}
    with zipfile.ZipFile(io.BytesIO(data)) as package:
        for info in package.infolist():
            name = info.filename
            entries[name] = None if name.endswith("\\") or name.endswith("/") else \
                package.read(info)
    return entries


def folder_entries(folder):
    """What a package of folder holds: {name: bytes or None}, names below the folder's own
    name with backslashes, dot names left out as the packer does."""
    base = os.path.basename(folder.rstrip("/"))
    entries = {base + "\\": None}
    for current, folders, files in os.walk(folder):
        folders[:] = [d for d in folders if not d.startswith(".")]
        relative = os.path.relpath(current, os.path.dirname(folder.rstrip("/")))
        prefix = relative.replace("/", "\\")
        for name in folders:
            entries[prefix + "\\" + name + "\\"] = None
        for name in files:
            if not name.startswith("."):
                with open(os.path.join(current, name), "rb") as f:
                    entries[prefix + "\\" + name] = f.read()
    return entries


def find_window_id(title):
    """The X window id of the top-level window titled exactly title, or None."""
    if not shutil.which("xdotool"):
        return None
    found = subprocess.run(["xdotool", "search", "--name", "^%s$" % re.escape(title)],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, timeout=30)
    ids = [line.strip() for line in found.stdout.splitlines() if line.strip()]
    return ids[-1] if ids else None


def screenshot(folder, name, title="Vellamar"):
    """Saves the window titled title (else the whole screen) as folder/name.png; best
    effort: returns the path, or None when no picture could be taken."""
    if not folder or not shutil.which("xwd"):
        return None
    os.makedirs(folder, exist_ok=True)
    window = find_window_id(title) if title else None
    command = ["xwd", "-silent"] + (["-id", window] if window else ["-root"])
    dump = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=60)
    if dump.returncode != 0 or not dump.stdout:
        return None
    target = os.path.join(folder, name + ".png")
    try:
        xwd_png.convert(dump.stdout, target)
    except (ValueError, IndexError):
        return None
    return target
