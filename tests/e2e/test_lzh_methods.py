"""LZH archives that jlha makes with each block-Huffman window (-lh5- 8 KiB,
-lh6- 32 KiB, -lh7- 64 KiB), extracted with one thread and with several."""
import glob
import os
import random
import shutil
import subprocess
import unittest

from quindo_e2e import QuindoTestCase


class LzhMethodsTest(QuindoTestCase):
    def test_every_window_size_with_one_thread_and_several(self):
        # Real source text (matches at every distance, runs that overlap the
        # bytes they make), incompressible bytes, an empty member.
        files = {"binary.bin": random.Random(2).randbytes(40000) * 3, "sub/empty.txt": b""}
        for header in sorted(glob.glob("/usr/include/linux/*.h"))[:40] + ["/usr/include/linux/bpf.h"]:
            with open(header, "rb") as f:
                files["sub/" + os.path.basename(header)] = f.read()
        for name, data in files.items():
            self.write_file(os.path.join("src", name), data)
        out = self.path("out")
        for method, command in (("lh5", "a0o5"), ("lh6", "a1o6"), ("lh7", "a2o7")):
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
                    shutil.rmtree(os.path.join(out, method))


if __name__ == "__main__":
    unittest.main()
