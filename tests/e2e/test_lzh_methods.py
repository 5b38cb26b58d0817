"""LZH archives that jlha makes with each block-Huffman window (-lh5- 8 KiB,
-lh6- 32 KiB, -lh7- 64 KiB), members with matches reaching back across the
whole window, extracted with one thread and with several."""
import os
import random
import subprocess
import unittest

from quindo_e2e import QuindoTestCase

METHODS = (("lh5", "a0o5"), ("lh6", "a1o6"), ("lh7", "a2o7"))


def words_text(seed, size):
    # Words from a small vocabulary: repeats at every distance up to the
    # largest window, with literals between them.
    rng = random.Random(seed)
    vocabulary = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 12)))
                  for _ in range(3000)]
    out = []
    length = 0
    while length < size:
        # Now and then a run of one character or a short pattern, as in
        # indented source and ruled comments: matches that overlap the bytes
        # they make.
        if rng.random() < 0.05:
            word = rng.choice(" \t=*-") * rng.randint(1, 300)
        elif rng.random() < 0.05:
            word = rng.choice(vocabulary)[:3] * rng.randint(2, 100)
        else:
            word = rng.choice(vocabulary)
        out.append(word)
        length += len(word) + 1
    return (" ".join(out)).encode()[:size]


class LzhMethodsTest(QuindoTestCase):
    def test_every_window_size_with_one_thread_and_several(self):
        files = {
            "big.txt": words_text(1, 700 * 1024),
            "binary.bin": bytes(random.Random(2).getrandbits(8) for _ in range(40000)) * 3,
            "sub/small.txt": words_text(3, 5000),
            "sub/empty.txt": b"",
        }
        # A large header of the system: real source text, whose matches the
        # made-up text above does not all reproduce.
        for header in ("/usr/include/linux/bpf.h", "/usr/include/stdlib.h"):
            if os.path.exists(header):
                with open(header, "rb") as f:
                    files[os.path.basename(header)] = f.read()
        for name, data in files.items():
            self.write_file(os.path.join("src", name), data)
        out = self.path("out")
        for method, command in METHODS:
            archive = self.path(method + ".lzh")
            subprocess.run(["jlha", command, archive, *sorted(files)], cwd=self.path("src"), check=True,
                           capture_output=True)
            for threads in (1, 2):
                with self.subTest(method=method, threads=threads):
                    self.write_settings(f"[MELT]\nOUTPUT=2\nOUTPUT_PATH={out}\nOPENDIR=0\n"
                                        f"[OPTION]\nTHREADS={threads}\n")
                    r = self.run_quindo(archive)
                    self.assertEqual(r.returncode, 0, r.stderr.decode())
                    for name, data in files.items():
                        with open(os.path.join(out, method, name), "rb") as f:
                            self.assertEqual(f.read(), data, name)
                    subprocess.run(["rm", "-rf", os.path.join(out, method)], check=True)


if __name__ == "__main__":
    unittest.main()
