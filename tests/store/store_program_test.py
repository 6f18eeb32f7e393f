#!/usr/bin/env python3
"""The real PXStore.exe under Wine: start-up forms, settings, Init and StoreConfig,
deferred pushes, hidden start, second start, the host going away, keys and the close
box, a download the movie starts, the camera shelf, and the explanation the windows show
without the control or without their movies (with the update check through the host link
still working). The movie is played through the Flash control stand-in, host plug-ins
through store_probe.exe."""

import os
import glob
import re
import subprocess
import shutil
import time
import unittest
import uuid

import store_fixture
from store_fixture import StoreSession, invoke, linux_path, reply_value, screenshot
import store_update_test as update_fixture
import driver

WM_PX_SHOW_STORE = 0x413
WM_PX_SHOW_CAMERA_SHELF = 0x419
VK_ESCAPE = 0x1B
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
            session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            self.assertEqual(session.start_again([driver.windows_path(model)]), 0)
            pushes = []
            deadline = time.monotonic() + 15
            while not pushes and time.monotonic() < deadline:
                pushes = [p for p in session.movie.pushes(wait=0.5) if "DoSavetoPlenthra" in p]
            self.assertEqual(len(pushes), 1, pushes)
            record = re.search(r"<string>(.*)</string>", pushes[0]).group(1)
            self.assertRegex(record, r"^Z:\\.*\\chair\.max\*1234\*\d\d/\d\d/\d{4}\*\d\d/\d\d/\d{4}\|$")
            self.assertIsNone(session.store.poll())


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
    def test_escape_does_not_close_and_the_close_box_ends_with_the_banner(self):
        with StoreSession() as session:
            session.start()
            root, _ = session.init()
            session.probe.wait_window(lambda w: w["visible"] == 1)
            session.probe.command("key %d" % VK_ESCAPE)
            time.sleep(1.5)
            self.assertIsNone(session.store.poll())
            self.assertEqual(session.probe.command("close"), "close ok")
            self.assertEqual(session.wait_exit(60), 0)
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
                watch = update_fixture.DialogWatch("ok")
                try:
                    session.probe.command("host 14")
                    # Started hidden: only the host link can bring the window forward.
                    session.start(["HideWindowsAPPHOSTID", "14", "APPPID",
                                   str(session.probe.pid)], wait_movie=False)
                    session.probe.post_to_store(WM_PX_SHOW_STORE)
                    window = session.probe.wait_window(lambda w: w["visible"] == 1)
                    self.assertEqual((window["w"], window["h"]), (1024, 768))
                    self.assertEqual(window["cw"], 0, "no control window expected")
                    _, log_path = last_log_run()
                    notice = session.probe.wait_notice("Vellamar")
                    self.assert_explains(notice, NOT_INSTALLED, '"Check for Update..." still '
                                         "checks for updates and downloads them", log_path)
                    screenshot("store-without-control")

                    # "Check for Update..." through the host link: the required update is
                    # fetched and started.
                    update_fixture.post_check(session, False)
                    marker = site.updates_temp("update.exe") + ".ran"
                    update_fixture.wait_until(lambda: os.path.exists(marker), 60,
                                              "the update program starting")
                    self.assertEqual(len(site.paths(update_fixture.SERVICE_PATH)), 1)
                    self.assertEqual(site.paths("/files/"), ["/files/update_marker.exe"])

                    session.probe.post_to_store(WM_PX_SHOW_CAMERA_SHELF)
                    self.assert_explains(
                        session.probe.wait_notice("CameraShelf"), NOT_INSTALLED,
                        "its main window stays open", log_path)
                    screenshot("camera-shelf-without-control")

                    self.assertEqual(session.probe.command("close"), "close ok")
                    self.assertEqual(session.wait_exit(60), 0)
                finally:
                    watch.close()
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

            # The host never answers the camera query: empty text within the bound.
            started = time.monotonic()
            replies = shelf.call(invoke("CameraShelfAddCamera"), timeout=40)
            self.assertEqual(reply_value(replies, "CameraShelfAddCamera"), "")
            self.assertLess(time.monotonic() - started, 35)
            self.assertIsNone(session.store.poll())


if __name__ == "__main__":
    unittest.main(verbosity=2)
