#!/usr/bin/env python3
"""Starts a real server of the field on 127.0.0.1 for the request engine's
tests, with a configuration of ours in a scratch folder.

usage: real_servers.py KIND DIR
  nginx      HTTP, then HTTPS with certificates of a test CA made here:
             good, from another CA, expired, for another host name
             (DIR/ca.pem is the test CA). Serves DIR/www, takes PUT below
             /upload/, rate-limits /slow/, redirects /redirect to
             /files/small.bin, gzips text, reads
             and drops any body PUT to /sink (204).
  tinyproxy  an HTTP proxy with Basic credentials korvo:proxy-secret
  socks5     microsocks with credentials korvo:socks-secret
  socks4     dante, without credentials (SOCKS4 has none)

Prints "PORT p..." once every port accepts connections, then runs until its
standard input closes, and stops the server.
"""
import os
import signal
import socket
import subprocess
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(port, process, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process.poll() is not None:
            sys.exit("server exited with %d" % process.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit("server did not listen on %d" % port)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(d):
    """A test CA, another CA, and server certificates signed by them."""
    def ca(name):
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
            "-subj", "/CN=korvo test %s" % name, "-keyout", f"{d}/{name}.key",
            "-out", f"{d}/{name}.pem")

    def server(name, ca_name, host, expired=False):
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + host,
            "-keyout", f"{d}/{name}.key", "-out", f"{d}/{name}.csr")
        with open(f"{d}/{name}.ext", "w") as f:
            f.write("subjectAltName=DNS:%s,IP:127.0.0.1\n" % host if host == "localhost"
                    else "subjectAltName=DNS:%s\n" % host)
        if not expired:
            run("openssl", "x509", "-req", "-in", f"{d}/{name}.csr", "-CA", f"{d}/{ca_name}.pem",
                "-CAkey", f"{d}/{ca_name}.key", "-CAcreateserial", "-days", "30",
                "-extfile", f"{d}/{name}.ext", "-out", f"{d}/{name}.crt")
            return
        # An expired one needs the ca command, which takes explicit dates.
        os.makedirs(f"{d}/ca_db", exist_ok=True)
        open(f"{d}/ca_db/index.txt", "w").close()
        with open(f"{d}/ca_db/serial", "w") as f:
            f.write("1000\n")
        with open(f"{d}/ca.cnf", "w") as f:
            f.write(f"""[ca]
default_ca = test
[test]
dir = {d}/ca_db
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir
default_md = sha256
policy = any
copy_extensions = copy
[any]
commonName = supplied
""")
        run("openssl", "ca", "-batch", "-config", f"{d}/ca.cnf", "-cert", f"{d}/{ca_name}.pem",
            "-keyfile", f"{d}/{ca_name}.key", "-startdate", "20200101000000Z",
            "-enddate", "20200201000000Z", "-extfile", f"{d}/{name}.ext",
            "-in", f"{d}/{name}.csr", "-out", f"{d}/{name}.crt")

    ca("ca")
    ca("other_ca")
    server("good", "ca", "localhost")
    server("foreign", "other_ca", "localhost")
    server("expired", "ca", "localhost", expired=True)
    server("wronghost", "ca", "wrong.example")


def nginx(d):
    make_certificates(d)
    www = f"{d}/www"
    os.makedirs(f"{www}/files", exist_ok=True)
    os.makedirs(f"{www}/upload", exist_ok=True)
    os.makedirs(f"{www}/slow", exist_ok=True)
    with open(f"{www}/files/small.bin", "wb") as f:
        f.write(bytes(range(256)) * 4)
    with open(f"{www}/files/text.txt", "w") as f:
        f.write("korvo " * 20000)
    with open(f"{www}/slow/body.bin", "wb") as f:
        f.write(b"s" * 300000)
    ports = [free_port() for _ in range(5)]
    tls = [("good", ports[1]), ("foreign", ports[2]), ("expired", ports[3]),
           ("wronghost", ports[4])]
    servers = "".join(f"""
  server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {d}/{name}.crt;
    ssl_certificate_key {d}/{name}.key;
    root {www};
  }}""" for name, port in tls)
    with open(f"{d}/nginx.conf", "w") as f:
        f.write(f"""
worker_processes 1;
daemon off;
{"user root;" if os.geteuid() == 0 else ""}
pid {d}/nginx.pid;
error_log {d}/error.log;
events {{ worker_connections 256; }}
http {{
  access_log {d}/access.log;
  client_body_temp_path {d}/body;
  proxy_temp_path {d}/proxy;
  fastcgi_temp_path {d}/fastcgi;
  uwsgi_temp_path {d}/uwsgi;
  scgi_temp_path {d}/scgi;
  default_type application/octet-stream;
  types {{ text/plain txt; }}
  gzip on;
  gzip_types text/plain;
  gzip_min_length 1;
  client_max_body_size 0;
  server {{
    listen 127.0.0.1:{ports[0]};
    root {www};
    location /upload/ {{ dav_methods PUT; create_full_put_path on; }}
    location /slow/ {{ limit_rate 100k; }}
    location = /redirect {{ return 302 /files/small.bin; }}
    location = /forbidden {{ return 403; }}
    location = /limited {{ return 429; }}
    location = /blocked {{ return 451; }}
    location = /sink {{ return 204; }}
  }}{servers}
}}
""")
    process = subprocess.Popen(["nginx", "-c", f"{d}/nginx.conf", "-p", d],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, ports


def tinyproxy(d):
    port = free_port()
    with open(f"{d}/tinyproxy.conf", "w") as f:
        f.write(f"""Port {port}
Listen 127.0.0.1
Timeout 60
LogFile "{d}/tinyproxy.log"
LogLevel Info
MaxClients 20
Allow 127.0.0.1
BasicAuth korvo proxy-secret
DisableViaHeader Yes
""")
    process = subprocess.Popen(["tinyproxy", "-d", "-c", f"{d}/tinyproxy.conf"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, [port]


def socks5(d):
    port = free_port()
    log = open(f"{d}/microsocks.log", "w")
    process = subprocess.Popen(["microsocks", "-i", "127.0.0.1", "-p", str(port),
                                "-u", "korvo", "-P", "socks-secret"],
                               stdout=log, stderr=log)
    return process, [port]


def socks4(d):
    port = free_port()
    with open(f"{d}/danted.conf", "w") as f:
        f.write(f"""logoutput: {d}/danted.log
internal: 127.0.0.1 port = {port}
external: 127.0.0.1
clientmethod: none
socksmethod: none
user.privileged: root
user.unprivileged: nobody
client pass {{ from: 127.0.0.0/8 to: 0.0.0.0/0 log: connect }}
socks pass {{ from: 127.0.0.0/8 to: 0.0.0.0/0 log: connect }}
""")
    process = subprocess.Popen(["danted", "-f", f"{d}/danted.conf", "-p", f"{d}/danted.pid"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, [port]


def main():
    kind, d = sys.argv[1], sys.argv[2]
    os.makedirs(d, exist_ok=True)
    process, ports = {"nginx": nginx, "tinyproxy": tinyproxy, "socks5": socks5,
                      "socks4": socks4}[kind](d)
    try:
        for port in ports:
            wait_for(port, process)
        print("PORT " + " ".join(map(str, ports)), flush=True)
        sys.stdin.read()
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()


if __name__ == "__main__":
    main()
