#!/usr/bin/env python3
"""moto's S3 server on 127.0.0.1 with signature checking on.

Usage: moto_s3_server.py DIR. The secret key to accept comes from the
environment (KORVO_MOTO_SECRET) so that it never appears on a command line.
An IAM user with full S3 rights is made first; its access key id is written
to DIR/access_key. Prints "PORT <n>" once ready, serves until standard input
closes. Needs the machine image's Python with moto and boto3 (not
installable from the registries: a missing module is an error).
"""
import os
import socket
import sys

# Unauthenticated: the three IAM calls below; every request after them is
# checked.
os.environ["INITIAL_NO_AUTH_ACTION_COUNT"] = "3"
os.environ.setdefault("AWS_ACCESS_KEY_ID", "bootstrap")
os.environ.setdefault("AWS_SECRET_ACCESS_KEY", "bootstrap")

import boto3  # noqa: E402
from moto.core import DEFAULT_ACCOUNT_ID  # noqa: E402
from moto.iam.models import iam_backends  # noqa: E402
from moto.server import ThreadedMotoServer  # noqa: E402
from werkzeug.serving import WSGIRequestHandler  # noqa: E402

POLICY = '{"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":"s3:*","Resource":"*"}]}'


class NoDelayHandler(WSGIRequestHandler):
    # werkzeug leaves Nagle on, which holds small requests back.
    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_request(self, *args, **kwargs):
        pass


def main():
    out_dir = sys.argv[1]
    secret = os.environ["KORVO_MOTO_SECRET"]
    import werkzeug.serving
    original = werkzeug.serving.make_server

    def make_server(*args, **kwargs):
        kwargs["request_handler"] = NoDelayHandler
        return original(*args, **kwargs)

    import moto.moto_server.threaded_moto_server as threaded
    threaded.make_server = make_server
    server = ThreadedMotoServer(ip_address="127.0.0.1", port=0, verbose=False)
    server.start()
    _, port = server.get_host_and_port()
    endpoint = "http://127.0.0.1:%d" % port
    iam = boto3.client("iam", endpoint_url=endpoint, region_name="us-east-1")
    iam.create_user(UserName="korvo")
    iam.put_user_policy(UserName="korvo", PolicyName="s3", PolicyDocument=POLICY)
    key = iam.create_access_key(UserName="korvo")["AccessKey"]
    user = iam_backends[DEFAULT_ACCOUNT_ID]["global"].users["korvo"]
    for access_key in user.access_keys:
        access_key.secret_access_key = secret
    with open(os.path.join(out_dir, "access_key"), "w") as f:
        f.write(key["AccessKeyId"])
    print("PORT %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        server.stop()


if __name__ == "__main__":
    main()
