#!/usr/bin/env python3
"""The servers the tests share, started once per test run (ctest fixtures).

usage: shared_servers.py begin RUN_DIR
       shared_servers.py start KIND RUN_DIR
       shared_servers.py stop KIND RUN_DIR
       shared_servers.py finish RUN_DIR

  begin   stops what a previous run left behind and makes RUN_DIR afresh
          (RUN_DIR/run.json tells the tests they run inside a run).
  start   starts server KIND detached, waits until it answers and writes
          RUN_DIR/servers/KIND.json: {"ports": [...], "dir": ..., "ca": ...}.
          A supervisor process owns the server; it stops it on "stop", or
          when the process that ran "start" (ctest) is gone.
  stop    stops server KIND.
  finish  stops any server still up, then looks for the secret marker in
          every log file of the run and in what the scripted services were
          sent. Removes RUN_DIR when nothing is found; otherwise names each
          file and line and keeps RUN_DIR.

Kinds:
  nginx      HTTP (port 0), then HTTPS (ports 1-4) with certificates of a test
             CA made once per build directory (ca is the test CA): good, from
             another CA, expired, for another host name. Serves DIR/www,
             takes PUT below /upload/, rate-limits /slow/, redirects, gzips
             text, drops any body PUT to /sink (204). DIR/access.log records
             the request line and the credential headers of every request.
             The sockets are bound here on port 0 and handed to nginx.
  tinyproxy  an HTTP proxy with Basic credentials korvo:KVSECRET-proxy
  socks5     microsocks with credentials korvo:KVSECRET-socks
  socks4     dante, without credentials (SOCKS4 has none)
  scripted   scripted_http_server.py (binds port 0 and says which)

tinyproxy, microsocks and dante take only a port number: a free port is
picked, and the server counts as started only once the socket listening on
that port is its own; otherwise (someone took the port in between) it is
stopped and another port is tried.
"""
import bz2
import glob
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
KINDS = ("nginx", "tinyproxy", "socks5", "socks4", "scripted")
# In every secret the fixtures and tests use; must never reach a log.
SECRET_MARKER = "KVSECRET"
LOG_RECORD_MARKER = b"\n59AA0889CDD24978BE59BDD2C2B7CB50\n"
PROXY_PASSWORD = SECRET_MARKER + "-proxy"
SOCKS_PASSWORD = SECRET_MARKER + "-socks"


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def write_json(path, value):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".tmp", "w") as f:
        json.dump(value, f)
    os.replace(path + ".tmp", path)


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def kill_group(pgid, seconds=10, process=None):
    """SIGTERM to a process group, SIGKILL when it is still there later.
    |process|, the group's leader when it is our child, is reaped on the way
    (a zombie would keep the group)."""
    try:
        os.killpg(pgid, signal.SIGTERM)
    except (ProcessLookupError, PermissionError):
        return
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process is not None:
            process.poll()
        try:
            os.killpg(pgid, 0)
        except (ProcessLookupError, PermissionError):
            return
        time.sleep(0.05)
    try:
        os.killpg(pgid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


# ---------------------------------------------------------------- certificates

def make_certificates(d):
    """A test CA, another CA, and server certificates signed by them, once
    per build directory: made in a scratch folder, then renamed into place."""
    if os.path.exists(f"{d}/done"):
        return
    scratch = f"{d}.making.{os.getpid()}"
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    s = scratch

    def ca(name):
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
            "-subj", "/CN=korvo test %s" % name, "-keyout", f"{s}/{name}.key",
            "-out", f"{s}/{name}.pem")

    def server(name, ca_name, host, expired=False):
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + host,
            "-keyout", f"{s}/{name}.key", "-out", f"{s}/{name}.csr")
        with open(f"{s}/{name}.ext", "w") as f:
            f.write("subjectAltName=DNS:%s,IP:127.0.0.1\n" % host if host == "localhost"
                    else "subjectAltName=DNS:%s\n" % host)
        if not expired:
            run("openssl", "x509", "-req", "-in", f"{s}/{name}.csr", "-CA", f"{s}/{ca_name}.pem",
                "-CAkey", f"{s}/{ca_name}.key", "-CAcreateserial", "-days", "3650",
                "-extfile", f"{s}/{name}.ext", "-out", f"{s}/{name}.crt")
            return
        # An expired one needs the ca command, which takes explicit dates.
        os.makedirs(f"{s}/ca_db", exist_ok=True)
        open(f"{s}/ca_db/index.txt", "w").close()
        with open(f"{s}/ca_db/serial", "w") as f:
            f.write("1000\n")
        with open(f"{s}/ca.cnf", "w") as f:
            f.write(f"""[ca]
default_ca = test
[test]
dir = {s}/ca_db
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir
default_md = sha256
policy = any
copy_extensions = copy
[any]
commonName = supplied
""")
        run("openssl", "ca", "-batch", "-config", f"{s}/ca.cnf", "-cert", f"{s}/{ca_name}.pem",
            "-keyfile", f"{s}/{ca_name}.key", "-startdate", "20200101000000Z",
            "-enddate", "20200201000000Z", "-extfile", f"{s}/{name}.ext",
            "-in", f"{s}/{name}.csr", "-out", f"{s}/{name}.crt")

    ca("ca")
    ca("other_ca")
    server("good", "ca", "localhost")
    server("foreign", "other_ca", "localhost")
    server("expired", "ca", "localhost", expired=True)
    server("wronghost", "ca", "wrong.example")
    open(f"{s}/done", "w").close()
    try:
        os.rename(scratch, d)
    except OSError:
        # Made by another start meanwhile.
        shutil.rmtree(scratch, ignore_errors=True)


# ---------------------------------------------------------------- servers

def listening_socket():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(256)
    s.set_inheritable(True)
    return s


def wait_http(port, process, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if process.poll() is not None:
            sys.exit("nginx exited with %d" % process.returncode)
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/files/small.bin" % port,
                                        timeout=1) as answer:
                if answer.status == 200:
                    return
        except OSError:
            time.sleep(0.05)
    sys.exit("nginx did not answer on %d" % port)


def nginx(d, certs):
    make_certificates(certs)
    www = f"{d}/www"
    for sub in ("files", "upload", "slow"):
        os.makedirs(f"{www}/{sub}", exist_ok=True)
    with open(f"{www}/files/small.bin", "wb") as f:
        f.write(bytes(range(256)) * 4)
    with open(f"{www}/files/text.txt", "w") as f:
        f.write("korvo " * 20000)
    with open(f"{www}/slow/body.bin", "wb") as f:
        f.write(b"s" * 300000)
    sockets = [listening_socket() for _ in range(5)]
    ports = [s.getsockname()[1] for s in sockets]
    tls = [("good", ports[1]), ("foreign", ports[2]), ("expired", ports[3]),
           ("wronghost", ports[4])]
    good_only = f"""
    location = /redirect-to-plain {{ return 302 http://127.0.0.1:{ports[0]}/files/small.bin; }}
    location = /redirect-same {{ return 302 /files/small.bin; }}"""
    servers = "".join(f"""
  server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {certs}/{name}.crt;
    ssl_certificate_key {certs}/{name}.key;
    root {www};{good_only if name == "good" else ""}
  }}""" for name, port in tls)
    with open(f"{d}/nginx.conf", "w") as f:
        f.write(f"""
worker_processes 1;
daemon off;
{"user root;" if os.geteuid() == 0 else ""}
pid {d}/nginx.pid;
error_log {d}/error.log;
events {{ worker_connections 512; }}
http {{
  log_format credentials '$server_port "$request" $status '
                         'authorization="$http_authorization" '
                         'x_korvo_auth="$http_x_korvo_auth" x_amz_date="$http_x_amz_date"';
  access_log {d}/access.log credentials;
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
    location = /redirect-to-tls {{ return 302 https://localhost:{ports[1]}/files/small.bin; }}
    location = /forbidden {{ return 403; }}
    location = /limited {{ return 429; }}
    location = /blocked {{ return 451; }}
    location = /sink {{ return 204; }}
  }}{servers}
}}
""")
    env = dict(os.environ)
    # nginx takes listening sockets over through this variable, matching each
    # to the listen directive of its address.
    env["NGINX"] = "".join("%d;" % s.fileno() for s in sockets)
    process = subprocess.Popen(["nginx", "-c", f"{d}/nginx.conf", "-p", d], env=env,
                               pass_fds=[s.fileno() for s in sockets],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    wait_http(ports[0], process)
    for s in sockets:
        s.close()
    return process, ports


def socket_owners(port):
    """The pids with a socket listening on 127.0.0.1:|port|."""
    inodes = set()
    for table in ("/proc/net/tcp",):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                local, state, inode = fields[1], fields[3], fields[9]
                address, hex_port = local.split(":")
                if state == "0A" and int(hex_port, 16) == port and address in (
                        "0100007F", "00000000"):
                    inodes.add("socket:[%s]" % inode)
    owners = set()
    for fd_dir in glob.glob("/proc/[0-9]*/fd"):
        try:
            for fd in os.listdir(fd_dir):
                if os.readlink(f"{fd_dir}/{fd}") in inodes:
                    owners.add(int(fd_dir.split("/")[2]))
        except OSError:
            pass
    return owners


def start_on_own_port(make, attempts=8, seconds=20):
    """Starts make(port) on a free port until the server itself listens on it."""
    for _ in range(attempts):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        process = make(port)
        deadline = time.time() + seconds
        while time.time() < deadline and process.poll() is None:
            owners = socket_owners(port)
            mine = {pid for pid in owners if pgid_of(pid) == process.pid}
            if mine:
                return process, [port]
            if owners:
                break  # taken by someone else
            time.sleep(0.05)
        kill_group(process.pid, process=process)
        process.wait()
    sys.exit("no port of its own after %d attempts" % attempts)


def pgid_of(pid):
    try:
        return os.getpgid(pid)
    except OSError:
        return -1


def tinyproxy(d, certs):
    def make(port):
        with open(f"{d}/tinyproxy.conf", "w") as f:
            f.write(f"""Port {port}
Listen 127.0.0.1
Timeout 60
LogFile "{d}/tinyproxy.log"
LogLevel Info
MaxClients 64
Allow 127.0.0.1
BasicAuth korvo {PROXY_PASSWORD}
DisableViaHeader Yes
""")
        return subprocess.Popen(["tinyproxy", "-d", "-c", f"{d}/tinyproxy.conf"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
    return start_on_own_port(make)


def socks5(d, certs):
    def make(port):
        log = open(f"{d}/microsocks.log", "a")
        return subprocess.Popen(["microsocks", "-i", "127.0.0.1", "-p", str(port),
                                 "-u", "korvo", "-P", SOCKS_PASSWORD],
                                stdout=log, stderr=log, start_new_session=True)
    return start_on_own_port(make)


def socks4(d, certs):
    def make(port):
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
        return subprocess.Popen(["danted", "-f", f"{d}/danted.conf", "-p", f"{d}/danted.pid"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
    return start_on_own_port(make)


def scripted(d, certs):
    process = subprocess.Popen(["python3", f"{HERE}/scripted_http_server.py"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=open(f"{d}/scripted.log", "w"), start_new_session=True)
    line = process.stdout.readline().decode()
    if not line.startswith("PORT "):
        sys.exit("the scripted server did not start")
    return process, [int(p) for p in line.split()[1:]]


# ---------------------------------------------------------------- commands

def state_file(run_dir, kind):
    return f"{run_dir}/servers/{kind}.json"


def supervise(kind, run_dir, watched):
    """Runs server |kind| until SIGTERM or until process |watched| is gone."""
    d = f"{run_dir}/servers/{kind}"
    os.makedirs(d, exist_ok=True)
    certs = os.path.join(os.path.dirname(os.path.abspath(run_dir)), "test-certs")
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(1))
    process, ports = globals()[kind](d, certs)
    try:
        write_json(state_file(run_dir, kind), {
            "kind": kind, "ports": ports, "dir": d, "ca": f"{certs}/ca.pem",
            "pid": os.getpid(), "pgid": process.pid})
        while not stopping and alive(watched) and process.poll() is None:
            time.sleep(0.2)
    finally:
        kill_group(process.pid, process=process)
        process.wait()


def begin(run_dir):
    for path in glob.glob(f"{run_dir}/servers/*.json"):
        stop_from(path)
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(f"{run_dir}/servers")
    os.makedirs(f"{run_dir}/homes")
    os.makedirs(f"{run_dir}/maker")
    write_json(f"{run_dir}/run.json", {"started": time.time()})
    print("run directory", run_dir)


def start(kind, run_dir):
    if kind not in KINDS:
        sys.exit("unknown server kind %r" % kind)
    if not os.path.exists(f"{run_dir}/run.json"):
        begin(run_dir)
    path = state_file(run_dir, kind)
    if os.path.exists(path):
        stop_from(path)
    os.makedirs(f"{run_dir}/servers", exist_ok=True)
    log_path = f"{run_dir}/servers/{kind}.supervisor.log"
    with open(log_path, "w") as log:
        supervisor = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "supervise", kind, run_dir,
             str(os.getppid())],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    deadline = time.time() + 120
    while time.time() < deadline:
        if os.path.exists(path):
            with open(path) as f:
                print(kind, json.load(f)["ports"])
            return
        if supervisor.poll() is not None:
            break
        time.sleep(0.05)
    kill_group(supervisor.pid, process=supervisor)
    with open(log_path) as f:
        sys.stderr.write(f.read())
    sys.exit("%s did not start" % kind)


def stop_from(path):
    try:
        with open(path) as f:
            state = json.load(f)
    except (OSError, ValueError):
        return
    try:
        os.kill(state["pid"], signal.SIGTERM)
    except (ProcessLookupError, PermissionError):
        pass
    deadline = time.time() + 15
    while time.time() < deadline and alive(state["pid"]):
        time.sleep(0.05)
    kill_group(state["pgid"], seconds=2)
    os.remove(path)


def stop(kind, run_dir):
    stop_from(state_file(run_dir, kind))


def log_records(data):
    """The decompressed text of a daily log file: marker, bzip2 stream, ..."""
    text = []
    for record in data.split(LOG_RECORD_MARKER)[1:]:
        if not record:
            continue
        try:
            text.append(bz2.decompress(record).decode("utf-8", "replace"))
        except (OSError, ValueError, EOFError):
            text.append("<record that does not decompress>\n")
    return "".join(text)


def findings(run_dir):
    found, scanned = [], 0
    for root, _, files in os.walk(f"{run_dir}/homes"):
        for name in sorted(files):
            path = os.path.join(root, name)
            if not name.endswith(".log"):
                continue
            with open(path, "rb") as f:
                data = f.read()
            text = (log_records(data) if data.startswith(LOG_RECORD_MARKER)
                    else data.decode("utf-8", "replace"))
            scanned += 1
            for number, line in enumerate(text.splitlines(), 1):
                if SECRET_MARKER in line:
                    found.append("%s:%d: %s" % (path, number, line.strip()[:300]))
    for path in sorted(glob.glob(f"{run_dir}/maker/*.jsonl")):
        scanned += 1
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                if SECRET_MARKER in line:
                    found.append("%s:%d: %s" % (path, number, line.strip()[:300]))
    return found, scanned


def finish(run_dir):
    for path in glob.glob(f"{run_dir}/servers/*.json"):
        stop_from(path)
    found, scanned = findings(run_dir)
    if found:
        print("the secret marker %s is in what the run wrote:" % SECRET_MARKER)
        for line in found:
            # The line is the evidence; the marker part of it is what we look
            # for, the rest of the secret stays out of the output.
            print("  " + line.split(SECRET_MARKER)[0] + SECRET_MARKER + "...")
        print("kept", run_dir)
        sys.exit(1)
    print("no secret in %d files; removing %s" % (scanned, run_dir))
    shutil.rmtree(run_dir, ignore_errors=True)


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "begin" and len(sys.argv) == 3:
        begin(sys.argv[2])
    elif command == "start" and len(sys.argv) == 4:
        start(sys.argv[2], sys.argv[3])
    elif command == "stop" and len(sys.argv) == 4:
        stop(sys.argv[2], sys.argv[3])
    elif command == "finish" and len(sys.argv) == 3:
        finish(sys.argv[2])
    elif command == "supervise" and len(sys.argv) == 5:
        supervise(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
