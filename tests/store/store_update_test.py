#!/usr/bin/env python3
"""The real PXStore.exe's update check under Wine: check requests arriving over the host
link (from store_probe.exe), the configuration service and the update program served by
the web side stand-in, the store's message boxes reported and answered by dlgwatch.exe,
and update_marker.exe leaving a marker when the store starts it. Each store gets its own
transfer directory (TransDirectory) and service (UpdateHost) through its settings file."""

import json
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request

from store_fixture import LineReader, StoreSession
import driver

WM_PX_CHECK_UPDATE = 0x417
# What the store's own update workers post to its message window when a file is saved.
WM_PX_UPDATE_DESCRIPTOR = 0x510
WM_PX_RUN_DOWNLOADED = 0x511
WM_PX_UPDATE_DESCRIPTOR_SILENT = 0x512
SERVICE_PATH = "/aerin/aerinpluginconfigurationservice.cfm"

NO_UPDATE_LINE = "dialog Information | No updates are currently available."
OPTIONAL_LINE = "dialog Vellamar Update | An optional update is available, download it?"
SERVICE_DOWN_LINE = ("dialog PXStore | The Plenthra service could not be contacted. "
                     "Please try again later.")
REQUIRED_PROGRESS = "Downloading Required Update"
MAIN_WINDOW_LINE = "dialog Vellamar | "

NO_LINK = '<?xml version="1.0"?>\r\n<PXUpdate></PXUpdate>\r\n'


def link_descriptor(link, required):
    """A descriptor offering link; link goes into the XML as it stands."""
    return ('<?xml version="1.0"?>\r\n<PXUpdate>\r\n<AerinPluginUpdateLink%s>%s'
            '</AerinPluginUpdateLink>\r\n</PXUpdate>\r\n'
            % (' required="yes"' if required else "", link))


def service_query(host_id, version, counter):
    return "%s?intHostID=%d&stgVersion=%s&stgUpdateSource=1.0.0&temp=%d" % (
        SERVICE_PATH, host_id, version, counter)


def free_port():
    """A port on 127.0.0.1 that nothing listens on (bound, then released)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


wait_until = driver.wait_until


class DialogWatch:
    """dlgwatch.exe answering every dialog of other processes with one button; the lines
    it prints are kept in order. The store's main window is a dialog too: its line (and
    the button pressed on it, which it ignores) is left out."""

    def __init__(self, answer):
        self.process = subprocess.Popen(
            [driver.wine_loader(), os.environ["PX_DLGWATCH"], "--answer", answer],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True, bufsize=1)
        self.output = LineReader(self.process, "dlgwatch")
        self.seen = []

    def wait_for(self, prefix, timeout=30.0):
        """The first line starting with prefix (lines before it are kept as well)."""
        line = self.output.expect(prefix, timeout)
        self._keep(self.output.notes + [line])
        self.output.notes = []
        return line

    def settle(self, wait):
        """Every line so far, after waiting wait seconds for more."""
        self._keep(self.output.drain(wait))
        return self.seen

    def _keep(self, lines):
        self.seen += [line for line in lines if not line.startswith(MAIN_WINDOW_LINE)]

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=30)
        self.process.stdout.close()


class UpdateSite:
    """A web side stand-in with its own folder, and a transfer directory for the store."""

    def __init__(self, start_server=True, tls=False):
        self.tls = tls
        self.tls_ports = {}
        self.folder = tempfile.mkdtemp(prefix="pxupdate-")
        self.root = os.path.join(self.folder, "web")
        self.transfer = os.path.join(self.folder, "transfer")
        os.makedirs(self.root)
        self.program = os.path.join(self.root, "update_marker.exe")
        shutil.copy(os.environ["PX_UPDATE_MARKER_EXE"], self.program)
        with open(self.program, "rb") as f:
            self.program_bytes = f.read()
        self.server = None
        self.port = None
        if start_server:
            self.listen_on(0)

    def listen_on(self, port):
        """Starts the stand-in; port 0 picks a free one, another is one chosen earlier."""
        # With TLS, the stand-in's test authority is trusted in the prefix until close().
        tls_dir = os.path.join(self.folder, "tls") if self.tls else None
        self.server, self.port, self.tls_ports = driver.start_webside(self.root, port, tls_dir)
        if tls_dir is not None and not os.path.exists(os.path.join(self.folder, "trusted")):
            driver.trust_authority("add", os.path.join(tls_dir, "ca.der"))
            open(os.path.join(self.folder, "trusted"), "w").close()

    def settings(self, port=None):
        """The store's settings file: this transfer directory and this service."""
        # The settings reader takes a backslash as an escape: folders are written doubled.
        transfer = driver.windows_path(self.transfer).replace("\\", "\\\\")
        return ('<?xml version="1.0"?><plugcfg><TransDirectory>%s</TransDirectory>'
                '<UpdateHost>127.0.0.1:%d</UpdateHost></plugcfg>'
                % (transfer, port if port is not None else self.port))

    def serve(self, descriptor):
        with open(os.path.join(self.root, "PXUpdate.xml"), "w", newline="") as f:
            f.write(descriptor)

    def file_url(self, name_and_query):
        return "http://127.0.0.1:%d/files/%s" % (self.port, name_and_query)

    def tls_file_url(self, kind, name_and_query):
        return "https://127.0.0.1:%d/files/%s" % (self.tls_ports[kind], name_and_query)

    def paths(self, prefix):
        """Paths (with query, as received) of the requests so far that start with prefix."""
        log = "http://127.0.0.1:%d/_log" % self.port
        with urllib.request.urlopen(log, timeout=30) as answer:
            entries = [json.loads(line) for line in answer.read().decode().splitlines() if line]
        return [e["path"] for e in entries if e["path"].startswith(prefix)]

    def wait_service_requests(self, count, timeout=30.0):
        return wait_until(lambda: len(self.paths(SERVICE_PATH)) >= count and
                          self.paths(SERVICE_PATH), timeout,
                          "%d request(s) to the service" % count)

    def updates_temp(self, name=""):
        return os.path.join(self.transfer, "Updates", "temp", name)

    def close(self):
        if os.path.exists(os.path.join(self.folder, "trusted")):
            driver.trust_authority("remove", os.path.join(self.folder, "tls", "ca.der"))
        if self.server is not None:
            if self.server.poll() is None:
                self.server.terminate()
            self.server.wait(timeout=30)
            self.server.stdout.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def post_check(session, silent):
    """Posts the host link's update check to the store once its window exists."""
    message = "post %d %d" % (WM_PX_CHECK_UPDATE, 1 if silent else 0)
    wait_until(lambda: session.probe.command(message, "posted").endswith(" ok"), 30,
               "the store's message window")


def post_check_until_heard(session, site, silent, heard):
    """Posts a check until the service has seen `heard` requests. A check that arrives while
    the store is still busy is dropped, so the request is repeated; the pause between posts
    is long enough for an accepted check to reach the service."""
    for _ in range(3):
        post_check(session, silent)
        try:
            return site.wait_service_requests(heard, timeout=10)
        except driver.DriverError:
            continue
    raise driver.DriverError("the store never asked the service")


def find_window(session, title):
    """The top-level window titled title as a dict (visible, x, y, w, h), or None."""
    line = session.probe.command("find-window " + title)
    if line == "find-window none":
        return None
    return {k: int(v) for k, v in (pair.split("=") for pair in line.split()[1:])}


class ChecksWithoutDownloadTest(unittest.TestCase):
    def test_what_the_user_sees_when_nothing_is_fetched(self):
        cases = [
            # label, optional link (else none), silent, dlgwatch answer, lines seen
            ("interactive, no link", False, False, "ok", [NO_UPDATE_LINE]),
            ("silent, optional update", True, True, "ok", []),
            ("interactive, optional update, No", True, False, "no", [OPTIONAL_LINE]),
        ]
        for label, optional, silent, answer, expected in cases:
            with self.subTest(label), UpdateSite() as site, \
                    StoreSession(settings_xml=site.settings()) as session:
                descriptor = NO_LINK
                if optional:
                    descriptor = link_descriptor(site.file_url("update_marker.exe"), False)
                site.serve(descriptor)
                watch = DialogWatch(answer)
                try:
                    session.start()
                    post_check(session, silent)
                    self.assertEqual(site.wait_service_requests(1),
                                     [service_query(0, "1.0.0", 1)])
                    if expected:
                        watch.wait_for(expected[-1])
                    # Whatever would follow (another box, a download) has time to show.
                    self.assertEqual(watch.settle(4.0), expected)
                    self.assertEqual(site.paths("/files/"), [])
                    self.assertEqual(len(site.paths(SERVICE_PATH)), 1)
                    self.assertFalse(os.path.exists(site.updates_temp("update.exe")))
                    # The descriptor went into this store's transfer directory.
                    with open(os.path.join(site.transfer, "Updates", "PXUpdate.xml"),
                              newline="") as f:
                        self.assertEqual(f.read(), descriptor)
                    self.assertIsNone(session.store.poll())
                finally:
                    watch.close()


class UpdateDownloadTest(unittest.TestCase):
    def assert_started(self, site, name):
        saved = site.updates_temp(name)
        wait_until(lambda: os.path.exists(saved + ".ran"), 60, "the marker of " + name)
        with open(saved + ".ran") as f:
            self.assertEqual(f.read(), "program=%s\ncwd=%s\n" % (
                driver.windows_path(saved), driver.windows_path(site.transfer)))
        with open(saved, "rb") as f:
            self.assertEqual(f.read(), site.program_bytes)

    def post_as_another_program(self, session):
        """Posts the codes the store's own update workers use, with made-up word parameters,
        as any program that finds the store's message window can."""
        for message in (WM_PX_UPDATE_DESCRIPTOR, WM_PX_UPDATE_DESCRIPTOR_SILENT,
                        WM_PX_RUN_DOWNLOADED):
            for word in (0, 1, 2, 0x12345678, 0x7FFF12345670):
                self.assertTrue(session.probe.command(
                    "post %d %d" % (message, word), "posted").endswith(" ok"))

    def test_silent_required_update_is_fetched_with_progress_and_started_whatever_others_post(
            self):
        with UpdateSite() as site, StoreSession(settings_xml=site.settings()) as session:
            # Paced to about four seconds, so that a second check meets the download.
            link = "update_marker.exe?rate=%d" % max(1, len(site.program_bytes) // 4)
            site.serve(link_descriptor(site.file_url(link), True))
            watch = DialogWatch("ok")
            try:
                session.start()
                main = session.probe.wait_window(lambda w: w["visible"] == 1)
                # Before the check and during the download, other programs' posts of the
                # workers' codes start nothing, show nothing and break nothing.
                self.post_as_another_program(session)
                post_check(session, True)
                shown = watch.wait_for("dialog %s | " % REQUIRED_PROGRESS)
                self.assertIn("Downloading a required update for Plenthra", shown)
                self.post_as_another_program(session)
                # A check while the download runs is dropped: no second service request.
                post_check(session, False)
                progress = find_window(session, REQUIRED_PROGRESS)
                self.assertIsNotNone(progress, "the download ended before the second check")
                self.assertEqual((progress["visible"], progress["x"], progress["y"]),
                                 (1, main["x"], main["y"]))

                self.assert_started(site, "update.exe")
                wait_until(lambda: find_window(session, REQUIRED_PROGRESS) is None, 30,
                           "the progress window closing")
                self.assertEqual(site.paths(SERVICE_PATH), [service_query(0, "1.0.0", 1)])
                self.assertEqual(site.paths("/files/"), ["/files/" + link])
                # Nothing but the progress window was on screen.
                self.assertEqual(watch.settle(2.0), [shown])
                self.assertIsNone(session.store.poll())
            finally:
                watch.close()

    def test_optional_update_accepted_runs_the_file_the_server_names(self):
        with UpdateSite(tls=True) as site, \
                StoreSession(settings_xml=site.settings()) as session:
            link = "update_marker.exe?disposition=x.exe"
            site.serve(link_descriptor(site.file_url(link), False))
            watch = DialogWatch("yes")
            try:
                session.start()
                post_check(session, False)
                watch.wait_for(OPTIONAL_LINE)
                self.assert_started(site, "x.exe")
                self.assertFalse(os.path.exists(site.updates_temp("update.exe")))
                self.assertEqual(site.paths(SERVICE_PATH), [service_query(0, "1.0.0", 1)])
                self.assertEqual(site.paths("/files/"), ["/files/" + link])
                # The download is quick: its progress window may or may not have been seen.
                lines = watch.settle(2.0)
                self.assertEqual(lines[0], OPTIONAL_LINE)
                for line in lines[1:]:
                    self.assertTrue(line.startswith("dialog Download Progress | "), line)

                # The same over https, from the stand-in's TLS port with the good certificate.
                secure = "update_marker.exe?disposition=y.exe"
                site.serve(link_descriptor(site.tls_file_url("good", secure), False))
                post_check(session, False)
                watch.wait_for(OPTIONAL_LINE)
                self.assert_started(site, "y.exe")
                self.assertEqual(site.paths("/files/"), ["/files/" + link, "/files/" + secure])
            finally:
                watch.close()


    def test_required_update_cut_short_is_not_started(self):
        with UpdateSite() as site, StoreSession(settings_xml=site.settings()) as session:
            # Padding after the image: the program still runs when the padding is cut off,
            # so only the store's length check keeps the cut copy from starting.
            padded = os.path.join(site.root, "padded.exe")
            with open(padded, "wb") as f:
                f.write(site.program_bytes + b"\0" * 200000)
            link = "padded.exe?drop=%d" % (len(site.program_bytes) + 1000)
            site.serve(link_descriptor(site.file_url(link), True))
            watch = DialogWatch("ok")
            try:
                session.start()
                post_check(session, False)
                ran = site.updates_temp("update.exe.ran")
                wait_until(lambda: os.path.exists(ran) or SERVICE_DOWN_LINE in watch.settle(0.5),
                           60, "the cut download's end")
                time.sleep(2)
                self.assertFalse(os.path.exists(ran), "the cut program was started")
                self.assertIn(SERVICE_DOWN_LINE, watch.settle(0))
                self.assertEqual(site.paths("/files/"), ["/files/" + link])
                self.assertFalse(os.path.exists(site.updates_temp("update.exe")))
                # Not busy any more: the next check reaches the service.
                post_check_until_heard(session, site, True, 2)
                self.assertIsNone(session.store.poll())
            finally:
                watch.close()


class ServiceRequestsTest(unittest.TestCase):
    def test_consecutive_checks_differ_only_in_the_counter(self):
        with UpdateSite() as site, StoreSession(settings_xml=site.settings()) as session:
            site.serve(NO_LINK)
            watch = DialogWatch("ok")
            try:
                session.probe.command("host 14")
                # Greeted at start, the host sends its build and asks for a silent check.
                session.start(["APPHOSTID", "14", "APPPID", str(session.probe.pid)])
                first = service_query(14, "1.0.72", 1)
                self.assertEqual(site.wait_service_requests(1), [first])
                self.assertEqual(post_check_until_heard(session, site, True, 2),
                                 [first, service_query(14, "1.0.72", 2)])
                self.assertEqual(watch.settle(2.0), [])
            finally:
                watch.close()

    def test_service_down_is_told_only_to_interactive_checks(self):
        port = free_port()
        with UpdateSite(start_server=False) as site, \
                StoreSession(settings_xml=site.settings(port)) as session:
            site.serve(NO_LINK)
            watch = DialogWatch("ok")
            try:
                session.start()
                post_check(session, False)
                watch.wait_for(SERVICE_DOWN_LINE)
                wait_until(lambda: find_window(session, "PXStore") is None, 30,
                           "the message box closing")
                time.sleep(1.0)  # the worker clears the busy flag once its box returned
                post_check(session, True)
                self.assertEqual(watch.settle(4.0), [SERVICE_DOWN_LINE])

                # The service comes back: the next check reaches it, numbered after the
                # two that failed, and the user hears the answer.
                site.listen_on(port)
                self.assertEqual(post_check_until_heard(session, site, False, 1),
                                 [service_query(0, "1.0.0", 3)])
                watch.wait_for(NO_UPDATE_LINE)
                self.assertEqual(watch.settle(1.0), [SERVICE_DOWN_LINE, NO_UPDATE_LINE])
                self.assertIsNone(session.store.poll())
            finally:
                watch.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
