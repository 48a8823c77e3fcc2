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


def inside(folder, href):
    if not href or href.startswith("/") or ".." in href.replace("\\", "/").split("/"):
        return False
    base = os.path.realpath(folder)
    target = os.path.realpath(os.path.join(folder, href))
    return target == base or target.startswith(base + os.sep)


def expected_bodies(folder):
    with open(os.path.join(folder, "book.opf"), "rb") as f:
        package = f.read()
    bodies = [("text/xml", None, package)]
    try:
        root = ET.fromstring(package)
    except ET.ParseError:
        return bodies
    for item in root.find("manifest"):
        if not isinstance(item.tag, str):
            continue  # comments
        href = item.get("href")
        path = os.path.join(folder, href)
        body = b""
        if inside(folder, href) and os.path.isfile(path):
            with open(path, "rb") as f:
                body = f.read()
        bodies.append((item.get("media-type"), item.get("id"), body))
    return bodies


def check(folder):
    with open(os.path.join(folder, "book.oeb"), "rb") as f:
        message = email.message_from_bytes(f.read(), policy=email.policy.compat32)
    if message.get_content_type() != "multipart/related" or not message.is_multipart():
        return f"{folder}: not multipart/related"
    parts = message.get_payload()
    want = expected_bodies(folder)
    if len(parts) != len(want):
        return f"{folder}: {len(parts)} parts, expected {len(want)}"
    for i, (part, (media_type, oeb_id, body)) in enumerate(zip(parts, want)):
        if part.get_payload(decode=True) != body:
            return f"{folder}: part {i} body differs"
        if part.get("Content-Type") != media_type:
            return f"{folder}: part {i} Content-Type {part.get('Content-Type')!r}"
        if oeb_id is not None and part.get("Content-OEB-ID") != oeb_id:
            return f"{folder}: part {i} Content-OEB-ID {part.get('Content-OEB-ID')!r}"
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
