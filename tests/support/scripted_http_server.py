#!/usr/bin/env python3
"""A scripted HTTP server on 127.0.0.1 for the request engine's tests.

It produces on demand what real servers do not: bodies that stall, resets in
the middle of a body, any status code. Prints "PORT <n>" once listening and
serves until killed.

Paths:
  GET  /bytes/N            N bytes of the pattern (i * 7 + i // 251) % 256
  GET  /status/CODE        that status with a small JSON body
  GET  /redirect/N         302 to /bytes/N
  GET  /stall              headers for 100 bytes, 10 bytes, then silence
  GET  /stall-headers      silence before any answer
  GET  /reset              headers for 1000 bytes, 100 bytes, then a reset
  GET  /headers            the request's header lines as the body
  GET  /claims-huge        200 claiming Content-Length 10^12, 5 bytes, then silence
  GET  /interim            "100 Continue" and "102 Processing" header blocks,
                           then 200 with ETag "final-etag" and body "final"
  GET  /seen/PATH           200 once PATH (with its query) was asked for, else
                           404: a test knows its request got here
  PUT|POST /echo           201, body "size=<n> md5=<hex>" of the request body

The run shares one of these; give a request that other tests must not
mistake for theirs a query of its own.
"""
import hashlib
import http.server
import socket
import socketserver
import struct
import sys
import threading
import time


def pattern(n):
    return bytes(((i * 7 + i // 251) % 256) for i in range(n))


PATTERN = pattern(1 << 20)
SEEN = set()
SEEN_LOCK = threading.Lock()


def body_of(n):
    out = bytearray()
    while len(out) < n:
        out += PATTERN[: min(len(PATTERN), n - len(out))]
    return bytes(out)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _send(self, code, body, content_type="application/octet-stream", extra=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        if code not in (204, 304):
            self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        # 204 and 304 answers carry no body.
        if self.command != "HEAD" and code not in (204, 304):
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        parts = self.path.split("?")[0].split("/")
        kind = parts[1] if len(parts) > 1 else ""
        with SEEN_LOCK:
            SEEN.add(self.path)
            seen = kind == "seen" and self.path[len("/seen"):] in SEEN
        if kind == "seen":
            self._send(200 if seen else 404, b"yes" if seen else b"no", "text/plain")
        elif kind == "bytes":
            n = int(parts[2])
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(n))
            self.end_headers()
            if self.command == "HEAD":
                return
            sent = 0
            while sent < n:
                piece = PATTERN[: min(len(PATTERN), n - sent)]
                self.wfile.write(piece)
                sent += len(piece)
        elif kind == "status":
            code = int(parts[2])
            self._send(code, b'{"status":"%d"}' % code, "application/json")
        elif kind == "redirect":
            self.send_response(302)
            self.send_header("Location", "/bytes/" + parts[2])
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif kind == "stall":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(PATTERN[:10])
            self.wfile.flush()
            time.sleep(3600)
        elif kind == "stall-headers":
            time.sleep(3600)
        elif kind == "reset":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(PATTERN[:100])
            self.wfile.flush()
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif kind == "interim":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n"
                             b"HTTP/1.1 102 Processing\r\nX-Step: interim\r\n\r\n")
            self.wfile.flush()
            time.sleep(0.2)
            self._send(200, b"final", "text/plain", [("ETag", '"final-etag"')])
        elif kind == "claims-huge":
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", "1000000000000")
            self.end_headers()
            self.wfile.write(b'{"a":')
            self.wfile.flush()
            time.sleep(3600)
        elif kind == "headers":
            self._send(200, str(self.headers).encode(), "text/plain")
        else:
            self._send(404, b"{}", "application/json")

    def _read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = bytearray()
            while True:
                size = int(self.rfile.readline().strip().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return bytes(data)
                data += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def do_PUT(self):
        if self.path.startswith("/stall"):
            # Never reads the body: the client's upload stalls.
            time.sleep(3600)
            return
        body = self._read_body()
        digest = hashlib.md5(body).hexdigest()
        self._send(201, b"size=%d md5=%s" % (len(body), digest.encode()), "text/plain")

    do_POST = do_PUT


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        sys.stdin.read()  # until the test closes our standard input
    finally:
        server.shutdown()


if __name__ == "__main__":
    main()
