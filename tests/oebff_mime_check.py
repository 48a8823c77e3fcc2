#!/usr/bin/env python3
"""Reads every container the writer tests produce with Python's own MIME
parser, which nobody here wrote: each must be a multipart/related message
whose parts are the package and one part per manifest item, in order, with
the files' bytes as bodies (empty for a missing file or one outside the
package's folder).

    oebff_mime_check.py LIBRARY_TESTS
"""
import email
import email.policy
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET


def body_of(folder, href):
    base = os.path.realpath(folder)
    target = os.path.realpath(os.path.join(folder, href))
    outside = href.startswith("/") or ".." in href.split("/") or not target.startswith(base + os.sep)
    if outside or not os.path.isfile(target):
        return b""
    with open(target, "rb") as f:
        return f.read()


def check(folder):
    with open(os.path.join(folder, "book.opf"), "rb") as f:
        package = f.read()
    want = [("text/xml", None, package)]
    try:
        items = [i for i in ET.fromstring(package).find("manifest") if isinstance(i.tag, str)]
    except ET.ParseError:
        items = []
    want += [(i.get("media-type"), i.get("id"), body_of(folder, i.get("href"))) for i in items]
    with open(os.path.join(folder, "book.oeb"), "rb") as f:
        message = email.message_from_bytes(f.read(), policy=email.policy.compat32)
    if message.get_content_type() != "multipart/related" or not message.is_multipart():
        return f"{folder}: not multipart/related"
    parts = message.get_payload()
    if len(parts) != len(want):
        return f"{folder}: {len(parts)} parts, expected {len(want)}"
    for i, (part, (media_type, oeb_id, body)) in enumerate(zip(parts, want)):
        if part.get_payload(decode=True) != body or part.get("Content-Type") != media_type or \
                (oeb_id is not None and part.get("Content-OEB-ID") != oeb_id):
            return f"{folder}: part {i} differs"
    return None


def main():
    with tempfile.TemporaryDirectory() as dump:
        run = subprocess.run([sys.argv[1], "--gtest_filter=WriterTest.*"],
                             env={**os.environ, "VELLIX_OEB_DUMP": dump}, capture_output=True)
        if run.returncode != 0:
            print(run.stdout.decode(errors="replace"))
            return 1
        folders = sorted(os.path.join(dump, d) for d in os.listdir(dump))
        problems = [p for p in map(check, folders) if p]
    print(f"{len(folders)} containers read by Python's email parser, {len(problems)} problems")
    for p in problems:
        print("PROBLEM:", p)
    return 1 if problems or not folders else 0


if __name__ == "__main__":
    sys.exit(main())
