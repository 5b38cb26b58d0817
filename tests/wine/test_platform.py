"""The Windows platform layer under Wine, through platform_check.exe of the win64 build."""
import re
import winehelper


class PlatformLayerTest(winehelper.WineTestCase):
    def start(self, *args):
        return self.wine.start(self.wine.private_copy(self.scratch(), "platform_check.exe"), *args)

    def test_files_folders_times_profiles_desktop_and_code_page(self):
        work = self.scratch() / "work"
        work.mkdir()
        proc = self.start("checks", winehelper.to_windows_path(work))
        code, (out, err) = self.wine.wait_exit(proc, timeout=120), self.wine.output(proc)
        self.assertRegex(out, "(?m)^ok ", "no checks ran: " + err)
        self.assertEqual((re.findall("(?m)^FAIL .*$", out), code), ([], 0), out + err)
        # The CP932 name came out as the Unix name Wine gives it: UTF-8 "表.txt".
        self.assertTrue((work / "表.txt").is_file())

    def test_worker_box_waits_for_and_is_owned_by_the_progress_window(self):
        proc = self.start("worker-box")
        box = self.wine.window("作業の確認")
        self.assertEqual((box["owner"], box.texts("static")), ("進行状況の窓", ["作業中の確認です。"]))
        self.wine.click("作業の確認", box.buttons()["OK"])
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0, self.wine.output(proc))


class ResultBoxTest(winehelper.WineTestCase):
    def test_the_failure_box_lists_its_members_and_counts_the_rest(self):
        proc = self.wine.start(self.wine.private_copy(self.scratch(), "platform_check.exe"), "failed-box")
        box = self.wine.window("ファイルエラーが検出されました。")
        self.wine.screenshot("failed-details")
        text = "\n".join(box.texts("static"))
        lines = text.split("\n")
        self.assertEqual(lines[:2], ["処理失敗", ""])
        self.assertEqual(lines[2], "書類/見積書?[31m.pdf: データが壊れています")
        self.assertIn("古い形式.dat: 対応していない圧縮方式です (-lh4-)", lines)
        self.assertEqual((len(lines) - 2, lines[-1]), (10, "他 3 件"))
        self.wine.click("ファイルエラーが検出されました。", box.buttons()["OK"])
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)


class PasswordPromptTest(winehelper.WineTestCase):
    def test_the_prompt_after_a_wrong_password_says_so_and_names_the_member(self):
        member = "請求書\x1b[2J_2026年12月分の明細と添付資料の一覧表.xlsx"
        proc = self.wine.start(self.wine.private_copy(self.scratch(), "platform_check.exe"), "password", member)
        prompt = self.wine.window("パスワード")
        self.wine.screenshot("password-wrong")
        self.assertEqual(prompt["owner"], "進行状況の窓")
        self.assertEqual(prompt.control(1003)["text"], "パスワードが違います。")
        # The name is shown on one line: the control character as "?", a
        # name too long for the label shortened in the middle.
        shown = prompt.control(1002)["text"]
        self.assertNotIn("\x1b", shown)
        self.assertEqual((shown[:7], shown[-5:]), ("請求書?[2J", ".xlsx"))
        self.wine.driver("settext", "パスワード", 1001, "second try")
        self.wine.click("パスワード", 1)
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
        self.assertEqual(self.wine.output(proc)[0].strip(), "entered second try")
