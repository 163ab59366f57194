#!/usr/bin/python3
"""Loads random and mutated GIF files of under 1 KB through picdump and reports
the longest time and the largest peak memory any of them took, with the files
that went past the limits (1 s, 300 MB by default).

usage: small-gif-limits.py PICDUMP [--count N] [--seed S] [--keep DIR]
                                   [--seconds T] [--megabytes M] [--max-screen S]

The files are of three kinds, a third each:
- made: a logical screen and up to 40 frames whose sizes, places, code sizes,
  colour tables, interlacing and graphic control extensions are drawn at
  random, sizes leaning to the largest, each frame with a few bytes of data;
- mutated: small valid GIFs written by PIL (one or more frames), with bytes
  changed, sizes in the screen or a frame descriptor set large, frames
  repeated or the file cut;
- seeds: the fuzz seeds of the GIF targets under 1 KB, mutated the same way.
A file is refused (picdump exits 1 with the codec's message) or decoded; both
count, only the time and the memory matter here. With --max-screen S, sides
and places are drawn so that the screen, grown by the frames placed on it,
stays within S x S: a file whose screen, as the file's blocks are walked,
would pass it is drawn again, and a decoded picture larger than that (the walk
and the reader disagreeing on a damaged file) is counted apart, its time and
memory left out of the figures. The exit status is 1 when a file went past a
limit or picdump crashed, else 0.
"""

import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile
import threading
import time

LIMIT = 1024


def header(rng, width, height):
    flags = 0
    table = b""
    if rng.random() < 0.5:
        code = rng.randrange(8)
        flags = 0x80 | code
        table = bytes(rng.randrange(256) for _ in range(3 * (2 << code)))
    return b"GIF89a" + struct.pack("<HHBBB", width, height, flags, 0, 0) + table


MAX_SIDE = 65535


def large_side(rng, most=MAX_SIDE):
    if most >= MAX_SIDE:
        return rng.choice([rng.randrange(1, 65536), rng.randrange(1, 65536), 16384, 32768, 65535,
                           rng.randrange(1, 5000), 1])
    return rng.choice([rng.randrange(1, most + 1), rng.randrange(1, most + 1), most // 4 or 1,
                       most // 2 or 1, most, rng.randrange(1, min(most, 4999) + 1), 1])


def place(rng, side, most=MAX_SIDE):
    """A frame's left or top: 0 or anywhere, within most when it is smaller."""
    if most >= MAX_SIDE:
        return rng.choice([0, rng.randrange(65536)])
    return rng.choice([0, rng.randrange(max(most - side, 0) + 1)])


def screen_of(data):
    """The screen a reader gets from the file: the logical screen grown by
    every frame's right and bottom, walking the blocks as far as they go (a
    frame of width or height 0 takes the size of the screen so far)."""
    at = 0
    if data[:3].upper() != b"GIF":
        at = 4
    if len(data) < at + 13:
        return 0, 0
    width, height, flags = struct.unpack("<HHB", data[at + 6:at + 11])
    at += 13
    if flags & 0x80:
        at += 3 * (2 << (flags & 7))

    def sub_blocks(at):
        while at < len(data):
            n = data[at]
            at += 1 + n
            if n == 0:
                break
        return at

    while at < len(data):
        b = data[at]
        if b == 0:
            at += 1
        elif b == 0x21:
            at = sub_blocks(at + 2)
        elif b == 0x2C and at + 10 <= len(data):
            left, top, w, h, packed = struct.unpack("<HHHHB", data[at + 1:at + 10])
            if not w or not h:
                w, h = width, height
            if w and h:
                width = max(width, min(left + w, MAX_SIDE))
                height = max(height, min(top + h, MAX_SIDE))
            at += 10
            if packed & 0x80:
                at += 3 * (2 << (packed & 7))
            at = sub_blocks(at + 1)
        else:
            break
    return width, height


def made(rng, most=MAX_SIDE):
    out = bytearray(header(rng, large_side(rng, most), large_side(rng, most)))
    for _ in range(rng.randrange(1, 41)):
        if rng.random() < 0.3:
            transparent = rng.random() < 0.5
            out += bytes([0x21, 0xF9, 4, rng.randrange(4) << 2 | transparent, 0, 0, rng.randrange(256), 0])
        packed = 0
        table = b""
        if rng.random() < 0.2:
            code = rng.randrange(8)
            packed |= 0x80 | code
            table = bytes(rng.randrange(256) for _ in range(3 * (2 << code)))
        if rng.random() < 0.3:
            packed |= 0x40
        width, height = large_side(rng, most), large_side(rng, most)
        out += b"," + struct.pack("<HHHHB", place(rng, width, most), place(rng, height, most), width, height,
                                  packed)
        out += table + bytes([rng.choice([2, 8, rng.randrange(1, 12)])])
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 12)))
        if data:
            out += bytes([len(data)]) + data
        out += b"\x00"
    out += b";"
    return bytes(out[:LIMIT - 1])


PIL_SOURCES = r"""
import sys, random
from PIL import Image
rng = random.Random(int(sys.argv[2]))
for n in range(int(sys.argv[3])):
    frames = []
    for _ in range(rng.randrange(1, 4)):
        im = Image.new('P', (rng.randrange(1, 12), rng.randrange(1, 12)))
        im.putpalette([rng.randrange(256) for _ in range(48)])
        im.putdata([rng.randrange(16) for _ in range(im.size[0] * im.size[1])])
        frames.append(im)
    frames[0].save('%s/pil-%d.gif' % (sys.argv[1], n), save_all=True, append_images=frames[1:],
                   optimize=False, interlace=rng.random() < 0.3, transparency=rng.randrange(16))
"""


def pil_sources(directory, seed, count):
    script = os.path.join(directory, "sources.py")
    with open(script, "w") as f:
        f.write(PIL_SOURCES)
    subprocess.run(["/usr/bin/python3", script, directory, str(seed), str(count)], check=True)
    files = []
    for n in range(count):
        with open(os.path.join(directory, "pil-%d.gif" % n), "rb") as f:
            files.append(f.read())
    return [f for f in files if len(f) < LIMIT]


def seed_files(root):
    files = []
    for target in ("fuzz_gif", "fuzz_gif_items", "fuzz_registry"):
        folder = os.path.join(root, "fuzz", "seeds", target)
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            if data[:3] == b"GIF" and len(data) < LIMIT:
                files.append(data)
    return files


def mutated(rng, source, most=MAX_SIDE):
    data = bytearray(source)
    for _ in range(rng.randrange(1, 6)):
        kind = rng.randrange(6)
        if kind == 0 and len(data) > 10:
            # The screen's width or height.
            at = rng.choice([6, 8])
            data[at:at + 2] = struct.pack("<H", large_side(rng, most))
        elif kind == 1:
            # A frame descriptor's place or size.
            starts = [i for i in range(13, len(data) - 9) if data[i] == 0x2C]
            if starts:
                at = rng.choice(starts) + rng.choice([1, 3, 5, 7])
                data[at:at + 2] = struct.pack("<H", large_side(rng, most))
        elif kind == 2 and data:
            data[rng.randrange(len(data))] = rng.randrange(256)
        elif kind == 3 and len(data) > 13:
            # A stretch repeated (frames over again).
            a = rng.randrange(13, len(data))
            b = rng.randrange(a, min(len(data), a + 200) + 1)
            data[b:b] = data[a:b] * rng.randrange(1, 4)
        elif kind == 4 and len(data) > 13:
            del data[rng.randrange(13, len(data)):]
        else:
            at = rng.randrange(len(data) + 1)
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 8)))
    return bytes(data[:LIMIT - 1])


def keep(folder, name, data):
    """Copies a file into the --keep folder, when one was given."""
    if folder:
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("picdump")
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", help="folder to copy the files past a limit into")
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--megabytes", type=float, default=300.0)
    parser.add_argument("--max-screen", type=int, default=MAX_SIDE,
                        help="largest side of the screen the files may give (frames placed on it included)")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    with tempfile.TemporaryDirectory() as work:
        sources = pil_sources(work, args.seed, 60)
        seeds = seed_files(root)
        path = os.path.join(work, "in.gif")
        out = os.path.join(work, "out.ppm")
        worst_time = (0.0, "")
        worst_memory = (0, "")
        refused = decoded = 0
        over = []
        crashed = []
        most = min(args.max_screen, MAX_SIDE)
        seeds = [f for f in seeds if max(screen_of(f)) <= most]
        sources = [f for f in sources if max(screen_of(f)) <= most]
        beyond = 0
        for n in range(args.count):
            kind = n % 3
            while True:
                if kind == 0 or not (sources if kind == 1 else seeds):
                    data, name = made(rng, most), "made"
                elif kind == 1:
                    data, name = mutated(rng, rng.choice(sources), most), "pil"
                else:
                    data, name = mutated(rng, rng.choice(seeds), most), "seed"
                if max(screen_of(data)) <= most:
                    break
            with open(path, "wb") as f:
                f.write(data)
            start = time.monotonic()
            child = subprocess.Popen([args.picdump, path, out], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            # A load that hangs is stopped after 30 s (and counts as past the limit).
            watchdog = threading.Timer(30, child.kill)
            watchdog.start()
            _, status, usage = os.wait4(child.pid, 0)
            watchdog.cancel()
            child.returncode = status
            elapsed = time.monotonic() - start
            code = os.waitstatus_to_exitcode(status)
            peak = usage.ru_maxrss * 1024
            label = "%s-%d (%d bytes)" % (name, n, len(data))
            if code == 0 and most < MAX_SIDE:
                with open(out, "rb") as f:
                    sides = f.readline() and f.readline().split()
                if max(int(v) for v in sides) > most:
                    beyond += 1
                    os.remove(out)
                    keep(args.keep, "larger-%s-%d.gif" % (name, n), data)
                    continue
            if code == 0:
                decoded += 1
            elif code == 1:
                refused += 1
            else:
                crashed.append(label)
            if elapsed > worst_time[0]:
                worst_time = (elapsed, label)
            if peak > worst_memory[0]:
                worst_memory = (peak, label)
            if elapsed > args.seconds or peak > args.megabytes * 1e6 or code not in (0, 1):
                over.append("%s: %.2f s, %.0f MB, exit %d" % (label, elapsed, peak / 1e6, code))
                keep(args.keep, "%s-%d.gif" % (name, n), data)
            try:
                os.remove(out)
            except FileNotFoundError:
                pass
        print("%d files under %d bytes: %d refused, %d decoded, %d crashed" %
              (args.count - beyond, LIMIT, refused, decoded, len(crashed)))
        if most < MAX_SIDE:
            print("screens at most %d x %d; %d decoded larger, left out" % (most, most, beyond))
        print("longest: %.3f s (%s)" % worst_time)
        print("largest peak memory: %.1f MB (%s)" % (worst_memory[0] / 1e6, worst_memory[1]))
        for line in over:
            print("past a limit: " + line)
        return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
