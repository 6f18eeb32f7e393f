#!/usr/bin/env python3
"""Web side stand-in for the store's transfer tests and benchmarks.

An HTTP/1.1 server on 127.0.0.1 that serves files for downloads (with switches that
make it misbehave on purpose), receives multipart uploads, answers the update
service, and records every request so that a test can check what was sent.

    python3 server.py --root DIR [--port N] [--tls CERT_DIR]

The first line on stdout is "listening 127.0.0.1:PORT". With --tls, a fresh test
certificate authority is made in CERT_DIR and every route is also served over TLS on one
port per test certificate, each announced as "tls KIND 127.0.0.1:PORT". See README.md.
"""

import argparse
import email.utils
import hashlib
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SEND_CHUNK = 1 << 20
READ_CHUNK = 1 << 20


class RequestLog:
    """Every request so far, in arrival order; shared by all handler threads."""

    def __init__(self):
        self._lock = threading.Lock()
        self._entries = []

    def add(self, entry):
        with self._lock:
            self._entries.append(entry)

    def clear(self):
        with self._lock:
            self._entries = []

    def as_json_lines(self):
        with self._lock:
            return "".join(json.dumps(e) + "\n" for e in self._entries).encode("utf-8")


def header_object(headers):
    result = {}
    for name, value in headers.items():
        result[name] = result[name] + ", " + value if name in result else value
    return result


def parse_content_disposition(value):
    """Returns (name, filename) of a form-data part; filename is None for text fields."""
    name = None
    filename = None
    for item in value.split(";")[1:]:
        key, _, raw = item.strip().partition("=")
        raw = raw.strip()
        if raw.startswith('"') and raw.endswith('"') and len(raw) >= 2:
            raw = raw[1:-1]
        key = key.strip().lower()
        if key == "name":
            name = raw
        elif key == "filename":
            filename = raw
    return name, filename


def parse_multipart(body, boundary):
    """Splits a multipart/form-data body; returns the parts or raises ValueError."""
    delimiter = b"--" + boundary
    if not body.startswith(delimiter):
        raise ValueError("body does not start with the boundary")
    parts = []
    position = len(delimiter)
    while True:
        if body.startswith(b"--", position):
            return parts  # closing delimiter
        if not body.startswith(b"\r\n", position):
            raise ValueError("no line break after a boundary")
        head_end = body.find(b"\r\n\r\n", position + 2)
        if head_end < 0:
            raise ValueError("part head without an empty line")
        head = body[position + 2:head_end].decode("latin-1")
        data_start = head_end + 4
        data_end = body.find(b"\r\n" + delimiter, data_start)
        if data_end < 0:
            raise ValueError("part without a closing boundary")
        headers = {}
        for line in head.split("\r\n"):
            key, _, value = line.partition(":")
            headers[key.strip().lower()] = value.strip()
        name, filename = parse_content_disposition(headers.get("content-disposition", ""))
        parts.append({
            "headers": headers,
            "name": name,
            "filename": filename,
            "content_type": headers.get("content-type"),
            "data": memoryview(body)[data_start:data_end],
        })
        position = data_end + 2 + len(delimiter)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "WebsideStandIn/1.0"

    def log_message(self, format, *args):  # noqa: A002 - quiet; /_log is the record
        pass

    # --- helpers -------------------------------------------------------------------

    def record(self, body_length=0, **extra):
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": header_object(self.headers),
            "body_length": body_length,
        }
        entry.update(extra)
        self.server.request_log.add(entry)

    def reply(self, status, body=b"", content_type="text/plain", extra_headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra_headers:
            self.send_header(name, value)
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)

    def send_paced(self, data_source, count, rate):
        """Sends count bytes from data_source(n) at no more than rate bytes per second."""
        started = time.monotonic()
        sent = 0
        slice_size = max(1, rate // 20)
        while sent < count:
            piece = data_source(min(slice_size, count - sent))
            if not piece:
                break
            self.wfile.write(piece)
            sent += len(piece)
            due = started + sent / rate
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
        return sent

    # --- routes --------------------------------------------------------------------

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/_log":
            self.server.wait_for_stores()
            self.reply(200, self.server.request_log.as_json_lines(), "application/x-ndjson")
            return
        self.record(int(self.headers.get("Content-Length", "0") or 0))
        if url.path == "/crl/ca.crl" and self.server.crl_path:
            with open(self.server.crl_path, "rb") as f:
                self.reply(200, f.read(), "application/pkix-crl")
        elif url.path.startswith("/files/"):
            self.serve_file(url)
        elif url.path.lower() == "/aerin/aerinpluginconfigurationservice.cfm":
            self.serve_update_descriptor()
        else:
            self.reply(404, b"not found\n")

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/_reset":
            self.drain_body()
            self.server.request_log.clear()
            self.reply(200, b"reset\n")
            return
        if url.path.lower() == "/upload/uploadtest.asp":
            self.receive_upload()
            return
        length = self.drain_body()
        self.record(length)
        self.reply(404, b"not found\n")

    def drain_body(self):
        remaining = int(self.headers.get("Content-Length", "0") or 0)
        total = 0
        while remaining > 0:
            piece = self.rfile.read(min(READ_CHUNK, remaining))
            if not piece:
                break
            total += len(piece)
            remaining -= len(piece)
        return total

    def serve_update_descriptor(self):
        path = os.path.join(self.server.root, "PXUpdate.xml")
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.reply(404, b"no update descriptor\n")
            return
        self.reply(200, data, "text/xml")

    def serve_file(self, url):
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)

        def switch(name):
            values = query.get(name)
            return values[-1] if values else None

        stall = switch("stall")
        if stall:
            time.sleep(int(stall) / 1000.0)
        redirect = switch("redirect")
        if redirect is not None:
            self.reply(302, b"moved\n", extra_headers=[("Location", redirect)])
            return
        status = switch("status")
        if status:
            self.reply(int(status), ("status %s\n" % status).encode("ascii"))
            return
        if switch("html") == "1":
            page = b"<html><head><title>Error</title></head><body>No such file</body></html>\n"
            self.reply(200, page, "text/html")
            return

        name = os.fsdecode(urllib.parse.unquote_to_bytes(url.path[len("/files/"):]))
        if not name or any(piece in ("..", "") for piece in name.split("/")):
            self.reply(404, b"not found\n")
            return
        path = os.path.join(self.server.root, name)
        try:
            f = open(path, "rb")
        except OSError:
            self.reply(404, b"not found\n")
            return
        with f:
            size = os.fstat(f.fileno()).st_size
            mtime = os.fstat(f.fileno()).st_mtime
            self.send_file_body(f, size, mtime, switch)

    def send_file_body(self, f, size, mtime, switch):
        start = 0
        status = 200
        range_header = self.headers.get("Range", "")
        if range_header.startswith("bytes=") and switch("norange") != "1":
            first = range_header[len("bytes="):].split("-", 1)[0].strip()
            if first.isdigit():
                start = int(first)
                if start >= size:
                    self.reply(416, b"range not satisfiable\n",
                               extra_headers=[("Content-Range", "bytes */%d" % size)])
                    return
                status = 206
        count = size - start
        chunked = switch("nolength") == "1"
        drop = switch("drop")
        rate = int(switch("rate") or 0)

        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Last-Modified", email.utils.formatdate(mtime, usegmt=True))
        if status == 206:
            # rangestart/rangetotal make the Content-Range claim a start or a total that does
            # not match the bytes sent, the answer of a server whose file changed.
            claimed_start = int(switch("rangestart") or start)
            claimed_total = int(switch("rangetotal") or size)
            self.send_header("Content-Range",
                             "bytes %d-%d/%d" % (claimed_start, size - 1, claimed_total))
        disposition = switch("disposition")
        if disposition is not None:
            self.send_header("Content-Disposition", 'attachment; filename="%s"' % disposition)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(count))
        if drop is not None:
            self.send_header("Connection", "close")
        self.end_headers()

        f.seek(start)
        to_send = count if drop is None else min(count, int(drop))
        if chunked:
            remaining = to_send
            while remaining > 0:
                piece = f.read(min(SEND_CHUNK, remaining))
                if not piece:
                    break
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                remaining -= len(piece)
            if drop is None:
                self.wfile.write(b"0\r\n\r\n")
        elif rate > 0:
            self.send_paced(f.read, to_send, rate)
        elif to_send > 0 and isinstance(self.connection, ssl.SSLSocket):
            # sendfile() over TLS falls back to 8 KiB writes (8 KiB records); large writes
            # give full 16 KiB records and keep the server from being the bottleneck.
            remaining = to_send
            while remaining > 0:
                piece = f.read(min(SEND_CHUNK, remaining))
                if not piece:
                    break
                self.connection.sendall(piece)
                remaining -= len(piece)
        elif to_send > 0:
            self.connection.sendfile(f, start, to_send)
        if drop is not None:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def receive_upload(self):
        announced = int(self.headers.get("Content-Length", "0") or 0)
        # One buffer filled in place: uploads are benchmarked at hundreds of megabytes.
        body = bytearray(announced)
        view = memoryview(body)
        received = 0
        while received < announced:
            count = self.rfile.readinto(view[received:received + READ_CHUNK])
            if not count:
                break
            received += count
        if received != announced:
            self.record(received, error="body shorter than Content-Length %d" % announced)
            self.close_connection = True
            self.reply(400, b"short body\n")
            return
        content_type = self.headers.get("Content-Type", "")
        boundary = None
        for item in content_type.split(";")[1:]:
            key, _, value = item.strip().partition("=")
            if key.lower() == "boundary":
                boundary = value.strip('"').encode("latin-1")
        try:
            if not content_type.lower().startswith("multipart/form-data") or not boundary:
                raise ValueError("not a multipart/form-data request")
            parts = parse_multipart(body, boundary)
        except ValueError as fault:
            self.record(len(body), error=str(fault), parts=[])
            self.reply(400, ("%s\n" % fault).encode("latin-1"))
            return
        summary = []
        for part in parts:
            item = {"name": part["name"]}
            if part["filename"] is not None:
                item["filename"] = part["filename"]
            item["content_type"] = part["content_type"]
            item["size"] = len(part["data"])
            item["sha256"] = hashlib.sha256(part["data"]).hexdigest()
            summary.append(item)
        # The parts go to disk after the answer, so that writing hundreds of megabytes does
        # not count against the client in benchmarks; /_log waits for pending stores.
        self.server.store_started()
        try:
            self.record(len(body), parts=summary)
            self.reply(200, b"OK\n", "text/html")
        finally:
            try:
                store = self.server.next_upload_folder()
                for index, part in enumerate(parts):
                    with open(os.path.join(store, "%03d.head" % index), "w",
                              encoding="latin-1") as h:
                        json.dump({k: v for k, v in part.items() if k != "data"}, h)
                    with open(os.path.join(store, "%03d.data" % index), "wb") as d:
                        d.write(part["data"])
            finally:
                self.server.store_finished()


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, root):
        super().__init__(address, Handler)
        self.root = root
        self.request_log = RequestLog()
        self.crl_path = None
        self._upload_lock = threading.Condition()
        self._upload_count = 0
        self._stores_pending = 0

    def store_started(self):
        with self._upload_lock:
            self._stores_pending += 1

    def store_finished(self):
        with self._upload_lock:
            self._stores_pending -= 1
            self._upload_lock.notify_all()

    def wait_for_stores(self):
        with self._upload_lock:
            self._upload_lock.wait_for(lambda: self._stores_pending == 0, timeout=120)

    def next_upload_folder(self):
        """A folder of its own per received upload, under ROOT/_uploads."""
        with self._upload_lock:
            self._upload_count += 1
            folder = os.path.join(self.root, "_uploads", "%04d" % self._upload_count)
        os.makedirs(folder, exist_ok=True)
        return folder


# --- TLS ---------------------------------------------------------------------------

# The kinds of TLS port, in the order they are announced.
TLS_KINDS = ("good", "wrong-name", "expired", "unknown-authority", "revoked",
             "revocation-unknown")

AUTHORITY_CONFIG = """\
[ ca ]
default_ca = authority

[ authority ]
dir = {dir}
database = $dir/{name}-index.txt
new_certs_dir = $dir/{name}-issued
serial = $dir/{name}-serial
crlnumber = $dir/{name}-crlnumber
certificate = $dir/{name}.pem
private_key = $dir/{name}-key.pem
default_md = sha256
default_days = 30
default_crl_days = 30
policy = anything
unique_subject = no
copy_extensions = none

[ anything ]
commonName = supplied

[ req ]
distinguished_name = request_name
prompt = no

[ request_name ]
CN = unused

[ authority_extensions ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[ server_extensions ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = $ENV::PX_TLS_NAMES
crlDistributionPoints = URI:$ENV::PX_TLS_CRL_URL
"""


# What the configuration asks of the environment where no certificate is issued.
UNUSED_NAMES = {"PX_TLS_NAMES": "DNS:unused", "PX_TLS_CRL_URL": "http://unused/"}


def openssl(*args, env=None):
    merged = dict(os.environ)
    merged.update(env or {})
    done = subprocess.run(("openssl",) + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          env=merged)
    if done.returncode != 0:
        raise RuntimeError("openssl %s failed:\n%s" % (args[0], done.stdout.decode(errors="replace")))


class TestAuthority:
    """A certificate authority of its own in a folder, run with `openssl ca`, so that
    certificates can carry any validity period and be revoked into a real CRL."""

    def __init__(self, folder, name, crl_url):
        self.crl_url = crl_url
        self.folder = folder
        self.name = name
        self.config = os.path.join(folder, name + ".cnf")
        os.makedirs(os.path.join(folder, name + "-issued"), exist_ok=True)
        with open(os.path.join(folder, name + "-index.txt"), "w"):
            pass
        # Serial numbers drawn at random, as real authorities do: Wine's revocation
        # check keeps what it found out per serial number, across runs, so counting from
        # the same start each run would answer for a certificate of an earlier run.
        with open(os.path.join(folder, name + "-serial"), "w") as f:
            f.write("%X\n" % (int.from_bytes(os.urandom(15), "big") | 1 << 119))
        with open(os.path.join(folder, name + "-crlnumber"), "w") as f:
            f.write("1000\n")
        with open(self.config, "w") as f:
            f.write(AUTHORITY_CONFIG.format(dir=folder, name=name))
        self.pem = os.path.join(folder, name + ".pem")
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
                "-config", self.config, "-extensions", "authority_extensions",
                "-subj", "/CN=Plenthra Test Authority %s %d" % (name, os.getpid()),
                "-keyout", os.path.join(folder, name + "-key.pem"), "-out", self.pem,
                env=UNUSED_NAMES)

    def issue(self, kind, key, names, start, end, crl_url=None):
        """A certificate for `key` and `names`, valid from `start` to `end` (YYMMDDHHMMSSZ)."""
        request = os.path.join(self.folder, kind + ".csr")
        cert = os.path.join(self.folder, kind + ".pem")
        env = {"PX_TLS_NAMES": names, "PX_TLS_CRL_URL": crl_url or self.crl_url}
        openssl("req", "-new", "-key", key, "-config", self.config,
                "-subj", "/CN=%s" % kind, "-out", request, env=env)
        openssl("ca", "-batch", "-config", self.config, "-extensions", "server_extensions",
                "-startdate", start, "-enddate", end, "-notext",
                "-in", request, "-out", cert, env=env)
        return cert, key

    def revoke(self, cert):
        openssl("ca", "-config", self.config, "-revoke", cert, "-crl_reason", "keyCompromise",
                env=UNUSED_NAMES)

    def write_crl(self, der_path):
        pem = der_path + ".pem"
        openssl("ca", "-config", self.config, "-gencrl", "-out", pem,
                env=UNUSED_NAMES)
        openssl("crl", "-in", pem, "-outform", "DER", "-out", der_path)


def stamp(when):
    return time.strftime("%y%m%d%H%M%SZ", time.gmtime(when))


def make_test_certificates(folder, plain_port):
    """Creates DIR/ca.pem, DIR/ca.der, the CRL and one certificate per TLS kind; returns
    {kind: (cert, key)} and the CRL's path."""
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    crl_url = "http://127.0.0.1:%d/crl/ca.crl" % plain_port
    authority = TestAuthority(folder, "ca", crl_url)
    stranger = TestAuthority(folder, "stranger", crl_url)
    openssl("x509", "-in", authority.pem, "-outform", "DER", "-out",
            os.path.join(folder, "ca.der"))
    # One key for every server certificate: making RSA keys is what takes the time here.
    key = os.path.join(folder, "server-key.pem")
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key)
    now = time.time()
    valid = (stamp(now - 86400), stamp(now + 30 * 86400))
    # The address also as a DNS entry: the platform name check compares host names with
    # the DNS entries only (Wine 8 ignores IP entries), while others use the IP entry.
    good_names = "IP:127.0.0.1, DNS:127.0.0.1, DNS:localhost"
    made = {
        "good": authority.issue("good", key, good_names, *valid),
        "wrong-name": authority.issue("wrong-name", key, "DNS:wrong-name.invalid", *valid),
        "expired": authority.issue("expired", key, good_names, stamp(now - 60 * 86400),
                                   stamp(now - 30 * 86400)),
        "unknown-authority": stranger.issue("unknown-authority", key, good_names, *valid),
        "revoked": authority.issue("revoked", key, good_names, *valid),
        # Its revocation list is missing (404): nobody can tell whether it was revoked.
        "revocation-unknown": authority.issue(
            "revocation-unknown", key, good_names, *valid,
            crl_url="http://127.0.0.1:%d/crl/missing.crl" % plain_port),
    }
    authority.revoke(made["revoked"][0])
    crl = os.path.join(folder, "ca.crl")
    authority.write_crl(crl)
    return made, crl


class TlsServer(Server):
    """One TLS port: serves the same folder, log and upload store as the plain server.
    The handshake runs on the connection's own thread, so a client that stalls in it
    holds up nobody else."""

    def __init__(self, plain, cert, key):
        super().__init__(("127.0.0.1", 0), plain.root)
        self.plain = plain
        self.request_log = plain.request_log
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)

    def store_started(self):
        self.plain.store_started()

    def store_finished(self):
        self.plain.store_finished()

    def wait_for_stores(self):
        self.plain.wait_for_stores()

    def next_upload_folder(self):
        return self.plain.next_upload_folder()

    def finish_request(self, request, client_address):
        try:
            request.settimeout(60)
            connection = self.context.wrap_socket(request, server_side=True)
            connection.settimeout(None)
        except (ssl.SSLError, OSError):
            return  # a client that refuses the certificate ends here
        try:
            self.RequestHandlerClass(connection, client_address, self)
        finally:
            connection.close()

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError)):
            super().handle_error(request, client_address)


def start_tls_ports(plain, folder):
    made, crl = make_test_certificates(folder, plain.server_address[1])
    plain.crl_path = crl
    servers = []
    for kind in TLS_KINDS:
        server = TlsServer(plain, *made[kind])
        threading.Thread(target=server.serve_forever, daemon=True).start()
        print("tls %s 127.0.0.1:%d" % (kind, server.server_address[1]), flush=True)
        servers.append(server)
    return servers


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="folder served under /files/")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--tls", metavar="DIR",
                        help="make a test authority in DIR and serve over TLS too")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), os.path.abspath(args.root))
    print("listening 127.0.0.1:%d" % server.server_address[1], flush=True)
    if args.tls:
        start_tls_ports(server, args.tls)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
