"""Compiles the help pages into quindo.chm with chmcmd (Debian fp-utils).

    build_chm.py SOURCE_DIR STAGING_DIR OUTPUT_CHM

The pages stay UTF-8 (each says so in its meta tag); the project and the
table of contents are read by the viewer in the help file's language code
page, so they are written in CP932 into the staging folder, where chmcmd
runs. A failure of chmcmd fails the build.
"""
import pathlib
import shutil
import subprocess
import sys


def main(source, staging, output):
    source, staging, output = pathlib.Path(source), pathlib.Path(staging), pathlib.Path(output)
    if staging.exists():
        shutil.rmtree(staging)
    staging.mkdir(parents=True)
    for page in source.iterdir():
        if page.suffix in (".html", ".css"):
            shutil.copy2(page, staging / page.name)
        elif page.suffix in (".hhp", ".hhc"):
            text = page.read_text(encoding="utf-8")
            (staging / page.name).write_bytes(text.replace("\n", "\r\n").encode("cp932"))
    result = subprocess.run(["chmcmd", "--no-html-scan", "quindo.hhp"], cwd=staging, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, errors="replace")
    chm = staging / "quindo.chm"
    if result.returncode != 0 or not chm.is_file() or "error" in result.stdout.lower():
        sys.stderr.write(result.stdout)
        sys.stderr.write("chmcmd could not build quindo.chm\n")
        return 1
    shutil.copy2(chm, output)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
