#!/usr/bin/env python3
"""Render the first page of every book on a bookshelf to PNG.

    render_first_pages.py SHELF OUTDIR [--page N] [--size WIDTHxHEIGHT] [--depth BITS]

Each book file of SHELF is opened in the toolkit's Viewer, at the device's
screen size and grey depth (from the user's device settings, or as given),
and its page N (first by default) is saved as OUTDIR/<book file name>.png.
Books the Viewer cannot show (book folders, books made by other programs)
are named with the reason and skipped. The exit status is 1 when no book
could be drawn.
"""

import argparse
import html
import os
import struct
import sys
import zlib

import ikpubx
import vellix


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_grey_png(path, pixels, width, height, depth):
    """Pixels hold one grey level per byte at `depth` bits; the PNG holds
    them stretched to eight bits, 0 black and 255 white."""
    top = (1 << depth) - 1
    stretch = bytes(min(255, level * 255 // top) for level in range(256))
    rows = b"".join(b"\x00" + pixels[y * width:(y + 1) * width].translate(stretch) for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(rows, 6)) +
                png_chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("shelf")
    parser.add_argument("outdir")
    parser.add_argument("--page", type=int, default=1)
    parser.add_argument("--size", help="WIDTHxHEIGHT in pixels, instead of the device settings")
    parser.add_argument("--depth", type=int, help="grey bits per pixel (1, 2, 4 or 8)")
    args = parser.parse_args()

    shelf = vellix.Bookshelf()
    shelf.Load(args.shelf)
    if shelf.Books is None:
        sys.exit("render_first_pages.py: no bookshelf folder %s" % args.shelf)
    os.makedirs(args.outdir, exist_ok=True)

    viewer = ikpubx.Viewer()
    pixels = bytearray()  # one buffer, refilled for every page
    drawn = 0
    for book in shelf.Books:
        name = os.path.basename(book.Path.rstrip("/"))
        if book.Extension.lower() != "imp":
            print("%s: skipped (a book folder; convert it into a book file first)" % name)
            continue
        try:
            viewer.BookName = book.Path
            if args.size or args.depth:
                w, h, d = viewer.GetPageImage(1, pixels)  # the device's, for what is not given
                if args.size:
                    w, h = (int(n) for n in args.size.lower().split("x"))
                viewer.ChangeDeviceSettings(w, h, args.depth or d)
            width, height, depth = viewer.GetPageImage(args.page, pixels)
        except ikpubx.ComError as e:
            print("%s: skipped (%s)" % (name, e.description or e))
            continue
        target = os.path.join(args.outdir, os.path.splitext(name)[0] + ".png")
        write_grey_png(target, bytes(pixels), width, height, depth)
        title = html.unescape(book.Title) or os.path.splitext(name)[0]
        print("%s: page %d of %d of \"%s\" -> %s (%dx%d, %d-bit grey)" %
              (name, min(max(args.page, 1), viewer.NumPages), viewer.NumPages, title, target, width, height, depth))
        drawn += 1
    return 0 if drawn else 1


if __name__ == "__main__":
    sys.exit(main())
