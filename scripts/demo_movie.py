#!/usr/bin/env python3
"""The demo's movie and narrator: plays a typical request through the whole system under
Wine and says what happens, step by step.

    demo_movie.py --build BUILD_DIR --out OUT_DIR

Run inside scripts/wine-session.sh (make demo does). 3ds Max is played by maxhost.exe with
the real plug-in, the store is the real PXStore.exe installed in the prefix's Program
Files, and this script plays the Flash movie through the control stand-in: every call it
makes and every answer it gets is printed. The web side stand-in serves a small
catalogue generated here (OUT_DIR/web), takes the uploads and answers the update check.
Screenshots of the store window go to OUT_DIR/screenshots.
"""

import argparse
import math
import os
import shutil
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "system"))
import system_session as system  # noqa: E402
from system_session import driver  # noqa: E402

STARTED = time.monotonic()


def say(text=""):
    print("[%5.1fs] %s" % (time.monotonic() - STARTED, text) if text else "", flush=True)


def step(number, title):
    print("", flush=True)
    say("Step %d: %s" % (number, title))


def detail(text):
    say("    " + text)


# ---------------------------------------------------------------- the sample catalogue

def lathe_obj(name, profile, segments):
    """A closed surface of revolution as Wavefront OBJ text: profile is [(radius, height)]
    from bottom to top, turned around the vertical axis."""
    lines = ["# %s: generated for the Plenthra demo" % name, "o %s" % name]
    for radius, height in profile:
        for s in range(segments):
            angle = 2 * math.pi * s / segments
            lines.append("v %.4f %.4f %.4f" % (radius * math.cos(angle), height,
                                                radius * math.sin(angle)))
    for ring in range(len(profile) - 1):
        for s in range(segments):
            a = ring * segments + s + 1
            b = ring * segments + (s + 1) % segments + 1
            lines.append("f %d %d %d %d" % (a, b, b + segments, a + segments))
    return ("\n".join(lines) + "\n").encode("ascii")


def placeholder_scene(name, size):
    """Bytes standing in for a .max scene (the 3ds Max stand-in does not read scenes)."""
    seed = name.encode("ascii")
    block = bytes((seed[i % len(seed)] * 31 + i) % 256 for i in range(4096))
    return (b"PLENTHRA DEMO SCENE " + seed + b"\n" + block * (size // 4096 + 1))[:size]


def make_catalogue(root):
    """Writes the sample models and catalogue.txt into root; returns the catalogue rows
    (name, size, description)."""
    lamp = [(0.05, 0.0)] + [(0.6 - 0.45 * (i / 40.0) ** 0.5, 0.02 * i) for i in range(41)] + \
        [(0.6 + 0.4 * math.sin(i / 30.0 * math.pi / 2), 0.8 + 0.02 * i) for i in range(31)]
    vase = [(0.3 + 0.25 * math.sin(i / 60.0 * math.pi * 1.5), 0.025 * i) for i in range(61)]
    models = [
        ("chair.max", placeholder_scene("chair", 320 * 1024), "wooden chair (scene)"),
        ("table.max", placeholder_scene("table", 200 * 1024), "oak table (scene)"),
        ("desk-lamp.obj", lathe_obj("desk_lamp", lamp, 48), "desk lamp (mesh)"),
        ("vase.obj", lathe_obj("vase", vase, 64), "tall vase (mesh)"),
    ]
    rows = []
    os.makedirs(root, exist_ok=True)
    for name, data, description in models:
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
        rows.append((name, len(data), description))
    with open(os.path.join(root, "catalogue.txt"), "w") as f:
        for name, size, description in rows:
            f.write("%s\t%d\t%s\n" % (name, size, description))
    with open(os.path.join(root, "PXUpdate.xml"), "w", newline="") as f:
        f.write(system.NO_UPDATE_DESCRIPTOR)
    return rows


# ---------------------------------------------------------------- narration helpers

def describe_record(record, unit):
    transfer_id, done, total, status = record.split(",")
    if status == "1":
        state = "not started yet"
    elif status == "0":
        state = "done" if done == total else "running"
        if unit == "KiB" and total == "0":
            state += " (the file is under 1 KiB)"
    else:
        state = "failed with code %s" % status
    return "GetTransStatus %s  -> %s of %s %s, %s" % (record, done, total, unit, state)


def follow(movie, transfer_id, unit):
    records = movie.follow_transfer(
        transfer_id, report=lambda record: detail(describe_record(record, unit)))
    detail("transfer %d left the list (a finished record stays visible for 2 s)"
           % transfer_id)
    return records


class Demo:
    def __init__(self, build, out):
        self.build = os.path.abspath(build)
        self.out = os.path.abspath(out)
        self.shots = os.path.join(self.out, "screenshots")
        self.work = os.path.join(self.out, "work")
        self.web = None
        self.install = None
        self.movie_driver = None
        self.dialogs = None
        self.host = None
        self.movie = None
        self.shot_count = 0
        self.host_lines = []

    def program(self, relative):
        path = os.path.join(self.build, relative)
        if not os.path.exists(path):
            raise SystemExit("demo: %s is missing; build the win64 targets first" % path)
        return path

    def screenshot(self, name):
        self.shot_count += 1
        path = system.screenshot(self.shots, "%02d-%s" % (self.shot_count, name))
        detail("screenshot: %s" % (path or "(none could be taken)"))

    def echo_host(self, line):
        # Host operations are what 3ds Max would do: show them as they happen.
        for prefix in ("CheckForSave", "GetCurFilePath", "FileSave", "LoadFromFile",
                       "ImportFromFile", "RedrawViews", "MessageBox", "Dialog"):
            if line.startswith(prefix):
                detail("3ds Max: " + line)

    def run(self):
        for folder in (self.shots, self.work, os.path.join(self.out, "web")):
            shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(self.work)
        caller = os.environ.get("PX_DEMO_CALLER_DISPLAY", "")
        if caller and caller == os.environ.get("DISPLAY"):
            say("Windows appear on your display %s." % caller)
        else:
            say("Windows appear on a virtual display (Xvfb %s); see the screenshots."
                % os.environ.get("DISPLAY"))

        step(0, "Setting the stage")
        rows = make_catalogue(os.path.join(self.out, "web"))
        # The stand-in's test authority is trusted in the demo's prefix while it runs.
        os.environ["PX_TRUST_AUTHORITY"] = self.program("tests/trust_authority.exe")
        self.web = system.WebSide(os.path.join(self.out, "web"), tls=True)
        detail("web side stand-in listening on 127.0.0.1:%d (https on %d, its test authority"
               " trusted in the Wine prefix), serving %d sample models"
               % (self.web.port, self.web.server.tls_ports["good"], len(rows)))
        self.install = system.StoreInstall(self.program("store/shell/PXStore.exe"),
                                           system.store_settings(self.web.port))
        detail("PXStore.exe installed in %s; plugcfg\\pxplugin.xml sends uploads and update"
               " checks to the web side" % system.INSTALL_FOLDER_WINDOWS)
        driver.register_control(self.program("standins/flash/flash_standin.dll"))
        detail("Flash control stand-in registered; this script plays the movie")
        self.movie_driver = driver.MovieDriver()
        self.dialogs = system.DialogWatch(
            self.program("standins/dlgwatch/dlgwatch.exe"), "ok",
            echo=lambda line: line != "dialog Vellamar | " and detail(
                "message box seen and answered OK: " + line[len("dialog "):]))
        self.host = system.MaxHost(self.movie_driver, self.program("standins/maxhost/maxhost.exe"),
                                   self.program("plugin/PXPluginMax.dlu"), echo=self.echo_host)
        title, items = self.host.menu()
        detail("3ds Max stand-in loaded PXPluginMax.dlu; its menu %s: %s"
               % (title, " | ".join(items)))

        self.search_marketplace()
        self.search_catalogue(rows, "lamp")
        self.download_into_scene(2, "chair.max", 160000, secure=True)
        self.download_into_scene(3, "desk-lamp.obj", 60000)
        self.save_scene()
        self.upload_folder()
        self.check_for_update()
        self.stop()
        print("", flush=True)
        say("Demo finished. Screenshots of the store window: %s (%d files)"
            % (os.path.relpath(self.shots), len(os.listdir(self.shots))
               if os.path.isdir(self.shots) else 0))

    def search_marketplace(self):
        step(1, 'In 3ds Max: Plenthra > "Search Marketplace..." (the store is not running)')
        checks_before = len(self.web.paths(system.SERVICE_PATH))
        result = self.host.action(system.ACTION_SEARCH_MARKETPLACE)
        detail("3ds Max: action %d -> %d" % (system.ACTION_SEARCH_MARKETPLACE, result))
        for words in system.wine_command_lines("PXStore.exe"):
            detail("the plug-in started: " + " ".join(words))
        control = self.movie_driver.accept(60)
        detail("the store loaded the movie " + control.wait_load_movie())
        self.movie = system.Movie(control)
        root, host_id = self.movie.init()
        self.cache_root = root
        detail("movie -> Init: the store answers RootCachePath=%s|HostID=%d|" % (root, host_id))
        push = self.movie.wait_push("DoShowStore")
        detail("store -> movie: %s (the store page is shown)" % system.push_name(push))
        checks = system.wait_until(
            lambda: self.web.paths(system.SERVICE_PATH)[checks_before:], 30,
            "the silent update check")
        detail("the store greeted 3ds Max; the plug-in sent build 1.0.72 and asked for a"
               " silent update check:")
        detail("  web side: GET " + checks[0])
        self.screenshot("store-started")

    def search_catalogue(self, rows, word):
        step(2, 'In the store: searching the marketplace for "%s"' % word)
        # A fresh copy every run: the store reuses files already in its cache.
        for name, _, _ in rows:
            cached = system.linux_path(self.cache_root + "\\" + name)
            if os.path.exists(cached):
                os.unlink(cached)
        cached = system.linux_path(self.cache_root + "\\catalogue.txt")
        if os.path.exists(cached):
            os.unlink(cached)
        target = os.path.join(self.work, "movie")
        os.makedirs(target, exist_ok=True)
        fields = "1*%s*%s*catalogue.txt" % (self.web.url("/files/catalogue.txt"),
                                            driver.windows_path(target))
        detail("movie -> StartDownloadFile %s" % fields)
        detail("store -> movie: %s" % self.movie.call("StartDownloadFile", fields))
        follow(self.movie, 1, "KiB")
        with open(os.path.join(target, "catalogue.txt")) as f:
            listed = [line.rstrip("\n").split("\t") for line in f if line.strip()]
        detail("the catalogue lists %d models:" % len(listed))
        for name, size, description in listed:
            detail("  %-14s %7s bytes  %s" % (name, size, description))
        found = [name for name, _, description in listed
                 if word in name or word in description]
        detail('models matching "%s": %s' % (word, ", ".join(found) or "none"))

    def download_into_scene(self, transfer_id, name, rate, secure=False):
        step(transfer_id + 1, "In the store: downloading %s%s and opening it in 3ds Max"
             % (name, " over https" if secure else ""))
        path = "/files/%s?rate=%d" % (name, rate)
        url = self.web.tls_url("good", path) if secure else self.web.url(path)
        fields = "%d*%s*%s*%d" % (transfer_id, url, name, system.PLUGIN_HOST_ID)
        detail("movie -> DownloadAndOpenFile %s" % fields)
        detail("store -> movie: %s" % self.movie.call("DownloadAndOpenFile", fields))
        follow(self.movie, transfer_id, "KiB")
        local = self.cache_root + "\\" + name
        if name.endswith(".max"):
            self.host.expect("LoadFromFile " + local, 30)
            detail("the store handed %s to 3ds Max, which loaded it as the scene" % local)
        else:
            self.host.expect("ImportFromFile " + local, 30)
            self.host.expect("RedrawViews", 30)
            detail("the store handed %s to 3ds Max, which imported it and redrew the"
                   " viewports" % local)
        self.screenshot("downloaded-" + name.replace(".", "-"))

    def save_scene(self):
        step(5, 'In 3ds Max: Plenthra > "Save to Plenthra..." with the scene my-room.max')
        scene = os.path.join(self.work, "my-room.max")
        with open(scene, "wb") as f:
            f.write(placeholder_scene("my-room", 150 * 1024))
        self.host.command("scene " + driver.windows_path(scene))
        result = self.host.action(system.ACTION_SAVE_TO_PLENTHRA)
        detail("3ds Max: action %d -> %d" % (system.ACTION_SAVE_TO_PLENTHRA, result))
        record = system.push_argument(self.movie.wait_push("DoSavetoPlenthra"))
        detail("store -> movie: DoSavetoPlenthra %s" % record)
        path = record.split("*")[0]
        self.upload(4, path, "the scene", scene)
        self.screenshot("scene-uploaded")

    def upload(self, transfer_id, path, what, local_file=None):
        before = len(self.web.uploads())
        fields = "%d*%s*demo-guid-%d*" % (transfer_id, path, transfer_id)
        detail("movie -> StartUploadFile %s (no URL: the store's upload URL)" % fields)
        detail("store -> movie: %s" % self.movie.call("StartUploadFile", fields))
        follow(self.movie, transfer_id, "bytes")
        upload = self.web.wait_uploads(before + 1)[before]
        part = system.file_part(upload)
        detail("web side received %s as %s: %d bytes, sha256 %s..."
               % (what, part["filename"], part["size"], part["sha256"][:16]))
        if local_file is not None:
            same = part["sha256"] == system.sha256_of(local_file)
            detail("byte for byte the same as the file in 3ds Max: %s" % ("yes" if same else "NO"))
            if not same:
                raise system.DriverError("the uploaded scene differs from the local file")
        return before + 1

    def upload_folder(self):
        step(6, "In the store: uploading the folder DemoProject")
        folder = os.path.join(self.work, "DemoProject")
        os.makedirs(os.path.join(folder, "textures"))
        files = {"scene.max": placeholder_scene("project", 90 * 1024),
                 "textures/wood.jpg": b"JPEG stand-in " * 2000,
                 "textures/metal.jpg": b"JPEG stand-in 2 " * 1500,
                 "readme.txt": b"Made in the Plenthra demo.\n"}
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        detail("the folder holds %d files; the movie marks it with %s so that it travels"
               " as one package" % (len(files), system.FOLDER_MARKER))
        number = self.upload(5, driver.windows_path(folder) + system.FOLDER_MARKER,
                             "the folder")
        _, data = self.web.stored_file_part(number)
        entries = system.package_entries(data)
        detail("the package is a zip archive with %d entries:" % len(entries))
        for name, content in sorted(entries.items()):
            detail("  %-30s %s" % (name, "folder" if content is None else
                                   "%d bytes" % len(content)))
        same = entries == system.folder_entries(folder)
        detail("entries and contents match the folder: %s" % ("yes" if same else "NO"))
        if not same:
            raise system.DriverError("the uploaded package does not match the folder")
        self.screenshot("folder-uploaded")

    def check_for_update(self):
        step(7, 'In 3ds Max: Plenthra > "Check for Update..."')
        checks_before = len(self.web.paths(system.SERVICE_PATH))
        result = self.host.action(system.ACTION_CHECK_FOR_UPDATE)
        detail("3ds Max: action %d -> %d" % (system.ACTION_CHECK_FOR_UPDATE, result))
        checks = system.wait_until(
            lambda: self.web.paths(system.SERVICE_PATH)[checks_before:], 30,
            "the interactive update check")
        detail("web side: GET " + checks[0])
        detail("the descriptor names no update link, so the store tells the user so")
        self.dialogs.expect(system.NO_UPDATE_DIALOG, 30)
        self.screenshot("update-checked")

    def stop(self):
        step(8, "3ds Max stops the plug-in")
        self.host.command("stop")
        stopped = time.monotonic()
        detail("3ds Max: stopped (the plug-in told the store that its host is gone)")
        system.wait_until(lambda: not system.wine_command_lines("PXStore.exe"), 30,
                          "the store ending")
        detail("the store found no host left and ended by itself after %.1f s"
               % (time.monotonic() - stopped))

    def close(self):
        for name in ("host", "dialogs", "movie_driver", "web"):
            part = getattr(self, name)
            if part is not None:
                try:
                    part.close()
                except Exception as error:  # the rest is still cleaned up
                    print("demo: cleanup of %s: %s" % (name, error), file=sys.stderr)
        if self.install is not None:
            self.install.remove()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the win64 build folder")
    parser.add_argument("--out", required=True, help="folder for the demo's files")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    demo = Demo(args.build, args.out)
    try:
        demo.run()
    except system.DriverError as error:
        print("\ndemo: FAILED: %s" % error, file=sys.stderr, flush=True)
        return 1
    finally:
        demo.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
