#!/usr/bin/env python3
"""The two deliverables together under Wine: maxhost.exe plays 3ds Max with the real
PXPluginMax.dlu, the plug-in starts the real PXStore.exe from C:\\Program Files\\Vellamar
Plenthra, the movie is played through the Flash control stand-in, and the web side
stand-in serves models, takes uploads and answers the update service.

One store run, started by "Search Marketplace...", serves the cases from the start to
the stop; a second run, started hidden by "Check for Update...", covers the interactive
check and a store kept alive by a second host. Paths of the programs come from CMake:
PX_STORE_EXE, PX_STORE_PROBE, PX_FLASH_STANDIN, PX_DLGWATCH, PX_MAXHOST, PX_PLUGIN,
PX_UPDATE_MARKER_EXE (the update program a required update fetches and starts),
PX_ARTEFACTS (screenshots)."""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import system_session as system  # noqa: E402
from system_session import driver  # noqa: E402
from store_fixture import Probe  # noqa: E402

SHOW_STORE = "DoShowStore"
SHOW_FILES = "DoShowFileSystems"
SAVE_FILE = "DoSavetoPlenthra"
RECORD = r"\*%d\*\d\d/\d\d/\d{4}\*\d\d/\d\d/\d{4}\|$"

shared = {}


def artefact(name):
    return system.screenshot(os.environ.get("PX_ARTEFACTS"), name)


def setUpModule():
    driver.register_control(os.environ["PX_FLASH_STANDIN"])
    shared["work"] = tempfile.mkdtemp(prefix="pxsystem-")
    shared["web"] = system.WebSide(os.path.join(shared["work"], "web"), tls=True)
    shared["web"].serve_descriptor(system.NO_UPDATE_DESCRIPTOR)
    shared["install"] = system.StoreInstall(os.environ["PX_STORE_EXE"],
                                            system.store_settings(shared["web"].port))
    shared["driver"] = driver.MovieDriver()
    shared["dialogs"] = system.DialogWatch(os.environ["PX_DLGWATCH"], "ok")
    shared["probe"] = Probe()
    shared["cached"] = []


def tearDownModule():
    for name in ("probe", "dialogs", "driver", "web"):
        if name in shared:
            try:
                shared[name].close()
            except Exception as error:  # the rest is still cleaned up
                print("cleanup of %s: %s" % (name, error), file=sys.stderr)
    if "install" in shared:
        shared["install"].remove()
    for path in shared.get("cached", []):
        if os.path.exists(path):
            os.unlink(path)
    shutil.rmtree(shared.get("work", ""), ignore_errors=True)


def start_max_host():
    return system.MaxHost(shared["driver"], os.environ["PX_MAXHOST"], os.environ["PX_PLUGIN"])


def store_command_lines():
    return system.wine_command_lines("PXStore.exe")


def dialogs_seen():
    """What dlgwatch.exe reported since it was last asked, less the store's main window
    (a dialog too, which the store keeps open whatever button is posted to it)."""
    return [line for line in shared["dialogs"].output.settle(0.5)
            if line != "dialog Vellamar | "]


def wait_store_gone(timeout=60.0):
    system.wait_until(lambda: not store_command_lines() and shared["probe"].window() is None,
                      timeout, "the store ending")


def end_store():
    """Closes a store that a failed case left running, so that the next run starts anew."""
    if store_command_lines():
        shared["probe"].command("close")
        wait_store_gone()


class StoreStartedFromTheMenuTest(unittest.TestCase):
    """One store run from "Search Marketplace..." to the plug-in's Stop; the cases run in
    the order of their names and share it."""

    @classmethod
    def setUpClass(cls):
        cls.checks_before = len(shared["web"].paths(system.SERVICE_PATH))
        cls.host = start_max_host()
        try:
            cls.menu = cls.host.menu()
            cls.search_result = cls.host.action(system.ACTION_SEARCH_MARKETPLACE)
            cls.command_lines = store_command_lines()
            cls.host_pids = system.windows_pids("maxhost.exe")
            control = shared["driver"].accept(60)
            cls.movie_path = control.wait_load_movie()
            cls.movie = system.Movie(control)
            # Nothing reaches the movie before it has called Init.
            cls.pushes_before_init = cls.movie.take_pushes(2.0)
            cls.cache_root, cls.init_host = cls.movie.init()
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.host.close()
        end_store()

    def download_and_open(self, transfer_id, name, payload, rate, secure=False):
        shared["web"].put_file(name, payload)
        local = self.cache_root + "\\" + name
        shared["cached"].append(system.linux_path(local))
        path = "/files/%s?rate=%d" % (name, rate)
        url = shared["web"].tls_url("good", path) if secure else shared["web"].url(path)
        reply = self.movie.call("DownloadAndOpenFile", "%d*%s*%s*%d" % (
            transfer_id, url, name, system.PLUGIN_HOST_ID))
        self.assertEqual(reply, "0")
        return local, self.movie.follow_transfer(transfer_id)

    def test_1_search_marketplace_starts_the_store_for_this_host(self):
        self.assertEqual(self.menu, ("Plenthra", system.MENU_ITEMS))
        self.assertEqual(self.search_result, 1)
        # Started by the plug-in from the installation folder with the host's identity.
        self.assertEqual(len(self.host_pids), 1, self.host_pids)
        self.assertEqual(len(self.command_lines), 1, self.command_lines)
        words = self.command_lines[0]
        self.assertTrue(words[0].lower().endswith("\\vellamar plenthra\\pxstore.exe"), words)
        self.assertEqual(words[1:], ["APPHOSTID", "14", "APPPID", str(self.host_pids[0])])
        self.assertEqual(self.movie_path, system.INSTALL_FOLDER_WINDOWS + "\\Aerin.swf")
        self.assertEqual(self.init_host, system.PLUGIN_HOST_ID)
        self.assertEqual(self.pushes_before_init, [])
        # Greeted, the plug-in sent its build and asked for a silent check.
        self.assertEqual(
            system.wait_until(
                lambda: shared["web"].paths(system.SERVICE_PATH)[self.checks_before:], 30,
                "the silent update check"),
            [system.service_query(14, system.PLUGIN_VERSION, 1)])
        self.assertEqual(self.movie.wait_push(SHOW_STORE), '<invoke name="DoShowStore" '
                         'returntype="xml"><arguments></arguments></invoke>')
        window = shared["probe"].wait_window(lambda w: w["visible"] == 1)
        self.assertEqual((window["x"], window["y"]), (0, 0))
        artefact("system-store-started")
        self.assertEqual(self.movie.take_pushes(1.0), [])

    def test_2_downloaded_models_go_into_the_scene(self):
        cases = [
            # extension, bytes, pace (bytes per second), what 3ds Max does with it
            (".max", bytes(range(256)) * 900, 90000, ["CheckForSave -> yes", "LoadFromFile"]),
            (".obj", b"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n" * 3000, 40000,
             ["ImportFromFile", "RedrawViews"]),
        ]
        for number, (extension, payload, rate, operations) in enumerate(cases, 21):
            with self.subTest(extension):
                name = "model-%s%s" % (uuid.uuid4().hex[:12], extension)
                local, records = self.download_and_open(number, name, payload, rate)
                kib = len(payload) // 1024
                done = [int(r.split(",")[1]) for r in records]
                # Progress in KiB, rising, ending complete and well.
                self.assertTrue(any(0 < d < kib for d in done), records)
                self.assertEqual(done, sorted(done))
                self.assertEqual(records[-1], "%d,%d,%d,0" % (number, kib, kib))
                with open(system.linux_path(local), "rb") as f:
                    self.assertEqual(f.read(), payload)
                for operation in operations:
                    line = self.host.expect(operation, 30)
                    if operation in ("LoadFromFile", "ImportFromFile"):
                        self.assertEqual(line, "%s %s" % (operation, local))
        artefact("system-store-downloads")

    def test_2b_a_model_over_https_goes_into_the_scene_and_bad_certificates_fail(self):
        payload = bytes(range(256)) * 700
        name = "model-%s.max" % uuid.uuid4().hex[:12]
        local, records = self.download_and_open(25, name, payload, 60000, secure=True)
        kib = len(payload) // 1024
        self.assertEqual(records[-1], "%d,%d,%d,0" % (25, kib, kib))
        with open(system.linux_path(local), "rb") as f:
            self.assertEqual(f.read(), payload)
        self.assertEqual(self.host.expect("LoadFromFile", 30), "LoadFromFile %s" % local)
        # A refused certificate: the record ends with 1008 and nothing reaches the scene.
        name = "model-%s.max" % uuid.uuid4().hex[:12]
        shared["web"].put_file(name, payload)
        url = shared["web"].tls_url("revoked", "/files/" + name)
        reply = self.movie.call("DownloadAndOpenFile", "26*%s*%s*%d" % (
            url, name, system.PLUGIN_HOST_ID))
        self.assertEqual(reply, "0")
        self.assertEqual(self.movie.follow_transfer(26)[-1].split(",")[3], "1008")
        self.assertFalse(os.path.exists(system.linux_path(self.cache_root + "\\" + name)))
        # The store's log names the reason.
        with open(system.linux_path(self.cache_root + "\\log.txt"), "rb") as f:
            log = f.read().decode("latin-1")
        self.assertIn("TLS: certificate of 127.0.0.1 rejected: CRYPT_E_REVOKED", log)

    def test_3_save_to_plenthra_offers_the_scene_and_uploads_it(self):
        scene = os.path.join(shared["work"], "room scene.max")
        with open(scene, "wb") as f:
            f.write(os.urandom(70000))
        scene_windows = driver.windows_path(scene)
        self.host.command("scene " + scene_windows)
        mark = self.host.output.mark()
        self.assertEqual(self.host.action(system.ACTION_SAVE_TO_PLENTHRA), 1)
        self.assertEqual(self.host.output.since(mark)[:2], [
            "CheckForSave -> yes", "GetCurFilePath -> " + scene_windows])
        record = system.push_argument(self.movie.wait_push(SAVE_FILE))
        self.assertRegex(record, "^" + re.escape(scene_windows) + RECORD % 70000)

        # The movie uploads the offered file to the upload URL of the settings file.
        before = len(shared["web"].uploads())
        reply = self.movie.call("StartUploadFile", "31*%s*%s*" % (
            record.split("*")[0], "guid-31"))
        self.assertEqual(reply, "0")
        records = self.movie.follow_transfer(31)
        last = records[-1].split(",")
        self.assertEqual((last[0], last[3]), ("31", "0"))
        self.assertEqual(last[1], last[2])
        upload = shared["web"].wait_uploads(before + 1)[before]
        part = system.file_part(upload)
        self.assertEqual((part["size"], part["sha256"]), (70000, system.sha256_of(scene)))
        self.assertTrue(part["filename"].endswith("room scene.max"), part)

    def test_3b_uploads_go_to_an_https_upload_url_from_store_config(self):
        path = os.path.join(shared["work"], "secure upload.bin")
        with open(path, "wb") as f:
            f.write(os.urandom(90000))
        secure = shared["web"].tls_url("good", system.UPLOAD_PATH)
        self.assertEqual(self.movie.call("StoreConfig", "UploadUrl=%s|" % secure), "0")
        try:
            before = len(shared["web"].uploads())
            reply = self.movie.call("StartUploadFile", "32*%s*guid-32*" % driver.windows_path(path))
            self.assertEqual(reply, "0")
            self.assertEqual(self.movie.follow_transfer(32)[-1].split(",")[3], "0")
            upload = shared["web"].wait_uploads(before + 1)[before]
            part = system.file_part(upload)
            self.assertEqual((part["size"], part["sha256"]), (90000, system.sha256_of(path)))
            head, data = shared["web"].stored_file_part(before + 1)
            self.assertEqual(hashlib.sha256(data).hexdigest(), system.sha256_of(path))
        finally:
            plain = shared["web"].url(system.UPLOAD_PATH)
            self.assertEqual(self.movie.call("StoreConfig", "UploadUrl=%s|" % plain), "0")

    def test_4_a_folder_upload_arrives_as_a_package_of_the_folder(self):
        folder = os.path.join(shared["work"], "Car")
        os.makedirs(os.path.join(folder, "maps"))
        os.makedirs(os.path.join(folder, ".cache"))
        for name, data in (("body.max", os.urandom(50000)), ("maps/wheel.jpg", b"jpg" * 999),
                           ("maps/notes.txt", b""), (".hidden", b"skip"),
                           (".cache/x.bin", b"skip")):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        before = len(shared["web"].uploads())
        path = driver.windows_path(folder) + system.FOLDER_MARKER
        self.assertEqual(self.movie.call("StartUploadFile", "41*%s*guid-41*" % path), "0")
        self.assertEqual(self.movie.follow_transfer(41)[-1].split(",")[3], "0")
        upload = shared["web"].wait_uploads(before + 1)[before]
        part = system.file_part(upload)
        self.assertTrue(part["filename"].endswith("Car" + system.FOLDER_MARKER), part)
        head, data = shared["web"].stored_file_part(before + 1)
        self.assertEqual(hashlib.sha256(data).hexdigest(), part["sha256"])
        self.assertEqual(system.package_entries(data), system.folder_entries(folder))
        # The package was staged below the user cache folder and removed after sending.
        staged = system.linux_path(self.cache_root + "\\UploadTemp")
        self.assertFalse(os.path.exists(os.path.join(staged, "Car" + system.FOLDER_MARKER)))
        self.assertFalse(os.path.exists(os.path.join(staged, "Car")))

    def test_5_open_my_files_shows_the_file_area(self):
        self.assertEqual(self.host.action(system.ACTION_OPEN_MY_FILES), 1)
        self.assertEqual(system.push_name(self.movie.wait_push(SHOW_FILES)), SHOW_FILES)
        self.assertEqual(len(store_command_lines()), 1)  # the running store, no new start
        artefact("system-store-my-files")

    def test_6_a_drive_path_start_hands_the_file_to_the_running_store(self):
        model = os.path.join(shared["work"], "forwarded.max")
        with open(model, "wb") as f:
            f.write(b"f" * 4321)
        second = subprocess.run(
            [driver.wine_loader(), shared["install"].exe, driver.windows_path(model)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            timeout=120)
        self.assertEqual(second.returncode, 0)
        record = system.push_argument(self.movie.wait_push(SAVE_FILE))
        self.assertRegex(record, "^" + re.escape(driver.windows_path(model)) + RECORD % 4321)
        self.assertEqual(len(store_command_lines()), 1)

    def test_7_check_for_update_fetches_and_starts_a_required_update(self):
        web = shared["web"]
        shutil.copy(os.environ["PX_UPDATE_MARKER_EXE"], os.path.join(web.root, "marker.exe"))
        temp = self.cache_root + "\\Updates\\temp\\update.exe"
        saved = system.linux_path(temp)
        for path in (saved, saved + ".ran"):
            if os.path.exists(path):
                os.unlink(path)
            shared["cached"].append(path)
        web.serve_descriptor(
            '<?xml version="1.0"?>\r\n<PXUpdate>\r\n<AerinPluginUpdateLink required="yes">%s'
            '</AerinPluginUpdateLink>\r\n</PXUpdate>\r\n' % web.url("/files/marker.exe"))
        try:
            checks_before = len(web.paths(system.SERVICE_PATH))
            self.assertEqual(self.host.action(system.ACTION_CHECK_FOR_UPDATE), 1)
            system.wait_until(lambda: os.path.exists(saved + ".ran"), 60,
                              "the update program's marker")
        finally:
            web.serve_descriptor(system.NO_UPDATE_DESCRIPTOR)
        # The second check of this store run, with the build the plug-in sent first.
        self.assertEqual(web.paths(system.SERVICE_PATH)[checks_before:],
                         [system.service_query(14, system.PLUGIN_VERSION, 2)])
        self.assertEqual(web.paths("/files/marker.exe"), ["/files/marker.exe"])
        with open(saved, "rb") as got, open(os.environ["PX_UPDATE_MARKER_EXE"], "rb") as sent:
            self.assertEqual(got.read(), sent.read())
        with open(saved + ".ran") as f:
            self.assertEqual(f.read(), "program=%s\ncwd=%s\n" % (temp, self.cache_root))
        # Only the download's progress window was on screen, and the store still runs.
        for line in dialogs_seen():
            self.assertTrue(line.startswith("dialog Downloading Required Update | "), line)
        self.assertEqual(len(store_command_lines()), 1)

    def test_8_the_store_ends_when_the_plugin_stops(self):
        stopped_at = time.monotonic()
        self.host.command("stop")
        # The store waits two seconds for other hosts before it ends.
        time.sleep(max(0.0, 1.0 - (time.monotonic() - stopped_at)))
        self.assertEqual(len(store_command_lines()), 1)
        wait_store_gone(30)
        # Nothing in this run asked the user anything.
        self.assertEqual(dialogs_seen(), [])


class HiddenStartAndSecondHostTest(unittest.TestCase):
    def test_check_for_update_starts_the_store_hidden_and_a_second_host_keeps_it(self):
        web = shared["web"]
        checks_before = len(web.paths(system.SERVICE_PATH))
        self.assertEqual(store_command_lines(), [])
        host = start_max_host()
        try:
            self.assertEqual(host.action(system.ACTION_CHECK_FOR_UPDATE), 1)
            pids = system.windows_pids("maxhost.exe")
            lines = store_command_lines()
            self.assertEqual(len(lines), 1, lines)
            self.assertEqual(lines[0][1:], ["HideWindowsAPPHOSTID", "14", "APPPID",
                                            str(pids[0])])
            shared["driver"].accept(60).wait_load_movie()
            # The check is interactive: the user hears that nothing is new.
            shared["dialogs"].expect(system.NO_UPDATE_DIALOG, 30)
            self.assertEqual(web.paths(system.SERVICE_PATH)[checks_before:],
                             [system.service_query(14, system.PLUGIN_VERSION, 1)])
            self.assertEqual(shared["probe"].window()["visible"], 0)

            # Another host's window keeps the store alive when this plug-in stops.
            shared["probe"].command("host 3")
            host.command("stop")
            time.sleep(4.0)
            self.assertEqual(len(store_command_lines()), 1)
            shared["probe"].command("unhost 3")
            wait_store_gone(30)
            self.assertEqual(dialogs_seen(), [])
        finally:
            host.close()
            shared["probe"].command("unhost 3")
            end_store()


if __name__ == "__main__":
    unittest.main(verbosity=2)
