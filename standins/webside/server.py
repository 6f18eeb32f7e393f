#!/usr/bin/env python3
"""Web side stand-in for the store's transfer tests and benchmarks.

An HTTP/1.1 server on 127.0.0.1 that serves files for downloads (with switches that
make it misbehave on purpose), receives multipart uploads, answers the update
service, and records every request so that a test can check what was sent.

    python3 server.py --root DIR [--port N]

The first line on stdout is "listening 127.0.0.1:PORT". See README.md for the routes.
"""

import argparse
import email.utils
import hashlib
import json
import os
import socket
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
        if url.path.startswith("/files/"):
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
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="folder served under /files/")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), os.path.abspath(args.root))
    print("listening 127.0.0.1:%d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
