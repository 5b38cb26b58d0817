#!/usr/bin/env python3
"""Seed corpora for the LZH fuzz targets, from ../shared/corpus/lzh.

    lzh_seeds.py OUTPUT_FOLDER

Writes OUTPUT_FOLDER/<target>/ for every lzh_*_fuzz target: whole archives
(cut to 64 KiB) for the header target, and the members' data with the
targets' own prefix (method byte, 3-byte output size) for the decoders.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "..", "shared", "corpus", "lzh")

FAMILIES = {
    b"-lh5-": ("lzh_static_huffman_fuzz", 0), b"-lh6-": ("lzh_static_huffman_fuzz", 1),
    b"-lh7-": ("lzh_static_huffman_fuzz", 2), b"-lh3-": ("lzh_lh3_fuzz", None),
    b"-lzs-": ("lzh_lzss_fuzz", 0), b"-lz5-": ("lzh_lzss_fuzz", 1),
    b"-lh1-": ("lzh_adaptive_fuzz", 0), b"-lh2-": ("lzh_adaptive_fuzz", 1),
}


def members(data):
    """(method, compressed data, original size) of each member, levels 0-2."""
    pos = data.find(b"-l") - 2
    while 0 <= pos and pos + 26 <= len(data) and data[pos] != 0:
        method = data[pos + 2:pos + 7]
        packed, original = struct.unpack_from("<II", data, pos + 7)
        level = data[pos + 20]
        if level > 2:
            return
        if level == 2:
            end, size = pos + 26, struct.unpack_from("<H", data, pos + 24)[0]
        else:
            end = pos + data[pos] + 2
            size = struct.unpack_from("<H", data, end - 2)[0] if level == 1 else 0
        while size > 2 and end + size <= len(data):
            if level == 1:
                packed -= size
            end += size
            size = struct.unpack_from("<H", data, end - 2)[0]
        if level == 2:
            end = max(end, pos + struct.unpack_from("<H", data, pos)[0])
        yield method, data[end:end + packed], original
        pos = end + packed


def main():
    out = sys.argv[1]
    count = 0
    for root, _, files in os.walk(CORPUS):
        for name in files:
            if name.startswith("README"):
                continue
            with open(os.path.join(root, name), "rb") as f:
                data = f.read()
            target = os.path.join(out, "lzh_header_fuzz")
            os.makedirs(target, exist_ok=True)
            with open(os.path.join(target, "%04d" % count), "wb") as f:
                f.write(data[:65536])
            count += 1
            for method, packed, original in members(data):
                if method not in FAMILIES or len(packed) > 65536:
                    continue
                family, selector = FAMILIES[method]
                prefix = b"" if selector is None else bytes([selector])
                target = os.path.join(out, family)
                os.makedirs(target, exist_ok=True)
                size = min(original, 0xFFFFF)
                with open(os.path.join(target, "%04d" % count), "wb") as f:
                    f.write(prefix + struct.pack("<I", size)[:3] + packed)
                count += 1


if __name__ == "__main__":
    main()
