#!/usr/bin/env python3
"""The real PXStore.exe under Wine: start-up forms, settings, Init and StoreConfig,
deferred pushes, hidden start, second start, the host going away, keys and the close
box, a download the movie starts, the camera shelf, and the explanation the windows show
without the control or without their movies (with the update check through the host link
still working). The movie is played through the Flash control stand-in, host plug-ins
through store_probe.exe."""

import os
import glob
import json
import re
import socket
import subprocess
import shutil
import threading
import time
import unittest
import urllib.parse
import urllib.request
import uuid

import store_fixture
from store_fixture import StoreSession, invoke, linux_path, reply_value, screenshot
import store_update_test as update_fixture
import driver

WM_PX_SHOW_STORE = 0x413
WM_PX_SHOW_CAMERA_SHELF = 0x419
VK_ESCAPE = 0x1B
VK_TAB, VK_RETURN, VK_BACK = 0x09, 0x0D, 0x08
VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN = 0x25, 0x26, 0x27, 0x28
# What a framework container sets on the control before its first movie.
CONTROL_PROPERTIES = {"event": "properties", "WMode": "Window", "Quality2": "High",
                      "Scale": "ShowAll"}
NOT_INSTALLED = ("The Shockwave Flash ActiveX control (class %s) is not installed on this "
                 "computer" % driver.CONTROL_CLSID)
SHOW_STORE_PUSH = '<invoke name="DoShowStore" returntype="xml"><arguments></arguments></invoke>'


def settings(**values):
    body = "".join("<%s>%s</%s>" % (k, v, k) for k, v in values.items())
    return "<?xml version=\"1.0\"?><plugcfg>%s</plugcfg>" % body


def read_log(cache_root):
    with open(os.path.join(linux_path(cache_root), "log.txt"), "rb") as f:
        return f.read().decode("latin-1")


class StartAndSettingsTest(unittest.TestCase):
    def test_window_size_follows_the_settings_file(self):
        cases = [
            ("no settings file", None, (1024, 768)),
            ("width and height", settings(width="800", height="600"), (800, 600)),
            ("empty width", settings(width="", height="700"), (1024, 700)),
        ]
        for label, xml, (width, height) in cases:
            with self.subTest(label), StoreSession(settings_xml=xml) as session:
                session.start()
                window = session.probe.wait_window(lambda w: w["visible"] == 1)
                self.assertEqual((window["x"], window["y"], window["w"], window["h"]),
                                 (0, 0, width, height))
                self.assertEqual((window["cx"], window["cy"], window["cw"], window["ch"]),
                                 (2, 0, width - 10, height - 28))
                if xml is None:
                    # Control and movie are there: the movie plays, nothing explains.
                    self.assertIsNone(session.probe.notice("Vellamar"))
                    screenshot("store-main-window")

    def test_init_reports_cache_root_and_host(self):
        for label, host in (("without a host", 0), ("with host 14", 14)):
            with self.subTest(label), StoreSession() as session:
                args = []
                if host:
                    session.probe.command("host %d" % host)
                    args = ["APPHOSTID", str(host), "APPPID", str(session.probe.pid)]
                session.start(args)
                root, text = session.init()
                self.assertTrue(root.endswith("\\Vellamar Plenthra"), root)
                self.assertTrue(text.endswith("|HostID=%d|" % host), text)
                self.assertTrue(os.path.isdir(linux_path(root)))
                self.assertIn("LOG BEGIN", read_log(root))
                # What the control was told before its movie, and by its site.
                report = session.movie.host_report()
                self.assertEqual(report["properties"], CONTROL_PROPERTIES)
                ambient = report["ambient"]
                self.assertEqual((ambient["userMode"], ambient["uiDead"]), (True, False))
                self.assertEqual((ambient["showHatching"], ambient["showGrabHandles"],
                                  ambient["messageReflect"]), (False, False, False))
                self.assertEqual(ambient["displayName"], "PXStore")
                self.assertEqual((ambient["serviceProvider"], ambient["bindHost"],
                                  ambient["securityManager"]),
                                 (True, "E_NOINTERFACE", "E_NOINTERFACE"))
                # Dragging the minimised window shows the store's own icon.
                self.assertEqual(report["window"]["dragIcon"], "own")

    def test_store_config_applies_the_user_folder(self):
        with StoreSession() as session:
            session.start()
            root, _ = session.init()
            replies = session.movie.call(invoke(
                "StoreConfig", "UploadUrl=X|User=bob|MaxDownloadCount=3|MaxUploadCount=2|"))
            self.assertEqual(reply_value(replies, "StoreConfig"), "0")
            self.assertTrue(os.path.isdir(os.path.join(linux_path(root), "bob")))
            replies = session.movie.call(invoke("StoreConfig", "user=\\\\carol|"))
            self.assertEqual(reply_value(replies, "StoreConfig"), "0")
            self.assertTrue(os.path.isdir(os.path.join(linux_path(root), "carol")))


class PushesTest(unittest.TestCase):
    def test_show_store_before_init_arrives_after_init(self):
        with StoreSession() as session:
            session.probe.command("host 14")
            session.start(["APPHOSTID", "14", "APPPID", str(session.probe.pid)])
            session.probe.post_to_store(WM_PX_SHOW_STORE)
            self.assertEqual(session.movie.pushes(wait=2.5), [])
            session.init()
            started = time.monotonic()
            pushes = []
            while SHOW_STORE_PUSH not in pushes and time.monotonic() - started < 10:
                pushes += session.movie.pushes(wait=0.5)
            self.assertIn(SHOW_STORE_PUSH, pushes)

    def test_hidden_start_stays_hidden_until_the_host_shows_the_store(self):
        with StoreSession() as session:
            session.probe.command("host 14")
            session.start(["HideWindowsAPPHOSTID", "14", "APPPID", str(session.probe.pid)])
            time.sleep(2)
            self.assertEqual(session.probe.window()["visible"], 0)
            session.probe.post_to_store(WM_PX_SHOW_STORE)
            session.probe.wait_window(lambda w: w["visible"] == 1)

    def test_second_start_with_a_path_hands_the_file_to_the_first(self):
        with StoreSession() as session:
            model = os.path.join(session.root, "chair.max")
            with open(model, "wb") as f:
                f.write(b"m" * 1234)
            session.start()
            cache_root, _ = session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            # Any program on the desktop can post the main window's text messages with
            # numbers of its own: they are ignored, and the store's own still arrive.
            log_before = len(read_log(cache_root))  # the log is shared with earlier stores
            for message in range(0x465, 0x469):
                for made_up in ("0x1", "0x1000", "0x7ffe0000", "0xdeadbeef0"):
                    self.assertTrue(session.probe.command(
                        "post-main %d %s" % (message, made_up), "post-main").endswith(" ok"))
            self.assertEqual(session.init()[0], cache_root)
            self.assertIsNone(session.store.poll())
            self.assertEqual(session.start_again([driver.windows_path(model)]), 0)
            pushes = []
            deadline = time.monotonic() + 15
            while not pushes and time.monotonic() < deadline:
                pushes = [p for p in session.movie.pushes(wait=0.5) if "DoSavetoPlenthra" in p]
            self.assertEqual(len(pushes), 1, pushes)
            record = re.search(r"<string>(.*)</string>", pushes[0]).group(1)
            self.assertRegex(record, r"^Z:\\.*\\chair\.max\*1234\*\d\d/\d\d/\d{4}\*\d\d/\d\d/\d{4}\|$")
            self.assertIsNone(session.store.poll())
            ignored = [line for line in read_log(cache_root)[log_before:].splitlines()
                       if "unknown text" in line]
            self.assertEqual(len(ignored), 16, ignored)


class AboutBoxTest(unittest.TestCase):
    def test_the_system_menu_opens_the_about_box_with_the_build(self):
        with StoreSession() as session:
            session.start()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            session.probe.command("syscommand 16")
            deadline = time.monotonic() + 30
            line = "dialog-item none"
            while line == "dialog-item none" and time.monotonic() < deadline:
                time.sleep(0.3)
                line = session.probe.command("dialog-item 1002 About Vellamar Plenthra")
            self.assertEqual(line, "dialog-item Build: 1.0.25")
            self.assertEqual(session.probe.command("end-dialog About Vellamar Plenthra"),
                             "end-dialog ok")


class EndingTest(unittest.TestCase):
    def test_keys_reach_the_movie_escape_does_not_close_and_the_close_box_ends(self):
        with StoreSession() as session:
            session.start()
            root, _ = session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            # The control takes the focus as on a click; typed text reaches its window.
            self.assertEqual(session.probe.command("click"), "click ok")
            for key in (ord("A"), ord("B")):
                session.probe.command("key %d" % key)
            chars = session.movie.noted_events("char", wait=30, count=2)
            self.assertEqual([c["field"] for c in chars], ["a", "ab"])
            # Keys a text field takes for itself reach it through the control's
            # TranslateAccelerator, ahead of the dialog manager.
            field_keys = (VK_TAB, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_BACK, VK_RETURN)
            for key in field_keys:
                session.probe.command("key %d" % key)
            keys = session.movie.noted_events("key", wait=30, count=2 + len(field_keys))
            self.assertEqual([(k["vk"], k["via"]) for k in keys],
                             [(ord("A"), "window"), (ord("B"), "window")] +
                             [(key, "accelerator") for key in field_keys])
            self.assertEqual(keys[-2]["field"], "a")  # after Backspace
            session.probe.command("key %d" % VK_ESCAPE)
            time.sleep(1.5)
            self.assertIsNone(session.store.poll())
            self.assertEqual(session.movie.noted_events("key", wait=1.0), [])
            self.assertEqual(session.probe.command("close"), "close ok")
            self.assertEqual(session.wait_exit(60), 0)
            self.assertIn("LOG END", read_log(root))

    def test_closing_during_a_hand_off_to_a_busy_host_ends_soon(self):
        with StoreSession() as session:
            session.probe.command("host 14")
            session.start(["APPHOSTID", "14", "APPPID", str(session.probe.pid)])
            root, _ = session.init()
            model = os.path.join(session.root, "chair.max")
            with open(model, "wb") as f:
                f.write(b"m")
            # 3ds Max busy for 30 s: the hand-off waits in vain, the close must not.
            session.probe.command("hold 30000")
            replies = session.movie.call(invoke("OpenFile", driver.windows_path(model) + "*14"))
            self.assertEqual(reply_value(replies, "OpenFile"), "0")
            time.sleep(1)
            closer = store_fixture.Probe()
            try:
                started = time.monotonic()
                self.assertEqual(closer.command("close"), "close ok")
                self.assertEqual(session.wait_exit(60), 0)
                self.assertLess(time.monotonic() - started, 20, "far below the host's 30 s")
            finally:
                closer.close()
                session.probe.process.kill()  # still held: no quit would be read
            self.assertIn("LOG END", read_log(root))

    def test_the_store_quits_when_its_host_goes_away(self):
        with StoreSession() as session:
            session.probe.command("host 14")
            session.start(["APPHOSTID", "14", "APPPID", str(session.probe.pid)])
            root, _ = session.init()
            session.probe.command("unhost 14")
            self.assertEqual(session.wait_exit(60), 0)
            self.assertIn("LOG END", read_log(root))


class TransferTest(unittest.TestCase):
    def test_a_download_started_by_the_movie_shows_in_status_polls(self):
        with StoreSession() as session:
            files = os.path.join(session.root, "web")
            os.makedirs(os.path.join(files, "files"))
            payload = bytes(range(256)) * 1600
            # A name of its own: a file already in the user cache folder is copied, not fetched.
            name = "model-%s.max" % uuid.uuid4().hex
            with open(os.path.join(files, "files", name), "wb") as f:
                f.write(payload)
            with driver.WebSide(os.path.join(files, "files")) as web:
                session.start()
                root, _ = session.init()
                target = os.path.join(session.root, "got")
                os.makedirs(target)
                url = web.url("/files/%s?rate=100000" % name)
                replies = session.movie.call(invoke(
                    "StartDownloadFile", "7*%s*%s*%s" % (url, driver.windows_path(target), name)))
                self.assertEqual(reply_value(replies, "StartDownloadFile"), "-1")
                # Records are "id,KB done,KB total,state;".
                done = '"7,%d,%d,0;"' % (len(payload) // 1024, len(payload) // 1024)
                seen = []
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    status = reply_value(session.movie.call(invoke("GetTransStatus")),
                                         "GetTransStatus")
                    seen.append(status)
                    if status == done:
                        break
                    time.sleep(0.3)
                # Some records part-way, rising, then the complete one.
                amounts = [int(s.split(",")[1]) for s in seen if s and s.startswith('"7,')]
                self.assertTrue(any(0 < a < len(payload) // 1024 for a in amounts), seen)
                self.assertEqual(amounts, sorted(amounts))
                self.assertEqual(seen[-1], done)
                with open(os.path.join(target, name), "rb") as f:
                    self.assertEqual(f.read(), payload)


# Closing waits 5 s for stopped transfers, then at most 2 s for their threads
# (TransferManager::kWorkerJoinGraceMs); whatever still runs is left to the process's end.
# The margin is for a loaded machine; a close that waits for the workers takes minutes.
CLOSE_BOUND_SECONDS = 5 + 2 + 13


def silent_server():
    """A socket that takes connections into its backlog and never reads or answers."""
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    return server


def big_tree(folder, files=2500, size=64 * 1024):
    """A folder that takes tens of seconds to copy and pack under Wine."""
    for index in range(files):
        sub = os.path.join(folder, "part%02d" % (index % 25))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "piece%04d.bin" % index), "wb") as f:
            f.write(os.urandom(size))


def web_log(web):
    with urllib.request.urlopen(web.url("/_log"), timeout=60) as reply:
        return [json.loads(line) for line in reply.read().decode("latin-1").splitlines() if line]


class TransferFaultTest(unittest.TestCase):
    def test_stops_hold_before_any_client_and_closing_is_bounded(self):
        with StoreSession() as session, silent_server() as stalled:
            files = os.path.join(session.root, "web")
            os.makedirs(os.path.join(files, "files"))
            for name in ("first.bin", "second.bin"):
                with open(os.path.join(files, "files", name), "wb") as f:
                    f.write(b"d" * 4096)
            tree = os.path.join(session.root, "Big Model")
            big_tree(tree)
            stalled_file = os.path.join(session.root, "stalled.bin")
            with open(stalled_file, "wb") as f:
                f.write(b"s" * (48 << 20))
            with driver.WebSide(os.path.join(files, "files")) as web:
                session.start()
                root, _ = session.init()
                upload_url = web.url("/Upload/uploadtest.asp")
                folder = driver.windows_path(tree) + ".PLENTHRA_UNZIP"

                def call(name, argument):
                    return reply_value(session.movie.call(invoke(name, argument)), name)

                def status_of(record_id):
                    status = reply_value(session.movie.call(invoke("GetTransStatus")),
                                         "GetTransStatus")
                    for record in (status or "").strip('"').split(";"):
                        if record.startswith("%d," % record_id):
                            return record
                    return None

                self.assertEqual(call("StoreConfig", "MaxUploadCount=2|"), "0")
                # A stop while the folder is packed: no package is posted, the upload ends
                # with the stop code 2000 and lingers.
                self.assertEqual(call("StartUploadFile", "3*%s*g*%s" % (folder, upload_url)), "0")
                time.sleep(1.5)
                self.assertEqual(call("StopTransFile", "3"), "0")
                seen = set()
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    record = status_of(3)
                    if record is None:
                        break
                    seen.add(record)
                    time.sleep(0.2)
                self.assertIsNone(status_of(3))
                self.assertIn("3,0,1024,2000", seen)
                # A stop while the download waits at the start gate behind another start.
                target = driver.windows_path(os.path.join(session.root, "got"))
                self.assertEqual(call("StartDownloadFile", "4*%s*%s*first.bin" % (
                    web.url("/files/first.bin"), target)), "-1")
                self.assertEqual(call("StartDownloadFile", "5*%s*%s*second.bin" % (
                    web.url("/files/second.bin"), target)), "-1")
                self.assertEqual(call("StopTransFile", "5"), "0")
                deadline = time.monotonic() + 30
                while status_of(4) is not None or status_of(5) is not None:
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.2)
                paths = [entry["path"] for entry in web_log(web)]
                self.assertIn("/files/first.bin", paths)
                self.assertNotIn("/files/second.bin", paths)
                self.assertFalse(any(p.lower().startswith("/upload") for p in paths), paths)
                self.assertFalse(os.path.exists(os.path.join(
                    linux_path(root), "UploadTemp", "Big Model.PLENTHRA_UNZIP")))

                # Closing during a packing and a post to a server that never reads.
                self.assertEqual(call("StartUploadFile", "6*%s*g*%s" % (folder, upload_url)), "0")
                self.assertEqual(call("StartUploadFile", "7*%s*g*http://127.0.0.1:%d/Upload/x.asp"
                                      % (driver.windows_path(stalled_file),
                                         stalled.getsockname()[1])), "0")
                stalled.settimeout(30)
                connection, _ = stalled.accept()
                with connection:
                    time.sleep(1)
                    started = time.monotonic()
                    self.assertEqual(session.probe.command("close"), "close ok")
                    try:
                        session.wait_exit(CLOSE_BOUND_SECONDS)
                    except subprocess.TimeoutExpired:
                        self.fail("the store was still running %d s after the close"
                                  % CLOSE_BOUND_SECONDS)
                    self.assertLess(time.monotonic() - started, CLOSE_BOUND_SECONDS)
                last_line = read_log(root).rstrip().splitlines()[-1]
                self.assertIn("LOG END", last_line)
                self.assertFalse(any(p.lower().startswith("/upload")
                                     for p in (e["path"] for e in web_log(web))))


def xml_escaped(text):
    """A string argument as a movie's bridge sends it: the five XML characters escaped."""
    for plain, entity in (("&", "&amp;"), ("<", "&lt;"), (">", "&gt;"), ('"', "&quot;"),
                          ("'", "&apos;")):
        text = text.replace(plain, entity)
    return text


def wait_for(condition, timeout=60.0, what="condition"):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise driver.DriverError("%s not reached within %.0f s" % (what, timeout))
        time.sleep(0.3)


class ArgumentTextTest(unittest.TestCase):
    """Paths and URLs as the movie escapes them: "&" more than once, "'", a literal "&amp;"
    in a file name, and a network path, for file commands and both transfer directions."""

    def test_escaped_arguments_reach_files_transfers_and_network_paths(self):
        with StoreSession() as session:
            folder = os.path.join(session.root, "R&D's & more")
            os.makedirs(folder)
            names = {"twice": "a&b&c.max", "literal": "x&amp;y.max", "quote": "Bob's chair.max"}
            for index, name in enumerate(names.values()):
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(b"m" * (100 + index))
            windows_folder = driver.windows_path(folder)
            files = os.path.join(session.root, "web", "files")
            os.makedirs(files)
            remote = "model-%s&x.max" % uuid.uuid4().hex
            payload = bytes(range(256)) * 64
            with open(os.path.join(files, remote), "wb") as f:
                f.write(payload)
            with driver.WebSide(files) as web:
                session.start()
                session.init()

                def call(name, *fields):
                    text = "*".join(xml_escaped(f) for f in fields)
                    return reply_value(session.movie.call(invoke(name, text)), name)

                for label, name in names.items():
                    with self.subTest("FileExistEx " + label):
                        self.assertEqual(call("FileExistEx", windows_folder + "\\" + name), "1")
                self.assertEqual(call("GetFileSizeEx", windows_folder + "\\" + names["literal"]),
                                 "101")
                self.assertEqual(call("CopyFileEx", windows_folder + "\\" + names["twice"],
                                      windows_folder + "\\copy &amp; of Bob's.max"), "0")
                self.assertTrue(os.path.isfile(os.path.join(folder, "copy &amp; of Bob's.max")))

                # A network path: Wine maps \\SERVER\SHARE to dosdevices/unc/SERVER/SHARE.
                server = "pxstore-" + uuid.uuid4().hex[:8]
                unc_root = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "unc", server)
                os.makedirs(unc_root)
                os.symlink(session.root, os.path.join(unc_root, "share"))
                try:
                    share = "\\\\%s\\share\\R&D's & more\\" % server
                    self.assertEqual(call("FileExistEx", share + names["quote"]), "1")
                    self.assertEqual(call("CopyFileEx", share + names["quote"],
                                          share + "from the share.max"), "0")
                    self.assertTrue(os.path.isfile(os.path.join(folder, "from the share.max")))
                finally:
                    shutil.rmtree(unc_root, ignore_errors=True)

                # A download whose URL and destination hold "&" and "'".
                got = os.path.join(session.root, "got R&D's")
                os.makedirs(got)
                url = web.url("/files/%s?a=1&b=2" % urllib.parse.quote(remote))
                self.assertEqual(call("StartDownloadFile", "7", url, driver.windows_path(got),
                                      remote), "-1")
                target = os.path.join(got, remote)
                wait_for(lambda: os.path.isfile(target) and os.path.getsize(target) == len(payload),
                         what="the download")
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), payload)
                self.assertIn("/files/%s?a=1&b=2" % urllib.parse.quote(remote),
                              [entry["path"] for entry in web_log(web)])

                # An upload of a file whose name holds "'" to a URL with two "&".
                upload_url = web.url("/Upload/uploadtest.asp?a=1&b=2&c=3")
                self.assertEqual(call("StartUploadFile", "8", windows_folder + "\\" + names["quote"],
                                      "guid&8", upload_url), "0")

                def uploads():
                    return [e for e in web_log(web) if e["method"] == "POST"]

                wait_for(lambda: uploads(), what="the upload")
                upload = uploads()[0]
                self.assertEqual(upload["path"], "/Upload/uploadtest.asp?a=1&b=2&c=3")
                parts = [p for p in upload["parts"] if p.get("filename")]
                self.assertEqual(len(parts), 1, upload)
                self.assertTrue(parts[0]["filename"].endswith("Bob's chair.max"), parts)
                self.assertEqual(parts[0]["size"], 102)


def last_log_run():
    """The lines the last store run wrote to the log in the prefix's profile, and the log's
    path as the store sees it."""
    logs = glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", "*",
                                  "Vellamar Plenthra", "log.txt"))
    assert len(logs) == 1, logs
    user = os.path.basename(os.path.dirname(os.path.dirname(logs[0])))
    with open(logs[0], "rb") as f:
        last_run = f.read().decode("latin-1").rsplit("LOG BEGIN", 1)[1]
    return last_run, "C:\\users\\%s\\Vellamar Plenthra\\log.txt" % user


class MissingMovieTest(unittest.TestCase):
    """Without the control or the movie files each window explains in its client area what
    is missing, what still works and where the log is; the host link keeps working."""

    def assert_explains(self, notice, missing, still_works, log_path):
        in_dialog_font, text = notice
        self.assertTrue(in_dialog_font, text)
        for part in (missing + ".\r\nThis window therefore cannot show its movie.\r\n\r\n",
                     still_works, "is otherwise running",
                     "The store's activity log, with the details, is " + log_path):
            self.assertIn(part, text)

    def test_without_the_control_the_windows_explain_and_updates_still_arrive(self):
        site = update_fixture.UpdateSite()
        try:
            with StoreSession(settings_xml=site.settings()) as session:
                # The session registers the stand-in; take it away again for this run.
                clsid_key = "HKCR\\CLSID\\" + driver.CONTROL_CLSID
                subprocess.run([driver.wine_loader(), "reg", "delete", clsid_key, "/f"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                               check=True)
                site.serve(update_fixture.link_descriptor(
                    site.file_url("update_marker.exe"), True))
                session.probe.command("host 14")
                # Started hidden: only the host link can bring the window forward.
                session.start(["HideWindowsAPPHOSTID", "14", "APPPID", str(session.probe.pid)],
                              wait_movie=False)
                session.probe.post_to_store(WM_PX_SHOW_STORE)
                window = session.probe.wait_window(lambda w: w["visible"] == 1)
                self.assertEqual((window["w"], window["h"]), (1024, 768))
                self.assertEqual(window["cw"], 0, "no control window expected")
                _, log_path = last_log_run()
                notice = session.probe.wait_notice("Vellamar")
                self.assert_explains(notice, NOT_INSTALLED, '"Check for Update..." still '
                                     "checks for updates and downloads them", log_path)
                screenshot("store-without-control")

                # "Check for Update..." through the host link: the required update is fetched
                # and started. The watch answers the update's questions; it would press OK
                # on any dialog, the camera shelf's included, so it ends with this step.
                watch = update_fixture.DialogWatch("ok")
                try:
                    update_fixture.post_check(session, False)
                    marker = site.updates_temp("update.exe") + ".ran"
                    update_fixture.wait_until(lambda: os.path.exists(marker), 60,
                                              "the update program starting")
                finally:
                    watch.close()
                self.assertEqual(len(site.paths(update_fixture.SERVICE_PATH)), 1)
                self.assertEqual(site.paths("/files/"), ["/files/update_marker.exe"])

                session.probe.post_to_store(WM_PX_SHOW_CAMERA_SHELF)
                self.assert_explains(session.probe.wait_notice("CameraShelf"), NOT_INSTALLED,
                                     "its main window stays open", log_path)
                screenshot("camera-shelf-without-control")

                self.assertEqual(session.probe.command("close"), "close ok")
                self.assertEqual(session.wait_exit(60), 0)
                last_run, _ = last_log_run()
                for line in ("The Flash control could not be created (control not installed: "
                             "class not registered: error 0x80040154); the store runs without "
                             "its movie",
                             "Camera shelf: no Flash control (control not installed: class not "
                             "registered: error 0x80040154)"):
                    self.assertEqual(last_run.count(line), 1, last_run)
                self.assertIn("LOG END", last_run)
        finally:
            site.close()
            store_fixture.register_again()

    def test_without_the_movie_files_the_windows_name_them(self):
        with StoreSession(movies=()) as session:
            session.start(wait_movie=False)
            window = session.probe.wait_window(lambda w: w["visible"] == 1)
            # The control that would only cover the explanation is gone.
            self.assertEqual(window["cw"], 0, "no control window expected")
            _, log_path = last_log_run()
            store_movie = driver.windows_path(os.path.join(session.install, "Aerin.swf"))
            self.assert_explains(session.probe.wait_notice("Vellamar"),
                                 "The movie file %s is missing" % store_movie,
                                 "still brings this window forward", log_path)
            screenshot("store-without-movie")

            session.probe.post_to_store(WM_PX_SHOW_CAMERA_SHELF)
            shelf_movie = driver.windows_path(os.path.join(session.install, "CameraShelf.swf"))
            self.assert_explains(session.probe.wait_notice("CameraShelf"),
                                 "The movie file %s is missing" % shelf_movie,
                                 "its main window stays open", log_path)
            screenshot("camera-shelf-without-movie")

            self.assertEqual(session.probe.command("close"), "close ok")
            self.assertEqual(session.wait_exit(60), 0)
            last_run, _ = last_log_run()
            for line in ("The movie %s is missing; the store runs without it" % store_movie,
                         "Camera shelf: the movie %s is missing" % shelf_movie):
                self.assertEqual(last_run.count(line), 1, last_run)


class CameraShelfTest(unittest.TestCase):
    def test_the_shelf_lists_pictures_and_bounds_the_camera_wait(self):
        with StoreSession() as session:
            session.probe.command("host 14")
            session.start(["APPHOSTID", "14", "APPPID", str(session.probe.pid)])
            root, _ = session.init()
            uploaded = os.path.join(linux_path(root), "Uploaded")
            shutil.rmtree(uploaded, ignore_errors=True)
            shade = os.path.join(uploaded, "Shade")
            wireframe = os.path.join(uploaded, "Wireframe")
            os.makedirs(os.path.join(shade, "d.jpg"))
            os.makedirs(wireframe)
            for name in ("a.JPG", "b.txt", "c.png", "x.jpeg"):
                with open(os.path.join(shade, name), "wb") as f:
                    f.write(b"picture")
            with open(os.path.join(wireframe, "a.JPG"), "wb") as f:
                f.write(b"wire")

            session.probe.post_to_store(WM_PX_SHOW_CAMERA_SHELF)
            shelf = session.driver.accept()
            self.assertTrue(shelf.wait_load_movie().endswith("\\CameraShelf.swf"))
            self.assertIsNone(session.probe.notice("CameraShelf"))
            text = reply_value(shelf.call(invoke("CameraShelfInit")), "CameraShelfInit")
            folder = root + "\\Uploaded"
            self.assertEqual(text, folder + "|\\a.JPG:\\a.JPG|\\c.png:|")
            time.sleep(3)
            screenshot("camera-shelf")

            self.assertEqual(shelf.host_report()["properties"], CONTROL_PROPERTIES)

            # The host never answers the camera query: empty text within the bound.
            # Meanwhile keys aimed at the main window follow its rules: Tab reaches its
            # movie's text field, Escape nothing.
            started = time.monotonic()
            waiting = {}
            caller = threading.Thread(target=lambda: waiting.update(
                replies=shelf.call(invoke("CameraShelfAddCamera"), timeout=40)))
            caller.start()
            time.sleep(1)
            session.probe.command("click")
            session.probe.command("key %d" % VK_ESCAPE)
            session.probe.command("key %d" % VK_TAB)
            caller.join(60)
            self.assertEqual(reply_value(waiting["replies"], "CameraShelfAddCamera"), "")
            self.assertLess(time.monotonic() - started, 35)
            self.assertIsNone(session.store.poll())
            keys = session.movie.noted_events("key", wait=2.0)
            self.assertEqual([(k["vk"], k["via"]) for k in keys], [(VK_TAB, "accelerator")])


if __name__ == "__main__":
    unittest.main(verbosity=2)
