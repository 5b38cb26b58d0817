"""The Linux program's options, exit statuses, usage errors, passwords for
scripts and the translation of every shown text."""
import ast
import os
import re
import shutil
import signal
import subprocess
import time
import unittest
import zipfile

from quindo_e2e import QUINDO, QuindoTestCase

SOURCE = os.environ.get("QUINDO_SOURCE_DIR", "")
ENGLISH = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}  # None: not set at all


class CommandLineTestCase(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.tmp = self.path("tmp")
        os.makedirs(self.tmp)
        # Nothing opens a file browser; the desktop is the default output.
        self.settings = "[ARC]\nOPENDIR=0\n[MELT]\nOPENDIR=0\n"
        self.write_settings(self.settings)
        self.extra_env = {}

    def env(self):
        env = super().env()
        env["TMPDIR"] = self.tmp
        env.pop("QUINDO_PASSWORD", None)
        for name, value in self.extra_env.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return env

    def run_in(self, extra_env, *args, **kwargs):
        self.extra_env = extra_env
        try:
            return self.run_quindo(*args, **kwargs)
        finally:
            self.extra_env = {}

    def made(self):  # everything the program may have made
        found = []
        for top in (self.desktop, self.tmp, self.path("out")):
            for base, dirs, files in os.walk(top):
                found += [os.path.join(base, n) for n in dirs + files]
        return found

    def zip_of(self, name, members, password=None):
        """An archive made by Info-ZIP zip from {name: bytes} in a folder of its own."""
        src = self.path("zip-src-" + name)
        for rel, data in members.items():
            self.write_file(os.path.join(src, rel), data)
        archive = self.path(name)
        command = ["zip", "-q", "-r"] + (["-P", password] if password else []) + [archive, "."]
        subprocess.run(command, cwd=src, check=True, env={"PATH": "/usr/bin:/bin"})
        shutil.rmtree(src)
        return archive


class UsageTest(CommandLineTestCase):
    def test_usage_errors_exit_2_and_do_nothing(self):
        text = self.write_file("notes.txt", "hello")
        archive = self.zip_of("x.zip", {"a.txt": b"a"})
        cases = [
            (["-d", "outdir", archive], "unknown option '-d'"),
            ([text, "-o"], "option '-o' needs an argument"),
            (["-y", "-n", text], "--overwrite and --no-overwrite cannot be used together"),
            (["-q"], "no path given"),
            # A mistyped path next to a real one stops everything.
            ([text, self.path("notez.txt")], "cannot access '%s': No such file or directory" % self.path("notez.txt")),
            # After "--" the switches are paths like any other.
            (["--", "/install"], "cannot access '/install'"),
            (["-p", self.path("no-such-password"), archive], "cannot read the password file"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = self.run_in(ENGLISH, *args)
                self.assertEqual(r.returncode, 2, r.stderr.decode())
                self.assertEqual(r.stdout, b"")
                self.assertIn("quindo: " + message, r.stderr.decode())
                self.assertIn("Try 'quindo --help'", r.stderr.decode())
                self.assertEqual(self.made(), [])
        with open(self.ini) as f:
            self.assertEqual(f.read(), self.settings)

class OptionsTest(CommandLineTestCase):
    def test_output_folder_for_both_jobs_without_touching_the_settings(self):
        self.write_settings(self.settings + f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={self.path('elsewhere')}\n")
        with open(self.ini) as f:
            before = f.read()
        self.write_file("photos/a.txt", "a")
        # Relative to the current folder, and made when missing. The archive,
        # written privately in the temporary folder, gets the rights of any
        # file of the user's.
        self.addCleanup(os.umask, os.umask(0o022))
        r = self.run_quindo("-o", "out/new", "photos")
        # Without a terminal, where the output went is not said.
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        archive = self.path("out", "new", "photos.zip")
        self.assertEqual(os.stat(archive).st_mode & 0o777, 0o644)
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.read("photos/a.txt"), b"a")
        r = self.run_quindo("--output=" + self.path("out", "unpacked"), archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        with open(self.path("out", "unpacked", "photos", "a.txt")) as f:
            self.assertEqual(f.read(), "a")
        self.assertEqual(os.listdir(self.desktop), [])
        self.assertFalse(os.path.exists(self.path("elsewhere")))
        # A file where the folder should be: said, and nothing is written.
        blocker = self.write_file("out/file", "x")
        r = self.run_quindo("-o", blocker, "photos")
        self.assertEqual(r.returncode, 1)
        self.assertIn("quindo: 出力先フォルダー '%s' を作成できません" % blocker, r.stderr.decode())
        with open(self.ini) as f:
            self.assertEqual(f.read(), before)

    def test_overwrite_and_no_overwrite_on_both_sides(self):
        # The settings allow overwriting; -n keeps the old archive and fails.
        source = self.write_file("doc.txt", "new text")
        archive = os.path.join(self.desktop, "doc.zip")
        with open(archive, "wb") as f:
            f.write(b"an old archive")
        r = self.run_quindo("-n", source)
        self.assertEqual(r.returncode, 1)
        self.assertIn("ファイル名重複エラー", r.stderr.decode())
        with open(archive, "rb") as f:
            self.assertEqual(f.read(), b"an old archive")
        # The settings forbid it; -y replaces, the archive and then the file it holds.
        self.write_settings("[ARC]\nOVERWRITE=0\nOPENDIR=0\n[MELT]\nOVERWRITE=0\nOPENDIR=0\n")
        extracted = self.write_file(os.path.join(self.desktop, "doc", "doc.txt"), "kept")
        for args, expected in ((["--overwrite", source], "kept"), (["-y", "--extract", archive], "new text")):
            r = self.run_quindo(*args)
            self.assertEqual(r.returncode, 0, r.stderr.decode())
            with open(extracted) as f:
                self.assertEqual(f.read(), expected, args)

    def test_ctrl_c_cancels_and_leaves_nothing(self):
        big = self.write_file("random.bin", os.urandom(96 << 20))
        p = subprocess.Popen([QUINDO, "-q", "--level", "best", big], env=self.env(), cwd=self.root,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.time() + 30
        # The temporary archive shows that the worker is writing.
        while not os.listdir(self.tmp) and p.poll() is None and time.time() < deadline:
            time.sleep(0.01)
        self.assertIsNone(p.poll(), "the job ended before it could be cancelled")
        time.sleep(0.2)
        p.send_signal(signal.SIGINT)
        _, err = p.communicate(timeout=60)
        self.assertEqual((p.returncode, err), (130, b""))
        self.assertEqual((os.listdir(self.tmp), os.listdir(self.desktop)), ([], []))


class ListAndTestTest(CommandLineTestCase):
    def test_list_shows_the_names_as_extracted_and_test_writes_nothing(self):
        good = self.path("good.zip")
        with zipfile.ZipFile(good, "w") as z:  # stored, so the test can damage the data
            z.writestr("docs/readme.txt", b"read me\n" * 100)
            z.writestr("../escape.txt", b"x")
        with open(good, "rb") as f:
            data = bytearray(f.read())
        data[data.index(b"read me")] ^= 0xFF  # the first member's data no longer matches its CRC
        damaged = self.path("damaged.zip")
        with open(damaged, "wb") as f:
            f.write(data)
        notes = self.write_file("notes.txt", "not an archive")

        r = self.run_in(ENGLISH, "-l", good)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        lines = r.stdout.decode().splitlines()
        # Size, date, method, then the name cleaned as extraction writes it.
        listed = {line.split()[-1]: line.split()[0] for line in lines if line.split()}
        self.assertEqual(listed.get("docs/readme.txt"), "800", lines)
        self.assertTrue(any(line.split()[-1] == "__/escape.txt" for line in lines), lines)
        self.assertEqual(self.made(), [])

        r = self.run_in(ENGLISH, "--test", good, damaged)
        self.assertEqual(r.returncode, 1)
        self.assertIn("good.zip: every member is intact", r.stdout.decode())
        self.assertIn("docs/readme.txt: the data is damaged", r.stderr.decode())
        self.assertEqual(self.made(), [])  # nothing was written, not even a folder
        self.assertEqual(self.run_in(ENGLISH, "-t", "-q", good).returncode, 0)
        r = self.run_in(ENGLISH, "-l", notes)
        self.assertEqual(r.returncode, 1)
        self.assertIn("is not a ZIP or LZH archive", r.stderr.decode())


class PasswordTest(CommandLineTestCase):
    def setUp(self):
        super().setUp()
        self.archive = self.zip_of("locked.zip", {"secret.txt": b"the secret", "more.txt": b"more"},
                                   password="s3cret word")
        self.extracted = os.path.join(self.desktop, "locked", "secret.txt")

    def test_the_variable_and_the_file_answer_without_a_prompt(self):
        r = self.run_in({"QUINDO_PASSWORD": "s3cret word"}, self.archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        with open(self.extracted, "rb") as f:
            self.assertEqual(f.read(), b"the secret")
        shutil.rmtree(os.path.join(self.desktop, "locked"))

        # The file's first line, without its line end; it wins over the variable.
        password_file = self.write_file("password.txt", "s3cret word\r\nsecond line\n")
        r = self.run_in({"QUINDO_PASSWORD": "wrong"}, "-p", password_file, self.archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        with open(self.extracted, "rb") as f:
            self.assertEqual(f.read(), b"the secret")

    def test_a_wrong_password_fails_without_asking_anyone(self):
        self.extra_env = {"QUINDO_PASSWORD": "wrong"}
        code, prompts, output = self.run_on_terminal([self.archive], "パスワード: ".encode())
        self.assertEqual((code, prompts), (1, 0), output)
        self.assertIn("ファイルエラーが検出されました。", output)
        self.assertIn("パスワードが違います", output)  # and the member is named
        self.assertFalse(os.path.exists(self.extracted))


class LanguageTest(CommandLineTestCase):
    @unittest.skipUnless(SOURCE, "QUINDO_SOURCE_DIR is not set")
    def test_every_shown_text_has_its_translation(self):
        literal = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
        kana_kanji = re.compile("[\u3040-\u30ff\u4e00-\u9fff]")

        def texts(code):  # the text of each C string literal
            return [ast.literal_eval('"' + piece + '"') for piece in literal.findall(code)]

        def catalogue(language):  # msgid -> msgstr
            with open(os.path.join(SOURCE, "po", language + ".po"), encoding="utf-8") as f:
                pairs = re.findall(r'^msgid ((?:".*"\n)+)msgstr ((?:".*"\n?)+)', f.read(), re.M)
            return {"".join(texts(i)): "".join(texts(s)) for i, s in pairs}

        english, japanese, missing = catalogue("en"), catalogue("ja"), []
        # The core's and the terminal front end's Japanese texts, line by
        # line, in the English catalogue (no comments, no character literals
        # such as '"').
        for folder in ("app", "zip", "lzh", "config", "frontend/terminal"):
            for base, _, names in sorted(os.walk(os.path.join(SOURCE, folder))):
                for path in [os.path.join(base, n) for n in sorted(names) if n.endswith((".cpp", ".h"))]:
                    with open(path, encoding="utf-8") as f:
                        code = re.sub(r"//[^\n]*|'(?:[^'\\\n]|\\.)'", "", f.read())
                    missing += ["en: %s: %s" % (os.path.relpath(path, SOURCE), line) for text in texts(code)
                                for line in text.split("\n") if kana_kanji.search(line) and not english.get(line)]
        # The front end's English texts in the Japanese catalogue.
        for name in ("command_line.cpp", "quindo_main.cpp"):
            with open(os.path.join(SOURCE, "frontend", "terminal", name), encoding="utf-8") as f:
                for call in re.finditer(r"\bTr(?:Format)?\(\s*((?:\"(?:[^\"\\\n]|\\.)*\"\s*)+)", f.read()):
                    text = "".join(texts(call.group(1)))
                    if not kana_kanji.search(text) and not japanese.get(text):
                        missing.append("ja: " + text.splitlines()[0])
        self.assertGreater(len(english), 50)
        self.assertEqual(missing, [])

if __name__ == "__main__":
    unittest.main()
