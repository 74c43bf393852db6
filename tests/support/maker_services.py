#!/usr/bin/env python3
"""The maker's own services for tests, on 127.0.0.1: the dispatcher and the
metrics service, from their wire formats. Records every request it gets and
answers as the test tells it. Prints "PORT <n>" once listening and serves
until its standard input closes. With "--dump FILE", also appends every
request to the services (path, headers, body) to FILE, a JSON object a line,
for the secret check at the end of the test run.

Service paths:
  POST /dispatcher        the dispatcher: answers with the configured status
                          and body ({"settings": ..., "ttl": ...})
  GET  /update?...        the metrics service: 200 "ok" while up

Control paths (JSON bodies):
  POST /control/dispatcher  {"status": 200, "body": "...", "delay": 0.0,
                             "stall": false}
  POST /control/metrics     {"mode": "up" | "reset" | "error" | "stall"}
  GET  /control/requests?kind=dispatcher|metrics
                          [{"path", "body", "content_type", "time"}, ...]
  POST /control/clear     forgets the recorded requests
"""
import http.server
import json
import socket
import socketserver
import struct
import sys
import threading
import time

LOCK = threading.Lock()
STATE = {
    "dispatcher": {"status": 200, "body": "{}", "delay": 0.0, "stall": False},
    "metrics": {"mode": "up"},
}
REQUESTS = {"dispatcher": [], "metrics": []}
SHUTDOWN = threading.Event()
DUMP = {"file": None}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # One segment per answer, sent at once: no Nagle wait for the client's
    # delayed acknowledgement between headers and body.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def _send(self, code, body, content_type="application/json"):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _reset(self):
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                   struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True

    def _body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def _record(self, kind, body=b""):
        with LOCK:
            if DUMP["file"] is not None:
                DUMP["file"].write(json.dumps({
                    "kind": kind, "path": self.path, "headers": str(self.headers),
                    "body": body.decode("utf-8", "replace")}) + "\n")
                DUMP["file"].flush()
            REQUESTS[kind].append({
                "path": self.path,
                "body": body.decode("utf-8", "replace"),
                "content_type": self.headers.get("Content-Type", ""),
                "time": time.time(),
            })

    def do_GET(self):
        if self.path.startswith("/update?"):
            self._record("metrics")
            with LOCK:
                mode = STATE["metrics"]["mode"]
            if mode == "reset":
                self._reset()
            elif mode == "error":
                self._send(503, b"{}")
            elif mode == "stall":
                SHUTDOWN.wait(3600)
            else:
                self._send(200, b"ok", "text/plain")
        elif self.path.startswith("/control/requests"):
            kind = self.path.split("kind=")[-1]
            with LOCK:
                body = json.dumps(REQUESTS.get(kind, [])).encode()
            self._send(200, body)
        else:
            self._send(404, b"{}")

    def do_POST(self):
        body = self._body()
        if self.path == "/dispatcher":
            self._record("dispatcher", body)
            with LOCK:
                answer = dict(STATE["dispatcher"])
            if answer.get("stall"):
                SHUTDOWN.wait(3600)
                return
            if answer.get("delay"):
                time.sleep(answer["delay"])
            self._send(answer["status"], answer["body"].encode())
        elif self.path == "/control/dispatcher":
            with LOCK:
                STATE["dispatcher"] = {"status": 200, "body": "{}", "delay": 0.0,
                                       "stall": False}
                STATE["dispatcher"].update(json.loads(body))
            self._send(200, b"{}")
        elif self.path == "/control/metrics":
            with LOCK:
                STATE["metrics"].update(json.loads(body))
            self._send(200, b"{}")
        elif self.path == "/control/clear":
            with LOCK:
                for requests in REQUESTS.values():
                    requests.clear()
            self._send(200, b"{}")
        else:
            self._send(404, b"{}")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--dump":
        DUMP["file"] = open(sys.argv[2], "a", encoding="utf-8")
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        sys.stdin.read()  # until the test closes our standard input
    finally:
        SHUTDOWN.set()
        server.shutdown()


if __name__ == "__main__":
    main()
