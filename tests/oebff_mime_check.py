#!/usr/bin/env python3
"""Reads the containers of the writer tests (LIBRARY_TESTS) with Python's own
MIME parser: each must be multipart/related, the package then one part per
manifest item, bodies the files' bytes (empty for a missing or outside file)."""
import email
import email.policy
import os
import pathlib
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from email.header import decode_header


def body_of(folder, href):
    base, target = os.path.realpath(folder), os.path.realpath(os.path.join(folder, href))
    inside = not href.startswith("/") and ".." not in href.split("/") and target.startswith(base + os.sep)
    return pathlib.Path(target).read_bytes() if inside and os.path.isfile(target) else b""


def check(folder):
    package = pathlib.Path(folder, "book.opf").read_bytes()
    try:
        items = [i for i in ET.fromstring(package).find("manifest") if isinstance(i.tag, str)]
    except ET.ParseError:
        items = []
    want = [("text/xml", None, package)] + [(i.get("media-type"), i.get("id"), body_of(folder, i.get("href")))
                                            for i in items]
    message = email.message_from_bytes(pathlib.Path(folder, "book.oeb").read_bytes(), policy=email.policy.compat32)
    if message.get_content_type() != "multipart/related" or not message.is_multipart():
        return f"{folder}: not multipart/related"
    parts = message.get_payload()
    if len(parts) != len(want):
        return f"{folder}: {len(parts)} parts, expected {len(want)}"
    for i, (part, (media_type, oeb_id, body)) in enumerate(zip(parts, want)):
        # Ids travel in the 8-bit code page.
        words = decode_header(part.get("Content-OEB-ID", ""))
        oeb = b"".join(w if isinstance(w, bytes) else w.encode() for w, _ in words)
        if part.get_payload(decode=True) != body or part.get("Content-Type") != media_type or \
                (oeb_id is not None and oeb != oeb_id.encode("cp1252")):
            return f"{folder}: part {i} differs"


with tempfile.TemporaryDirectory() as dump:
    run = subprocess.run([sys.argv[1], "--gtest_filter=WriterTest.*"], env={**os.environ, "VELLIX_OEB_DUMP": dump},
                         capture_output=True)
    if run.returncode != 0:
        sys.exit(run.stdout.decode(errors="replace"))
    problems = [p for p in map(check, sorted(os.path.join(dump, d) for d in os.listdir(dump))) if p]
    count = len(os.listdir(dump))
print(f"{count} containers read by Python's email parser, {len(problems)} problems")
print("".join(f"PROBLEM: {p}\n" for p in problems), end="")
sys.exit(1 if problems or not count else 0)
