"""Runs the built Linux program in a private HOME, XDG folders and settings
file, so that no test sees the user's settings or desktop."""
import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import unittest

QUINDO = os.environ.get("QUINDO_BIN", "")
CORPUS = os.environ.get("QUINDO_CORPUS", "")


class QuindoTestCase(unittest.TestCase):
    # Japanese, so that the program shows its own texts as they stand; the
    # English catalogue has tests of its own.
    locale = "ja_JP.UTF-8"

    def setUp(self):
        if not QUINDO or not os.path.exists(QUINDO):
            self.fail("QUINDO_BIN does not name the built program")
        self.root = tempfile.mkdtemp(prefix="quindo-e2e-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.home = os.path.join(self.root, "home")
        self.config = os.path.join(self.home, ".config")
        self.desktop = os.path.join(self.home, "Desktop")
        self.ini = os.path.join(self.config, "quindo", "quindo.ini")
        os.makedirs(self.desktop)
        os.makedirs(os.path.dirname(self.ini))

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write_settings(self, text):
        with open(self.ini, "w", encoding="utf-8") as f:
            f.write(text)

    def write_file(self, relative, data=b"data"):
        full = self.path(relative)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return full

    def env(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        env.update(HOME=self.home, XDG_CONFIG_HOME=self.config, LANG=self.locale, LC_ALL=self.locale)
        env["PATH"] = "/usr/bin:/bin"  # no xdg-open surprises from elsewhere
        return env

    def run_quindo(self, *args, timeout=300, **kwargs):
        return subprocess.run([QUINDO, *args], env=self.env(), cwd=self.root, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=timeout, **kwargs)

    def run_on_terminal(self, args, prompt=None, answers=()):
        """Runs the program on a pseudo terminal and types the next answer (with
        its line end, if any) at each prompt, none once they run out; answers
        the exit status, the number of prompts and the output. A program
        silent for a minute is killed."""
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.root)
            os.execve(QUINDO, [QUINDO, *args], self.env())
        output, prompts, chunk = b"", 0, b"-"
        while chunk and select.select([fd], [], [], 60)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # the program has ended
                break
            output += chunk
            while prompt and output.count(prompt) > prompts:
                if prompts < len(answers):
                    os.write(fd, answers[prompts].encode())
                prompts += 1
        else:
            if chunk:  # silent for a minute
                os.kill(pid, signal.SIGKILL)
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        return os.waitstatus_to_exitcode(status), prompts, output.decode("utf-8", "replace")
