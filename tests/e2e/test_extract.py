"""The Linux program extracting ZIP archives: trees made by zip, Japanese
names, passwords typed on a terminal, cancel, and hostile names."""
import os
import pty
import select
import shutil
import signal
import subprocess
import time
import unittest
import zipfile

from quindo_e2e import CORPUS, QUINDO, QuindoTestCase

M2 = "ファイルエラーが検出されました。: 処理失敗"
PROMPT = "パスワード: ".encode("utf-8")


def tree(root):
    """Every file below root with its bytes, keyed by the relative path."""
    out = {}
    for base, _, files in os.walk(root):
        for name in files:
            full = os.path.join(base, name)
            with open(full, "rb") as f:
                out[os.path.relpath(full, root)] = f.read()
    return out


class ExtractTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.out = self.path("out")
        self.write_settings(f"[MELT]\nOUTPUT=2\nOUTPUT_PATH={self.out}\nOPENDIR=0\n")

    def run_detached(self, *args):
        # A new session has no controlling terminal: every prompt is cancelled.
        return subprocess.run([QUINDO, *args], env=self.env(), cwd=self.root, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=120, start_new_session=True)

    def run_on_terminal(self, args, answers):
        """Runs the program on a pseudo terminal and types one answer per
        password prompt; answers the exit status, prompt count and output."""
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.root)
            os.execve(QUINDO, [QUINDO, *args], self.env())
        output, prompts, answers = b"", 0, list(answers)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.5)
            if not ready:
                continue
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
            while output.count(PROMPT) > prompts:
                prompts += 1
                os.write(fd, (answers.pop(0) if answers else "").encode() + b"\n")
        else:
            os.kill(pid, signal.SIGKILL)
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        return os.waitstatus_to_exitcode(status), prompts, output.decode("utf-8", "replace")

    def make_tree(self):
        src = self.path("src", "project")
        files = {
            "README.txt": b"hello\n" * 50,
            "bin/tool.sh": b"#!/bin/sh\necho hi\n",
            "data/zeros.bin": bytes(300000),
            "data/random.bin": os.urandom(200000),
            "data/empty": b"",
            "deep/a/b/c/d/leaf.txt": b"leaf",
        }
        for rel, data in files.items():
            full = os.path.join(src, rel)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        return src, files

    def test_zip_tree_round_trips_with_times(self):
        src, files = self.make_tree()
        archive = self.path("project.zip")
        subprocess.run(["zip", "-qr", "-6", archive, "project"], cwd=os.path.dirname(src), check=True)
        r = self.run_quindo(archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        # One top folder: no extra folder named after the archive.
        got = tree(os.path.join(self.out, "project"))
        self.assertEqual(got, files)
        src_time = os.stat(os.path.join(src, "README.txt")).st_mtime
        out_time = os.stat(os.path.join(self.out, "project", "README.txt")).st_mtime
        self.assertLessEqual(abs(src_time - out_time), 2)

    @unittest.skipUnless(CORPUS and os.path.isdir(CORPUS), "the archive corpus is absent")
    def test_shift_jis_names_from_7zip_read_right(self):
        r = self.run_quindo(os.path.join(CORPUS, "zip-names", "7zip-old7z_cp932.zip"))
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        names = sorted(os.listdir(os.path.join(self.out, "7zip-old7z_cp932")))
        self.assertIn("こんにちは世界.txt", names)
        self.assertIn("你好世界.txt", names)
        r = self.run_quindo(os.path.join(CORPUS, "zip-names", "libarchive-filename_cp932.zip"))
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(sorted(tree(os.path.join(self.out, "表だよ"))), ["一覧表.txt", "漢字.txt"])

    @unittest.skipUnless(CORPUS and os.path.isdir(CORPUS), "the archive corpus is absent")
    def test_appended_zip_and_peer_agree(self):
        sfx = os.path.join(CORPUS, "zip-misc", "libarchive-sfx.exe")
        r = self.run_quindo(sfx)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        peer = self.path("peer")
        subprocess.run(["unzip", "-qq", "-o", sfx, "-d", peer], capture_output=True)
        self.assertEqual(tree(os.path.join(self.out, "libarchive-sfx")), tree(peer))

    def encrypted_archives(self):
        src = self.path("secret")
        os.makedirs(src)
        for i in range(5):
            with open(os.path.join(src, f"m{i}.txt"), "wb") as f:
                f.write(f"member {i}\n".encode() * (100 + i * 500))
        made = []
        with_zip = self.path("zipcrypt.zip")
        subprocess.run(["zip", "-q", "-P", "pw123", with_zip] + [f"m{i}.txt" for i in range(5)], cwd=src, check=True)
        made.append(with_zip)
        if shutil.which("7z"):
            with_7z = self.path("sevencrypt.zip")
            subprocess.run(["7z", "a", "-tzip", "-ppw123", "-mem=ZipCrypto", with_7z] + [f"m{i}.txt" for i in range(5)],
                           cwd=src, check=True, capture_output=True)
            made.append(with_7z)
        return src, made

    def test_encrypted_archives_take_one_prompt(self):
        src, archives = self.encrypted_archives()
        for archive in archives:
            code, prompts, output = self.run_on_terminal([archive], ["pw123"])
            self.assertEqual(code, 0, output)
            self.assertEqual(prompts, 1, output)
            name = os.path.splitext(os.path.basename(archive))[0]
            self.assertEqual(tree(os.path.join(self.out, name)), tree(src))

    def test_three_wrong_passwords_report_failure(self):
        _, archives = self.encrypted_archives()
        code, prompts, output = self.run_on_terminal([archives[0]], ["no", "nope", "still no"])
        self.assertNotEqual(code, 0)
        self.assertEqual(prompts, 3)
        self.assertIn(M2, output)

    def test_cancelled_prompt_leaves_later_archives_untouched(self):
        _, archives = self.encrypted_archives()
        later = self.path("later.zip")
        with zipfile.ZipFile(later, "w") as z:
            z.writestr("later.txt", "later")
        r = self.run_detached(archives[0], later)
        self.assertNotEqual(r.returncode, 0)
        self.assertNotIn(M2, r.stderr.decode())  # a cancel shows no failure box
        self.assertFalse(os.path.exists(os.path.join(self.out, "later")))

    def test_damaged_member_reports_failure(self):
        archive = self.path("damaged.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("a.txt", "a" * 10000)
            z.writestr("b.txt", "b" * 10000)
        with open(archive, "rb") as f:
            data = bytearray(f.read())
        data[14] ^= 0xFF  # the first member's CRC
        with open(archive, "wb") as f:
            f.write(bytes(data))
        r = self.run_quindo(archive)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(M2, r.stderr.decode())
        self.assertEqual(tree(os.path.join(self.out, "damaged"))["b.txt"], b"b" * 10000)

    def test_hostile_names_stay_inside(self):
        archive = self.path("hostile.zip")
        names = ["../evil.txt", "../../evil2.txt", "/tmp/quindo-e2e-abs.txt", "C:/Windows/system.ini",
                 "..\\..\\win.txt", "CON", "aux.c", "com1/x", "x/.. /y", "L" * 300, "ok/" + "M" * 200 + "/n"]
        with zipfile.ZipFile(archive, "w") as z:
            for n in names:
                z.writestr(zipfile.ZipInfo(n), "h")
        before = set(os.listdir(self.root))
        self.run_quindo(archive)
        self.assertEqual(set(os.listdir(self.root)) - before, {"out"})
        self.assertFalse(os.path.exists("/tmp/quindo-e2e-abs.txt"))
        for base, dirs, files in os.walk(self.out):
            for n in dirs + files:
                self.assertNotIn(n, ("..", "CON", "aux.c", "com1"))
        self.assertTrue(os.path.exists(os.path.join(self.out, "hostile", "__", "evil.txt")))


if __name__ == "__main__":
    unittest.main()
