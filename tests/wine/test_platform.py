"""The Windows platform layer under Wine: files, folders, times, temporary
files, the profile API, the settings path, the desktop and the code page
(platform_check.exe, built with the win64 preset), and a worker's message
box that waits for the progress window and is owned by it."""
import re
import winehelper


class PlatformLayerTest(winehelper.WineTestCase):
    def run_checks(self, *args):
        proc = self.wine.start(self.wine.private_copy(self.scratch(), "platform_check.exe"), *args)
        code = self.wine.wait_exit(proc, timeout=120)
        out, err = self.wine.output(proc)
        results = re.findall(r"^(ok|FAIL) ([^\n]*)$", out, re.M)
        self.assertTrue(results, "no checks ran: %r %r" % (out, err))
        self.assertEqual([name for outcome, name in results if outcome != "ok"], [])
        self.assertEqual(code, 0, out)

    def test_files_folders_times_profiles_program_path_desktop_and_code_page(self):
        work = self.scratch() / "work"
        work.mkdir()
        self.run_checks("files", winehelper.to_windows_path(work))
        # The CP932 name came out as the Unix name Wine gives it: UTF-8 "表.txt".
        self.assertTrue((work / "表.txt").is_file())
        self.run_checks("system")

    def test_worker_box_waits_for_and_is_owned_by_the_progress_window(self):
        proc = self.wine.start(self.wine.private_copy(self.scratch(), "platform_check.exe"), "worker-box")
        box = self.wine.window("作業の確認")
        self.assertEqual(box.data["owner"], "進行状況の窓")
        self.assertIn("作業中の確認です。", box.texts())
        self.assertIn("handed", self.wine.output(proc)[0])
        self.wine.click("作業の確認", box.buttons()["OK"])
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0, self.wine.output(proc))
