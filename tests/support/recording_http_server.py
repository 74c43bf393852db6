#!/usr/bin/env python3
"""A loopback HTTP server that answers every request with the request itself.

Any method, any target: 200 with a JSON body {"method", "target" (the
request target exactly as received), "headers" (name/value pairs in the
order received), "body_size"}. GET /_recorded answers with the list of the
records of every request before it. Prints "PORT <n>" once listening and
serves until its standard input closes.
"""
import http.server
import json
import socketserver
import sys
import threading

RECORDS = []
RECORDS_LOCK = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            size_total = 0
            while True:
                size = int(self.rfile.readline().strip().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return size_total
                size_total += len(self.rfile.read(size))
                self.rfile.readline()
        return len(self.rfile.read(int(self.headers.get("Content-Length", "0"))))

    def _answer(self):
        if self.headers.get("Expect", "").lower() == "100-continue":
            self.send_response_only(100)
            self.end_headers()
        size = self._read_body()
        if self.command == "GET" and self.path == "/_recorded":
            with RECORDS_LOCK:
                body = json.dumps(RECORDS).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        record = {
            "method": self.command,
            "target": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body_size": size,
        }
        with RECORDS_LOCK:
            RECORDS.append(record)
        body = json.dumps(record).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    do_GET = do_PUT = do_POST = do_DELETE = do_HEAD = do_PROPFIND = _answer

    # The interim answer is sent by _answer itself.
    def handle_expect_100(self):
        return True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        sys.stdin.read()
    finally:
        server.shutdown()


if __name__ == "__main__":
    main()
