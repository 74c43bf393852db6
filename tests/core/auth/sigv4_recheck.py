#!/usr/bin/env python3
"""Recomputes the SigV4 signatures of recorded requests with botocore.

Usage: sigv4_recheck.py FILE. FILE is JSON: {"access", "secret", "region",
"requests": [records of tests/support/recording_http_server.py]}. For each
request prints one line: "OK <method> <target>", or "MISMATCH ..." with the
canonical request that botocore built (never the secret). The timestamp is
the request's own x-amz-date; the signed headers are those its
authorization line names, with the values as received.
"""
import json
import re
import sys
from urllib.parse import unquote

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

AUTH = re.compile(r"^AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request, "
                  r"SignedHeaders=([^,]+), Signature=([0-9a-f]{64})$")


def check(job, record):
    headers = {}
    for name, value in record["headers"]:
        headers.setdefault(name.lower(), []).append(value)
    auth_line = headers.get("authorization", [""])
    match = AUTH.match(auth_line[0]) if len(auth_line) == 1 else None
    if match is None:
        return "no single well-formed authorization header"
    access, day, region, signed, signature = match.groups()
    if access != job["access"] or region != job["region"]:
        return "credential scope names %s/%s" % (access, region)
    timestamp = headers["x-amz-date"][0]
    if not timestamp.startswith(day):
        return "scope date %s against x-amz-date %s" % (day, timestamp)
    path, _, query = record["target"].partition("?")
    params = []
    for item in query.split("&"):
        if item:
            key, _, value = item.partition("=")
            params.append((unquote(key), unquote(value)))
    request = AWSRequest(method=record["method"], url="http://" + headers["host"][0] + path)
    request.params = params
    for name in signed.split(";"):
        values = headers.get(name)
        if values is None or len(values) != 1:
            return "signed header %s sent %d times" % (name, 0 if values is None else len(values))
        request.headers[name] = values[0]
    request.context["timestamp"] = timestamp
    signer = S3SigV4Auth(Credentials(job["access"], job["secret"]), "s3", job["region"])
    canonical = signer.canonical_request(request)
    # botocore's own list of what it signs must be ours.
    if canonical.split("\n")[-2] != signed:
        return "botocore signs %s" % canonical.split("\n")[-2]
    expected = signer.signature(signer.string_to_sign(request, canonical), request)
    if expected != signature:
        return "botocore's canonical request: " + json.dumps(canonical)
    return None


def main():
    with open(sys.argv[1]) as f:
        job = json.load(f)
    for record in job["requests"]:
        problem = check(job, record)
        label = "%s %s" % (record["method"], record["target"])
        print("OK " + label if problem is None else "MISMATCH %s: %s" % (label, problem))


if __name__ == "__main__":
    main()
