#!/usr/bin/env python3
"""One real server of shared_servers.py for a program of its own (the
benchmarks), in a scratch folder; tests use the run's shared servers instead.

usage: real_servers.py KIND DIR
  KIND is nginx, tinyproxy, socks5, socks4 or scripted (see shared_servers.py);
  for nginx, DIR/www is what it serves and DIR/ca.pem the test CA.

Prints "PORT p..." once the server answers, then runs until its standard
input closes, and stops the server.
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import shared_servers  # noqa: E402


def main():
    kind, d = sys.argv[1], sys.argv[2]
    if kind not in shared_servers.KINDS:
        sys.exit(__doc__)
    os.makedirs(d, exist_ok=True)
    certs = f"{d}/certs"
    process, ports = getattr(shared_servers, kind)(d, certs)
    try:
        if kind == "nginx":
            shutil.copy(f"{certs}/ca.pem", f"{d}/ca.pem")
        print("PORT " + " ".join(map(str, ports)), flush=True)
        sys.stdin.read()
    finally:
        shared_servers.kill_group(process.pid, process=process)
        process.wait()


if __name__ == "__main__":
    main()
