"""The Linux program on a terminal: the password prompt takes the progress
line's place while it waits, and Ctrl-C at the prompt ends the run at once."""
import os
import pty
import select
import signal
import subprocess
import time

from quindo_e2e import QUINDO, QuindoTestCase

PROMPT = "のパスワード: ".encode("utf-8")
M2 = "ファイルエラーが検出されました。".encode("utf-8")


class TerminalTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.out = self.path("out")
        self.write_settings(f"[MELT]\nOUTPUT=2\nOUTPUT_PATH={self.out}\nOPENDIR=0\n")
        self.write_file("secret/first.txt", b"first\n" * 1000)
        self.archive = self.path("locked.zip")
        subprocess.run(["zip", "-q", "-P", "pw123", self.archive, "first.txt"], cwd=self.path("secret"),
                       check=True)

    def start(self, *args):
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.root)
            os.execve(QUINDO, [QUINDO, *args], self.env())
        self.addCleanup(os.close, fd)
        return pid, fd

    def read_until(self, fd, wanted, timeout=30):
        """What the program wrote until `wanted` appeared (or it ended, or the time ran out)."""
        output, deadline = b"", time.monotonic() + timeout
        while wanted not in output and time.monotonic() < deadline:
            if not select.select([fd], [], [], 0.1)[0]:
                continue
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        return output

    def finish(self, pid, fd, timeout):
        """The exit status and the rest of the output; None when still running after `timeout` s."""
        output, deadline = b"", time.monotonic() + timeout
        while time.monotonic() < deadline:
            ended, status = os.waitpid(pid, os.WNOHANG)
            if select.select([fd], [], [], 0.05)[0]:
                try:
                    output += os.read(fd, 4096)
                except OSError:
                    pass
            if ended:
                return os.waitstatus_to_exitcode(status), output
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return None, output

    def test_the_prompt_is_on_screen_while_the_program_waits(self):
        pid, fd = self.start(self.archive)
        shown = self.read_until(fd, PROMPT)
        self.assertIn(b"first.txt " + PROMPT, shown)
        # Nothing is drawn over the prompt while the program waits for it.
        time.sleep(0.5)
        self.assertFalse(select.select([fd], [], [], 0)[0], "the prompt was drawn over")
        os.write(fd, b"pw123\n")
        code, rest = self.finish(pid, fd, 30)
        self.assertEqual(code, 0, (shown + rest).decode("utf-8", "replace"))
        self.assertNotIn(b"pw123", shown + rest)
        # The progress line is drawn again after the answer and ends at 100 %.
        self.assertIn("解凍状況".encode(), rest)
        self.assertIn(b"100%", rest)
        with open(os.path.join(self.out, "locked", "first.txt"), "rb") as f:
            self.assertEqual(f.read(), b"first\n" * 1000)

    def test_ctrl_c_at_the_prompt_cancels_within_a_second(self):
        pid, fd = self.start(self.archive)
        shown = self.read_until(fd, PROMPT)
        self.assertIn(PROMPT, shown)
        os.write(fd, b"\x03")  # Ctrl-C, as the terminal sends it
        pressed = time.monotonic()
        code, rest = self.finish(pid, fd, 5)
        self.assertIsNotNone(code, "still running 5 s after Ctrl-C")
        self.assertLess(time.monotonic() - pressed, 1.0)
        self.assertNotEqual(code, 0)
        self.assertIn("キャンセル".encode(), rest)
        self.assertNotIn(M2, rest)  # a cancel is no failure
        self.assertFalse(os.path.exists(os.path.join(self.out, "locked")))  # nothing came out, no folder is left
