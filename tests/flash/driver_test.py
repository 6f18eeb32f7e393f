#!/usr/bin/env python3
"""The movie driver library against a scripted control played by a socket client:
load and call round trips, pushes kept apart from a call's replies, error and closed
connections turned into DriverError, and the registration file's text. Also the web side
stand-in started with its TLS ports: each port's certificate checked by Python's own TLS
against the test authority and its revocation list, as a client that trusts it would."""

import json
import os
import shutil
import socket
import ssl
import sys
import tempfile
import threading
import unittest
import urllib.request

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



class WebSideTlsTest(unittest.TestCase):
    """The stand-in's --tls ports as the driver announces them, checked by Python's TLS
    with the test authority (and its CRL for the revocation cases)."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="px-tls-")
        cls.root = os.path.join(cls.folder, "web")
        os.makedirs(os.path.join(cls.root))
        with open(os.path.join(cls.root, "a.bin"), "wb") as f:
            f.write(b"tls stand-in" * 1000)
        cls.tls = os.path.join(cls.folder, "tls")
        cls.process, cls.port, cls.ports = driver.start_webside(cls.root, tls_dir=cls.tls)

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        cls.process.wait(timeout=10)
        cls.process.stdout.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def fetch(self, kind, host="127.0.0.1", crl=False):
        context = ssl.create_default_context(cafile=os.path.join(self.tls, "ca.pem"))
        if crl:
            with urllib.request.urlopen(
                    "http://127.0.0.1:%d/crl/ca.crl" % self.port, timeout=10) as answer:
                der = answer.read()
            # As served: DER. Python takes revocation lists as PEM files only.
            pem = os.path.join(self.folder, "served-crl.pem")
            with open(pem, "w") as f:
                f.write(ssl.DER_cert_to_PEM_cert(der).replace("CERTIFICATE", "X509 CRL"))
            context.load_verify_locations(cafile=pem)
            context.verify_flags |= ssl.VERIFY_CRL_CHECK_LEAF
        url = "https://%s:%d/files/a.bin" % (host, self.ports[kind])
        with urllib.request.urlopen(url, context=context, timeout=10) as answer:
            return answer.read()

    def test_every_kind_is_announced_and_the_authority_is_written(self):
        self.assertEqual(sorted(self.ports), sorted(driver.TLS_KINDS))
        for name in ("ca.pem", "ca.der"):
            self.assertTrue(os.path.getsize(os.path.join(self.tls, name)) > 0, name)

    def test_good_serves_every_route_under_both_names(self):
        for host in ("127.0.0.1", "localhost"):
            self.assertEqual(self.fetch("good", host, crl=True), b"tls stand-in" * 1000)
        self.assertEqual(self.fetch("revocation-unknown"), b"tls stand-in" * 1000)

    def test_bad_certificates_fail_verification(self):
        for kind, crl, why in (("wrong-name", False, "mismatch"), ("expired", False, "expired"),
                               ("unknown-authority", False, "issuer"),
                               ("revoked", True, "revoked")):
            with self.subTest(kind):
                with self.assertRaises(urllib.error.URLError) as caught:
                    self.fetch(kind, crl=crl)
                reason = caught.exception.reason
                self.assertIsInstance(reason, ssl.SSLCertVerificationError)
                self.assertIn(why, reason.verify_message)

    def test_the_revocation_lists_are_served_on_the_plain_port_and_logged(self):
        with self.assertRaises(urllib.error.HTTPError) as missing:
            urllib.request.urlopen("http://127.0.0.1:%d/crl/missing.crl" % self.port,
                                   timeout=10)
        self.assertEqual(missing.exception.code, 404)
        self.fetch("good", crl=True)
        with urllib.request.urlopen("http://127.0.0.1:%d/_log" % self.port, timeout=10) as log:
            paths = [json.loads(line)["path"] for line in log.read().decode().splitlines()]
        self.assertIn("/crl/ca.crl", paths)


if __name__ == "__main__":
    unittest.main()
