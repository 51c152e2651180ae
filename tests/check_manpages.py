#!/usr/bin/env python3
"""Checks a manual page against its program's --help.

    check_manpages.py PROGRAM PAGE

Every option that `PROGRAM --help` lists must appear in PAGE (roff source), so that an
option added to the program without its documentation fails the build's tests. When groff
is there, the page must also format without warnings. Exits 1 on any failure.
"""

import os
import re
import shutil
import subprocess
import sys


def help_options(program):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    run = subprocess.run([program, "--help"], capture_output=True, text=True, env=env,
                         timeout=60)
    if run.returncode != 0:
        sys.exit("%s --help ended with %d: %s" % (program, run.returncode, run.stderr))
    options = []
    for line in run.stdout.splitlines():
        text = line.strip()
        if not text.startswith("-"):
            continue
        # The option column ends at the first gap of two spaces; its words that start with
        # '-' are the option's names ("-h, --help", "--format bmp|png").
        names = re.split(r"\s{2,}", text)[0].replace(",", " ").split()
        options += [n for n in names if re.fullmatch(r"--?[A-Za-z][\w-]*", n)]
    return options


def page_text(page):
    with open(page, encoding="utf-8") as f:
        text = f.read()
    # Roff's minus sign and font changes, so that "\fB\-\-mode\fR" reads "--mode".
    return re.sub(r"\\f[BIRP]|\\f\(..", "", text.replace("\\-", "-"))


def main(argv):
    program, page = argv[1], argv[2]
    options = help_options(program)
    failures = []
    if len(options) < 3:
        failures.append("only %r found in the output of --help" % options)
    text = page_text(page)
    for option in options:
        if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text):
            failures.append("%s is not in %s" % (option, os.path.basename(page)))
    groff = shutil.which("groff")
    if groff:
        run = subprocess.run([groff, "-man", "-ww", "-z", "-Tutf8", page],
                             capture_output=True, text=True, timeout=60)
        if run.returncode != 0 or run.stderr.strip():
            failures.append("groff: " + run.stderr.strip())
    for failure in failures:
        print("FAIL: " + failure)
    print("%s: %d options of --help checked, %d failures" %
          (os.path.basename(page), len(options), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
