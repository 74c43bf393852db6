#!/usr/bin/env python3
"""Independent reference for the content hashes, on Python's hashlib.

usage: reference_hashes.py FILE...

Prints, for every file, one line per hash type: "TYPE VALUE FILE", where
VALUE is the upper-case hex form the library prints (for "internal", the
hash text itself).
"""
import hashlib
import sys

DROPBOX_BLOCK = 4 * 1024 * 1024


def vt(data):
    if len(data) <= 20:
        return (data + bytes(20 - len(data))).hex().upper()
    return hashlib.sha1(b"vtCloud" + data + str(len(data)).encode()).hexdigest().upper()


def dropbox(data):
    overall = hashlib.sha256()
    for start in range(0, len(data), DROPBOX_BLOCK):
        overall.update(hashlib.sha256(data[start:start + DROPBOX_BLOCK]).digest())
    return overall.hexdigest().upper()


def yandex(data):
    return (hashlib.md5(data).hexdigest() + "_" + hashlib.sha256(data).hexdigest()).upper()


def main():
    for name in sys.argv[1:]:
        with open(name, "rb") as f:
            data = f.read()
        md5 = hashlib.md5(data).hexdigest().upper()
        values = [
            ("vt", vt(data)),
            ("yandex", yandex(data)),
            ("dropbox", dropbox(data)),
            ("google", md5),
            ("internal", "internal-sha256-" + hashlib.sha256(data).hexdigest()),
            ("onedrive", hashlib.sha1(data).hexdigest().upper()),
            ("s3", md5),
        ]
        for kind, value in values:
            print(kind, value, name)


if __name__ == "__main__":
    main()
