#!/usr/bin/env python3
"""rclone's WebDAV server on 127.0.0.1 with Basic authentication.

Usage: rclone_webdav.py DIR. Serves DIR/root; the login and password come
from the environment (KORVO_DAV_USER, KORVO_DAV_PASS) so that they appear on
no command line. rclone's own output goes to DIR/rclone.log. Prints
"PORT <n>" once the server accepts connections and runs until standard input
closes.
"""
import ctypes
import os
import signal
import socket
import subprocess
import sys
import time

PR_SET_PDEATHSIG = 1


def die_with_parent():
    # rclone goes when this launcher goes, however it goes.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    # The test ends this launcher with SIGTERM: leave through the finally
    # below, which stops rclone.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    base = sys.argv[1]
    root = os.path.join(base, "root")
    os.makedirs(root, exist_ok=True)
    env = dict(os.environ)
    env["RCLONE_USER"] = os.environ["KORVO_DAV_USER"]
    env["RCLONE_PASS"] = os.environ["KORVO_DAV_PASS"]
    env["RCLONE_CONFIG"] = os.path.join(base, "rclone.conf")
    open(env["RCLONE_CONFIG"], "a").close()
    for attempt in range(5):
        port = free_port()
        with open(os.path.join(base, "rclone.log"), "ab") as log:
            child = subprocess.Popen(
                ["rclone", "serve", "webdav", "--addr", "127.0.0.1:%d" % port, root],
                env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                preexec_fn=die_with_parent)
        deadline = time.monotonic() + 20
        while child.poll() is None and time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        if child.poll() is None:
            break
    else:
        sys.exit("rclone did not start; see %s/rclone.log" % base)
    print("PORT %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        child.terminate()
        child.wait()


if __name__ == "__main__":
    main()
