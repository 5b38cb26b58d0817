#!/usr/bin/env python3
"""Seeds for the Deflate64 and WinZip AES fuzz targets, made with 7z.

    modern_zip_seeds.py OUTPUT_FOLDER inflate64|winzip_aes

inflate64: small Deflate64 archives of text, a repeated block 40 KiB long
and a mix with incompressible bytes. winzip_aes: the members of AES archives
(every key size, stored and deflated) in the target's layout: extra length,
extra field, password length, password, member data.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile

PASSWORD = b"seed"


def samples():
    rng = random.Random(7)
    noise = bytes(rng.randrange(256) for _ in range(40960))
    text = "".join(f"line {i * 7919 % 1000}\n" for i in range(3000)).encode()
    return {"text.txt": text, "far.bin": noise * 2 + text[:5000], "tiny.txt": b"abcabcabcabcabcabc\n" * 4}


def seven_zip(folder, arguments, names):
    archive = os.path.join(folder, "out.zip")
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(["7z", "a", "-tzip", archive] + arguments + names, cwd=folder,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(archive, "rb") as f:
        return f.read()


def local_members(archive):
    at = archive.find(b"PK\x03\x04")
    while at >= 0 and at + 30 <= len(archive):
        flags, method = struct.unpack_from("<HH", archive, at + 6)
        size, = struct.unpack_from("<I", archive, at + 18)
        name_length, extra_length = struct.unpack_from("<HH", archive, at + 26)
        extra_at = at + 30 + name_length
        data_at = extra_at + extra_length
        yield method, archive[extra_at:data_at], archive[data_at:data_at + size]
        at = archive.find(b"PK\x03\x04", data_at + size)


def main():
    out, target = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as folder:
        files = samples()
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        if target == "inflate64":
            for level in ("1", "9"):
                for name in files:
                    archive = seven_zip(folder, ["-mm=Deflate64", "-mx=" + level], [name])
                    with open(os.path.join(out, f"{name}-{level}.zip"), "wb") as f:
                        f.write(archive)
        else:
            for strength in ("AES128", "AES192", "AES256"):
                archive = seven_zip(folder, ["-mem=" + strength, "-p" + PASSWORD.decode()], ["text.txt", "tiny.txt"])
                for i, (method, extra, data) in enumerate(local_members(archive)):
                    seed = struct.pack("<H", len(extra)) + extra + bytes([len(PASSWORD)]) + PASSWORD + data
                    with open(os.path.join(out, f"{strength}-{i}"), "wb") as f:
                        f.write(seed)


if __name__ == "__main__":
    main()
