#!/usr/bin/python3
"""End-to-end tests of pelorin-convert, run as a separate process.

Usage: cli_test.py PELORIN_CONVERT PALETTES_DIR
The BMP files it writes are read back with PIL, a reader independent of ours.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from fitsfiles import card, image, save

CONVERT = None
PALETTES = None

try:
    from PIL import Image
except ImportError:  # pragma: no cover - PIL is a test dependency
    Image = None


def fits(path, cols, rows, values, bitpix=16, extra=(), planes=None):
    """A FITS file whose file rows (bottom row first) hold `values` row by row, plane by
    plane when `planes` is given."""
    save(path, image(bitpix, cols, rows, values, extra, planes))


def not_fits(path):
    save(path, b"SIMPLE  = F".ljust(2880, b" "))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def contents(folder):
    """{name: bytes} of the files in `folder`."""
    return {n: read(os.path.join(folder, n)) for n in sorted(os.listdir(folder))}


def run(*args, cwd=None):
    return subprocess.run([CONVERT, *args], cwd=cwd, capture_output=True, timeout=120)


class Converter(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def folder(self, *parts):
        os.mkdir(self.path(*parts))
        return self.path(*parts)

    def test_default_destination_is_the_files_folder_and_pixels_are_the_rendering(self):
        # A 4 x 2 ramp 0..7: in "data" mode with the grey ramp and the linear table, value v
        # gets level trunc(v * 255 / 7), drawn as grey with the lowest level as index 1.
        fits(self.path("ramp.fit"), 4, 2, list(range(8)))
        r = run("--palettes", PALETTES, "--mode", "data", "--quiet", self.path("ramp.fit"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, b"")
        im = Image.open(self.path("ramp.bmp"))
        self.assertEqual(im.size, (4, 2))
        self.assertIn(im.mode, ("P", "L"))  # PIL calls a grey palette "L"
        grey = im.convert("RGB")
        # File row 0 (values 0..3) is the bottom row of the picture.
        expected_bottom = [max(1, v * 255 // 7) for v in range(4)]
        expected_top = [v * 255 // 7 for v in range(4, 8)]
        self.assertEqual([grey.getpixel((x, 1))[0] for x in range(4)], expected_bottom)
        self.assertEqual([grey.getpixel((x, 0))[0] for x in range(4)], expected_top)

    def test_options_caption_24_bits_and_relative_destination(self):
        fits(self.path("a.fit"), 3, 3, [v * 100 for v in range(9)])
        self.folder("out")
        r = run("--palettes", PALETTES, "--dest", "out", "--bmp24", "--lut", "heat",
                "--caption", "--quiet", "a.fit", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode("utf-8"), "a.fit  3x3  16 bits\n")
        im = Image.open(self.path("out", "a.bmp"))
        self.assertEqual(im.mode, "RGB")
        # The heat palette's brightest entry is not grey.
        top = im.getpixel((2, 0))
        self.assertNotEqual(top[0], top[2])

    def test_rejected_file_is_reported_and_the_batch_goes_on(self):
        fits(self.path("a.fit"), 2, 2, [1, 2, 3, 4])
        not_fits(self.path("b.fit"))
        fits(self.path("c.fit"), 2, 2, [5, 6, 7, 8])
        r = run("--palettes", PALETTES, "--caption", *(self.path(n) for n in ("a.fit", "b.fit", "c.fit")))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode("utf-8").splitlines()
        self.assertEqual(lines[1], 'Format non supporté.Mot clé "SIMPLE = T" manquant')
        self.assertEqual(Image.open(self.path("b.bmp")).size, (1, 1))
        self.assertTrue(os.path.exists(self.path("c.bmp")))
        err = r.stderr.decode("utf-8")
        self.assertIn("3 of 3 files handled, 1 not converted", err)
        self.assertIn("b.fit: Format non supporté.", err)

    def test_error_ends_the_batch_with_status_1_and_keeps_written_files(self):
        fits(self.path("a.fit"), 2, 2, [1, 2, 3, 4])
        fits(self.path("c.fit"), 2, 2, [1, 2, 3, 4])
        r = run("--palettes", PALETTES, "--quiet", self.path("a.fit"), self.path("missing.fit"),
                self.path("c.fit"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Invalid file name - missing.fit", r.stderr)
        self.assertTrue(os.path.exists(self.path("a.bmp")))
        self.assertFalse(os.path.exists(self.path("c.bmp")))
        r = run("--palettes", PALETTES, "--quiet", "--dest", self.path("nowhere"), self.path("a.fit"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Cannot create file", r.stderr)
        self.assertIn(b"a.bmp (No such file or directory)", r.stderr)

    def test_keep_going_reports_the_file_and_converts_the_rest(self):
        fits(self.path("a.fit"), 2, 2, [1, 2, 3, 4])
        fits(self.path("bad.fit"), 2, 2, [1, 2, 3, 4], extra=[("BZERO", "'garbage'")])
        fits(self.path("c.fit"), 2, 2, [1, 2, 3, 4])
        files = [self.path(n) for n in ("a.fit", "bad.fit", "c.fit")]
        r = run("--palettes", PALETTES, "--keep-going", *files)
        self.assertEqual(r.returncode, 1)
        self.assertTrue(os.path.exists(self.path("c.bmp")))
        err = r.stderr.decode("utf-8")
        self.assertIn("2 of 3 files handled, 1 not converted.", err)
        self.assertIn("  bad.fit: ''garbage'' is not a valid floating point value", err)
        os.remove(self.path("c.bmp"))
        self.assertEqual(run("--palettes", PALETTES, "--quiet", *files).returncode, 1)
        self.assertFalse(os.path.exists(self.path("c.bmp")))  # without it, the batch ends there

    def test_damaged_and_failed_files_leave_the_next_one_alone_for_every_jobs(self):
        # A file cut short, one refused after its header set a scale and a size, one that
        # ends its load with an error, then a small good file.
        save(self.path("cut.fit"), image(-32, 300, 200, list(range(60000)))[:2880 + 5000])
        fits(self.path("refused.fit"), 8, 200, [0] * 1600,
             extra=[("BZERO", "32768"), ("BSCALE", "2"), ("BITPIX", "12")])
        fits(self.path("error.fit"), 8, 200, [0] * 1600, extra=[("BZERO", "'x'")])
        fits(self.path("small.fit"), 10, 10, list(range(100)), bitpix=8)
        alone = self.folder("alone")
        r = run("--palettes", PALETTES, "--caption", "--dest", alone, self.path("small.fit"))
        self.assertEqual(r.returncode, 0, r.stderr)
        small = r.stdout.decode("utf-8").splitlines()[0]
        self.assertEqual(small, "small.fit  10x10  8 bits")
        names = [self.path(n) for n in ("cut.fit", "refused.fit", "error.fit", "small.fit")]
        for jobs in ("1", "2", "4"):
            out = self.folder("out" + jobs)
            r = run("--palettes", PALETTES, "--caption", "--keep-going", "--jobs", jobs,
                    "--dest", out, *names)
            self.assertEqual(r.returncode, 1, r.stderr)
            lines = r.stdout.decode("utf-8").splitlines()
            self.assertEqual(lines[0], "cut.fit  300x200  -32 bits (tronqué : 235000 octets manquants)")
            self.assertEqual(lines[-1], small, jobs)
            self.assertIn("cut.fit: tronqué : 235000 octets manquants", r.stderr.decode("utf-8"))
            self.assertEqual(read(os.path.join(out, "small.bmp")),
                             read(os.path.join(alone, "small.bmp")), jobs)
        # Damage alone ends with its own status, 3, documented in --help.
        r = run("--palettes", PALETTES, "--quiet", "--dest", self.path("out1"), names[0], names[3])
        self.assertEqual(r.returncode, 3, r.stderr)
        self.assertIn(b"3 when every file was handled but some were damaged", run("--help").stdout)

    def test_no_output_replaces_another_file_of_the_command_line(self):
        fits(self.path("photo.fit"), 2, 2, [1, 2, 3, 4])
        self.assertEqual(run("--palettes", PALETTES, "--bmp24", self.path("photo.fit")).returncode, 0)
        before = read(self.path("photo.bmp"))
        r = run("--palettes", PALETTES, self.path("photo.bmp"), self.path("photo.fit"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(read(self.path("photo.bmp")), before)
        self.assertIn("photo.bmp est un fichier source de ce lot.", r.stderr.decode("utf-8"))

    def test_control_characters_are_escaped_and_bad_threshold_is_usage(self):
        name = "a\x1b[2Jb\nc.fit"
        fits(self.path(name), 2, 2, [1, 2, 3, 4], extra=[card("OBJECT", "'x\x07y'")])
        r = run("--palettes", PALETTES, "--caption", "--quiet", self.path(name))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith(b"a\\x1b[2Jb\\nc.fit  2x2"), r.stdout)
        r = run("--header", self.path(name))
        self.assertIn(b"'x\\x07y'", r.stdout)
        self.assertNotIn(b"\x07", r.stdout)
        r = run("--threshold", "abc", "--filter", "Gauss", self.path(name))
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"--threshold takes a number", r.stderr)

    def test_plane_and_fixe_carry_over(self):
        fits(self.path("cube.fit"), 2, 1, [10, 20, 30, 40, 50, 60], bitpix=8, planes=3)
        r = run("--palettes", PALETTES, "--plane", "9", "--mode", "data", "--caption", "--quiet",
                self.path("cube.fit"))
        self.assertEqual(r.returncode, 0, r.stderr)
        # Plane 9 is read as the last plane: values 50 and 60 -> levels 0 (index 1) and 255.
        im = Image.open(self.path("cube.bmp")).convert("RGB")
        self.assertEqual(im.getpixel((0, 0)), (1, 1, 1))
        self.assertEqual(im.getpixel((1, 0)), (255, 255, 255))
        # --levels: a line per image read, its name and thresholds by tabs; none for a file
        # refused.
        fits(self.path("b.fit"), 2, 1, [-5, 12345])
        save(self.path("nosimple.fit"), b" " * 2880)
        r = run("--palettes", PALETTES, "--plane", "9", "--mode", "data", "--levels", "--quiet",
                "--keep-going", *(self.path(n) for n in ("cube.fit", "nosimple.fit", "b.fit")))
        self.assertEqual(r.stdout.decode().splitlines(),
                         ["cube.fit\t50.000\t60.000", "b.fit\t-5.000\t12345.000"])

    def test_jobs_write_and_report_what_one_job_does(self):
        # Files whose load depends on the one before: a plane the next cube may not have, and
        # the thresholds "fixe" keeps; a rejected file in between.
        names = []
        for i in range(9):
            name = self.path(f"f{i}.fit")
            if i % 3 == 0:
                fits(name, 2, 1, [i, 20, 30, 40 + i, 50, 60], bitpix=8, planes=3)
            elif i == 4:
                not_fits(name)
            else:
                fits(name, 3, 2, [i * 7 + v * (i + 1) for v in range(6)])
            names.append(name)
        for options in (["--plane", "2", "--mode", "data"], ["--mode", "fixe", "--filter", "Gauss"]):
            results = []
            for jobs in ("1", "3"):
                out = self.folder("out" + jobs + options[1])
                r = run("--palettes", PALETTES, "--caption", "--jobs", jobs, "--dest", out, *options,
                        *names)
                results.append((r.returncode, r.stdout, r.stderr, contents(out)))
            self.assertEqual(len(results[0][3]), 9)
            self.assertEqual(results[0], results[1], options)

    def test_jobs_error_stops_at_the_same_file_and_writes_nothing_after_it(self):
        names = []
        for i in range(12):
            names.append(self.path(f"f{i:02d}.fit"))
            if i != 4:
                fits(names[-1], 64, 64, [(v * (i + 3)) % 30000 for v in range(64 * 64)])
        # An output of a later file already there stays as it was.
        save(self.path("f07.bmp"), b"older")
        r = run("--palettes", PALETTES, "--caption", "--jobs", "3", *names)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(len(r.stdout.decode().splitlines()), 4)
        self.assertIn(b"f04.fit: Invalid file name - f04.fit", r.stderr)
        self.assertIn(b"4 of 12 files handled.", r.stderr)
        written = sorted(n for n in os.listdir(self.dir) if n.endswith(".bmp"))
        self.assertEqual(written, ["f00.bmp", "f01.bmp", "f02.bmp", "f03.bmp", "f07.bmp"])
        self.assertEqual(read(self.path("f07.bmp")), b"older")
        self.assertEqual([n for n in os.listdir(self.dir) if n.startswith(".")], [])

    def test_a_second_source_of_one_output_name_is_not_converted(self):
        for folder in ("a", "b", "out"):
            self.folder(folder)
        fits(self.path("a", "m51.fit"), 3, 2, list(range(6)))
        fits(self.path("b", "m51.fit"), 2, 2, [4, 3, 2, 1])  # two folders
        fits(self.path("b", "m51.fits"), 4, 1, [1, 2, 3, 4])  # two extensions
        fits(self.path("b", "n.fit"), 2, 1, [1, 2])
        files = ["a/m51.fit", "b/m51.fit", "b/m51.fits", "b/n.fit"]
        out = self.path("out", "m51.bmp")
        r = run("--palettes", PALETTES, "--dest", "out", *files, cwd=self.dir)
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"Non enregistré : {out} vient déjà de a/m51.fit.", r.stderr.decode())
        self.assertFalse(os.path.exists(self.path("out", "n.bmp")))
        r = run("--palettes", PALETTES, "--keep-going", "--dest", "out", *files, cwd=self.dir)
        self.assertEqual(r.returncode, 1)
        err = r.stderr.decode()
        self.assertIn("2 of 4 files handled, 2 not converted.", err)
        self.assertIn(f"  m51.fits: Non enregistré : {out} vient déjà de a/m51.fit.", err)
        with Image.open(out) as im:
            self.assertEqual(im.size, (3, 2))
        self.assertTrue(os.path.exists(self.path("out", "n.bmp")))

    def test_every_file_reads_the_plane_asked(self):
        fits(self.path("flat.fits"), 2, 2, [5, 5, 5, 5])
        fits(self.path("cube3.fits"), 3, 1, [1, 2, 10, 30, 20, 25, 50, 90, 60], planes=3)
        outputs = {}
        for plane, files in (("1", ["cube3.fits"]), ("3", ["cube3.fits"]),
                             ("3", ["flat.fits", "cube3.fits"])):
            out = self.folder(f"out{plane}{len(files)}")
            r = run("--palettes", PALETTES, "--mode", "data", "--plane", plane, "--dest", out,
                    *(self.path(f) for f in files))
            self.assertEqual(r.returncode, 0, r.stderr)
            outputs[plane + str(len(files))] = read(os.path.join(out, "cube3.bmp"))
        self.assertEqual(outputs["32"], outputs["31"])
        self.assertNotEqual(outputs["32"], outputs["11"])

    def test_fixe_keeps_the_first_images_thresholds_and_reads_each_file_once(self):
        # (That --jobs writes what one job does, fixe included, is tested above.)
        names = []
        for i in range(7):
            names.append(self.path(f"f{i}.fit"))
            if i == 2:
                not_fits(names[-1])
            else:
                fits(names[-1], 10, 10, [v + 100 * (i % 2) for v in range(100)])
        strace = shutil.which("strace")
        for jobs in ("1", "3"):
            args = ["--palettes", PALETTES, "--mode", "fixe", "--caption", "--jobs", jobs,
                    "--dest", self.folder("out" + jobs), *names]
            if not strace:
                self.assertEqual(run(*args).returncode, 0)
                continue
            log = self.path(f"opens{jobs}.log")
            r = subprocess.run([strace, "-f", "-qq", "-e", "trace=openat,open", "-o", log,
                                CONVERT, *args], capture_output=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(log) as f:
                opened = re.findall(r'open(?:at)?\(.*?"([^"]*f\d\.fit)"', f.read())
            # Each file once: a look at its header for the memory budget, the viewer's look
            # at what it is, the reader's open (the reader reads through that descriptor).
            self.assertEqual({n: opened.count(n) for n in names}, dict.fromkeys(names, 3), jobs)
        # Every image keeps f0's thresholds 0..99: f1's values 100..199 are all at the top.
        with Image.open(self.path("out3", "f1.bmp")) as im:
            self.assertEqual(set(im.convert("L").getdata()), {255})

    def test_header_listing_in_utf8(self):
        fits(self.path("h.fit"), 1, 1, [0], extra=[card("OBSERVER", "'Fran\xe7ois'")])
        r = run("--header", self.path("h.fit"))
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode("utf-8").split("\n")
        self.assertTrue(lines[0].startswith("SIMPLE  ="))
        self.assertEqual(len(lines[0]), 80)
        self.assertIn("'François'", lines[5])
        self.assertEqual(len(lines) - 1, 36)  # one block of 36 cards
        save(self.path("bad.fit"), b"BITPIX  = 8".ljust(2880, b" "))
        r = run("--header", self.path("bad.fit"))
        self.assertEqual(r.returncode, 1)
        self.assertIn('Mot clé "SIMPLE = T" manquant', r.stderr.decode("utf-8"))
        save(self.path("p.bmp"), b"BM")
        r = run("--header", self.path("p.bmp"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"not a FITS or PIC file", r.stderr)

    def test_png_holds_the_pixels_of_the_bmp(self):
        fits(self.path("m51.fit"), 5, 3, [v * 37 % 200 for v in range(15)])
        for extra in ((), ("--bmp24",)):
            for fmt in ("bmp", "png"):
                r = run("--palettes", PALETTES, "--lut", "heat", "--quiet", "--format", fmt,
                        *extra, self.path("m51.fit"))
                self.assertEqual(r.returncode, 0, r.stderr)
            bmp, png = Image.open(self.path("m51.bmp")), Image.open(self.path("m51.png"))
            self.assertEqual(png.format, "PNG")
            self.assertEqual(png.mode, "RGB" if extra else "P")
            self.assertEqual(list(png.convert("RGB").getdata()),
                             list(bmp.convert("RGB").getdata()))
        # A PNG source is not written over by its own rendering.
        before = read(self.path("m51.png"))
        r = run("--palettes", PALETTES, "--format", "png", self.path("m51.png"))
        self.assertIn(b"fichier source", r.stdout + r.stderr)
        self.assertEqual(read(self.path("m51.png")), before)
        self.assertEqual(run("--format", "gif", self.path("m51.fit")).returncode, 2)

    def test_usage(self):
        r = run()
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"Usage:", r.stderr)
        self.assertEqual(run("--mode", "bogus", "x.fit").returncode, 2)
        self.assertEqual(run("--filter", "Sharpen", "x.fit").returncode, 2)
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        for option in (b"--dest", b"--mode", b"--lut", b"--itt", b"--palettes", b"--plane", b"--filter",
                       b"--threshold", b"--bmp24", b"--own-colours", b"--caption", b"--header", b"--quiet"):
            self.assertIn(option, r.stdout)


if __name__ == "__main__":
    CONVERT, PALETTES = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if Image is None:
        print("PIL is missing: skipped")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v"])
