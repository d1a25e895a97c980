#!/usr/bin/env python3
"""Installation, manual page and release packages of one build.

  test_packaging.py --build-dir DIR --source-dir DIR --cmake CMAKE --cpack CPACK

The environment names the build as for the end-to-end tests: KELPO32_EXE (the
built program), KELPO32_PLATFORM (posix or win32) and, for win32,
KELPO32_RUNNER (the Wine runner) and KELPO32_WINEARCH (win32, or win64 for the
64-bit build of the Windows source). On posix the Debian package is also
installed into the system with dpkg when running as root, unless
KELPO32_NO_SYSTEM_INSTALL is set or a kelpo32 is already installed.
"""

import argparse
import fcntl
import gzip
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
import zipfile

ARGS = None


def platform():
    return os.environ.get("KELPO32_PLATFORM", "posix")


# Line ends of standard output: the POSIX build writes text with LF.
EOL = b"\r\n" if platform() == "win32" else b"\n"
HELP_TITLE = b"KELPO V1.6 2015/09/06  Command Line Parameters:" + EOL


def program_command(exe, *args):
    """The command line that runs a program of this build."""
    runner = os.environ.get("KELPO32_RUNNER")
    if platform() == "win32" and runner:
        return [runner, exe, *args]
    return [exe, *args]


def run_program(exe, *args, cwd=None):
    return subprocess.run(program_command(exe, *args), cwd=cwd, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)


def make_tree(root):
    """A small tree: files at three levels, an empty directory, a blank in a name."""
    layout = {
        "a.txt": 1000,
        "b.bin": 500,
        "docs/d1.txt": 4000,
        "docs/d2.txt": 123,
        "docs/old/e.txt": 100,
        "src/main c.cpp": 1234567,
        "empty/": 0,
    }
    for path, size in layout.items():
        full = os.path.join(root, path)
        if path.endswith("/"):
            os.makedirs(full, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(b"x" * size)
    return sum(layout.values())


def run_cpack(generator, out_dir):
    config = os.path.join(ARGS.build_dir, "CPackConfig.cmake")
    done = subprocess.run([ARGS.cpack, "-G", generator, "--config", config, "-B", out_dir],
                          capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise AssertionError(f"cpack failed:\n{done.stdout}\n{done.stderr}")
    ext = {"DEB": ".deb", "ZIP": ".zip"}[generator]
    found = [f for f in os.listdir(out_dir) if f.endswith(ext)]
    if len(found) != 1:
        raise AssertionError(f"expected one {ext} in {out_dir}, found {found}")
    return os.path.join(out_dir, found[0])


def check_sums(test, package):
    """SHA256SUMS beside the package lists it, and `sha256sum -c` accepts it."""
    out_dir = os.path.dirname(package)
    with open(os.path.join(out_dir, "SHA256SUMS"), encoding="ascii") as f:
        names = [line.split("  ", 1)[1] for line in f.read().splitlines()]
    test.assertEqual(names, [os.path.basename(package)])
    done = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=out_dir,
                          capture_output=True, text=True, timeout=60)
    test.assertEqual(done.returncode, 0, done.stdout + done.stderr)


def license_text():
    with open(os.path.join(ARGS.source_dir, "LICENSE"), encoding="ascii") as f:
        return f.read()


def project_version():
    with open(os.path.join(ARGS.build_dir, "CPackConfig.cmake"), encoding="utf-8") as f:
        m = re.search(r'set\(CPACK_PACKAGE_VERSION "([^"]+)"\)', f.read())
    assert m, "CPACK_PACKAGE_VERSION missing from CPackConfig.cmake"
    return m.group(1)


class InstallTest(unittest.TestCase):
    """`cmake --install` into a temporary DESTDIR."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="kelpo32-install-")
        cls.destdir = os.path.join(cls.tmp.name, "dest")
        env = dict(os.environ, DESTDIR=cls.destdir)
        done = subprocess.run(
            [ARGS.cmake, "--install", ARGS.build_dir, "--prefix", "/usr/local"],
            env=env, capture_output=True, text=True, timeout=300)
        if done.returncode != 0:
            raise AssertionError(f"cmake --install failed:\n{done.stdout}\n{done.stderr}")
        cls.prefix = os.path.join(cls.destdir, "usr", "local")
        name = "kelpo32.exe" if platform() == "win32" else "kelpo32"
        cls.installed = os.path.join(cls.prefix, "bin", name)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_installed_files(self):
        mode = os.stat(self.installed).st_mode
        self.assertTrue(mode & stat.S_IXUSR, "installed program is not executable")
        if platform() == "posix":
            page = os.path.join(self.prefix, "share", "man", "man1", "kelpo32.1.gz")
            with gzip.open(page, "rb") as f, open(ARGS.manual, "rb") as g:
                # The same page, its title line stamped with the version.
                installed, source = f.read(), g.read()
                th = rb'\n\.TH KELPO32 1 "[^"\n]*" "Kelpo32[^"\n]*"'
                self.assertEqual(re.sub(th, b"", installed), re.sub(th, b"", source))
                self.assertRegex(installed, rb'\n\.TH KELPO32 1 "\d{4}-\d\d-\d\d" "Kelpo32 %s"'
                                 % re.escape(project_version().encode()))

    def test_installed_program_writes_the_same_report(self):
        with tempfile.TemporaryDirectory(prefix="kelpo32-tree-") as tree:
            total = make_tree(tree)
            for args in ([], ["/W80"], ["/T", "/V1"]):
                with self.subTest(args=args):
                    built = run_program(os.environ["KELPO32_EXE"], *args, cwd=tree)
                    inst = run_program(self.installed, *args, cwd=tree)
                    self.assertEqual(built.returncode, 0, built.stderr)
                    self.assertEqual(inst.returncode, 0, inst.stderr)
                    # No start directory: POSIX text names it ".".
                    start = b"ROOT" if platform() == "win32" else b"."
                    self.assertTrue(inst.stdout.startswith(b"Kelpo32" + EOL + start), inst.stdout)
                    self.assertEqual(inst.stdout, built.stdout)
                    if not args:
                        self.assertTrue(inst.stdout.endswith(
                            f"Total bytes: {total:,}".encode() + EOL), inst.stdout)


class ManualTest(unittest.TestCase):
    """The manual page renders cleanly and matches the program."""

    def render(self, locale, warnings="--warnings"):
        env = dict(os.environ, LC_ALL=locale, MANWIDTH="80", MAN_KEEP_FORMATTING="")
        return subprocess.run(["man", warnings, "-l", ARGS.manual], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    @unittest.skipUnless(shutil.which("man"), "man is not installed")
    def test_renders_without_warnings(self):
        # The usual macro warnings, then every warning groff knows, on a UTF-8
        # and on a plain ASCII terminal.
        for locale in ("C.UTF-8", "C"):
            for warnings in ("--warnings", "--warnings=w"):
                with self.subTest(locale=locale, warnings=warnings):
                    done = self.render(locale, warnings)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertEqual(done.stderr.decode(errors="replace"), "")

    @unittest.skipUnless(shutil.which("mandoc"), "mandoc is not installed")
    def test_mandoc_lint(self):
        done = subprocess.run(["mandoc", "-T", "lint", "-W", "warning", ARGS.manual],
                              capture_output=True, text=True, timeout=60)
        # The source has no date on purpose: the build stamps it.
        found = [line for line in (done.stdout + done.stderr).splitlines()
                 if "missing date" not in line]
        self.assertEqual(found, [])

    @unittest.skipUnless(shutil.which("man") and shutil.which("col"), "man or col is missing")
    def test_every_switch_of_the_help_has_an_entry(self):
        help_text = run_program(os.environ["KELPO32_EXE"], "/H").stdout.decode("latin-1")
        switches = [line.split()[0] for line in help_text.splitlines() if line.startswith("/")]
        self.assertGreaterEqual(len(switches), 7, help_text)
        page = subprocess.run(["col", "-bx"], input=self.render("C").stdout,
                              capture_output=True).stdout.decode()
        options = page.split("\nOPTIONS\n", 1)[1].split("\nCONSOLE\n", 1)[0]
        for switch in switches + ["/?"]:
            # An entry's tag: "/T     text", "/H, /? text".
            sw = re.escape(switch)
            if not re.search(rf"(?m)^ {{7}}(?:{sw}(?: {{2,}}|, )|/\S+, {sw} )", options):
                self.fail(f"the manual's OPTIONS have no entry for {switch}")

    def test_version_is_the_same_everywhere(self):
        help_out = run_program(os.environ["KELPO32_EXE"], "/H").stdout
        self.assertIn(HELP_TITLE, help_out)
        shown = re.search(rb"V(\d+)\.(\d+) ", help_out)
        major_minor = f"{int(shown.group(1))}.{int(shown.group(2))}"
        self.assertTrue(project_version().startswith(major_minor + "."), project_version())
        # The manual page's source holds no version of its own: the build stamps it.
        with open(ARGS.manual, encoding="ascii") as f:
            th = next(line for line in f if line.startswith(".TH "))
        self.assertEqual(th, '.TH KELPO32 1 "" "Kelpo32" "User Commands"\n')


@unittest.skipUnless(platform() == "posix", "Debian package of the native build")
@unittest.skipUnless(shutil.which("dpkg-deb"), "dpkg-deb is not installed")
class DebianPackageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="kelpo32-deb-")
        cls.deb = run_cpack("DEB", cls.tmp.name)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], capture_output=True,
                              text=True, check=True).stdout.strip()

    def test_metadata(self):
        info = subprocess.run(["dpkg-deb", "-I", self.deb], capture_output=True, text=True,
                              check=True).stdout
        self.assertEqual(self.field("Package"), "kelpo32", info)
        self.assertEqual(self.field("Version"), project_version(), info)
        self.assertEqual(self.field("Section"), "utils", info)
        self.assertEqual(self.field("Priority"), "optional", info)
        self.assertIn("libc6", self.field("Depends"), info)
        if shutil.which("dpkg"):
            arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                  text=True, check=True).stdout.strip()
            self.assertEqual(self.field("Architecture"), arch)
        self.assertEqual(os.path.basename(self.deb),
                         f"kelpo32_{project_version()}_{self.field('Architecture')}.deb")

    def test_contents(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], capture_output=True, text=True,
                                 check=True).stdout
        entries = {line.split()[-1]: line.split()[0] for line in listing.splitlines()}
        self.assertEqual(entries.get("./usr/bin/kelpo32"), "-rwxr-xr-x", listing)
        docs = ["./usr/share/doc/kelpo32/changelog.gz", "./usr/share/doc/kelpo32/copyright",
                "./usr/share/man/man1/kelpo32.1.gz"]
        for doc in docs:
            self.assertEqual(entries.get(doc), "-rw-r--r--", listing)
        files = [p for p, mode in entries.items() if not mode.startswith("d")]
        self.assertEqual(sorted(files), ["./usr/bin/kelpo32", *docs], listing)

    def test_lintian_reports_nothing(self):
        self.assertTrue(shutil.which("lintian"), "lintian is not installed")
        done = subprocess.run(["lintian", "--fail-on", "error,warning", self.deb],
                              capture_output=True, text=True, timeout=600)
        tags = [line for line in done.stdout.splitlines() if line[:2] in ("E:", "W:")]
        self.assertEqual((done.returncode, tags), (0, []), done.stdout + done.stderr)

    def test_changelog_copyright_and_checksums(self):
        root = os.path.join(self.tmp.name, "docs")
        subprocess.run(["dpkg-deb", "-x", self.deb, root], check=True)
        doc = os.path.join(root, "usr", "share", "doc", "kelpo32")
        with gzip.open(os.path.join(doc, "changelog.gz"), "rt", encoding="utf-8") as f:
            self.assertTrue(f.readline().startswith(f"kelpo32 ({project_version()}) "))
        with open(os.path.join(doc, "copyright"), encoding="utf-8") as f:
            copyright_file = f.read()
        self.assertIn("\nLicense: Expat\n", copyright_file)
        # Every line of the licence's text, in the file's indented form.
        body = license_text().split("\n\n", 2)[2]
        for line in body.splitlines():
            self.assertIn("\n " + (line or "."), copyright_file)
        check_sums(self, self.deb)

    def test_unpacked_program_runs(self):
        root = os.path.join(self.tmp.name, "unpacked")
        subprocess.run(["dpkg-deb", "-x", self.deb, root], check=True)
        done = run_program(os.path.join(root, "usr", "bin", "kelpo32"), "/H")
        self.assertEqual(done.returncode, 0)
        self.assertIn(HELP_TITLE, done.stdout)

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "needs root")
    @unittest.skipUnless(shutil.which("dpkg"), "dpkg is not installed")
    @unittest.skipIf(os.environ.get("KELPO32_NO_SYSTEM_INSTALL"), "KELPO32_NO_SYSTEM_INSTALL")
    def test_dpkg_install_and_remove(self):
        # One system install at a time, whichever build runs this test.
        with open(os.path.join(tempfile.gettempdir(), "kelpo32-dpkg.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if subprocess.run(["dpkg-query", "-W", "kelpo32"], capture_output=True).returncode \
                    == 0 or os.path.exists("/usr/bin/kelpo32"):
                self.skipTest("a kelpo32 is already installed on this system")
            dpkg("-i", self.deb)
            try:
                self.assertEqual(shutil.which("kelpo32", path="/usr/local/bin:/usr/bin:/bin"),
                                 "/usr/bin/kelpo32")
                done = subprocess.run(["kelpo32", "/H"], capture_output=True, timeout=60,
                                      env=dict(os.environ, PATH="/usr/bin:/bin"))
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn(HELP_TITLE, done.stdout)
                if shutil.which("man"):
                    where = subprocess.run(["man", "-w", "kelpo32"], capture_output=True,
                                           text=True)
                    self.assertIn("/usr/share/man/man1/kelpo32.1", where.stdout, where.stderr)
            finally:
                dpkg("-r", "kelpo32")
            self.assertFalse(os.path.exists("/usr/bin/kelpo32"))
            self.assertFalse(os.path.exists("/usr/share/man/man1/kelpo32.1"))


def dpkg(*args):
    """Runs dpkg, waiting a while for a lock that apt or another dpkg holds."""
    for _ in range(30):
        done = subprocess.run(["dpkg", *args], capture_output=True, text=True, timeout=300)
        if done.returncode == 0:
            return
        if "lock" not in done.stderr:
            break
        time.sleep(2)
    raise AssertionError(f"dpkg {' '.join(args)} failed:\n{done.stdout}\n{done.stderr}")


@unittest.skipUnless(platform() == "win32", ".zip of the Windows build")
class ZipPackageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="kelpo32-zip-")
        cls.zip = run_cpack("ZIP", cls.tmp.name)
        cls.arch = os.environ.get("KELPO32_WINEARCH", "win32")
        cls.top = f"kelpo32-{project_version()}-{cls.arch}/"

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_contents(self):
        self.assertEqual(os.path.basename(self.zip), self.top.rstrip("/") + ".zip")
        with zipfile.ZipFile(self.zip) as z:
            files = sorted(n for n in z.namelist() if not n.endswith("/"))
            exe = z.read(self.top + "kelpo32.exe")
        self.assertEqual(files, [self.top + n for n in
                                 ("LICENSE.TXT", "MANUAL.TXT", "USAGE.TXT", "kelpo32.exe")])
        # The PE header's machine: a .zip named win32 holds a 32-bit program.
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        self.assertEqual(exe[pe:pe + 4], b"PE\0\0")
        machine = struct.unpack_from("<H", exe, pe + 4)[0]
        self.assertEqual(machine, {"win32": 0x14C, "win64": 0x8664}[self.arch])
        check_sums(self, self.zip)

    def test_text_files_have_crlf_line_ends(self):
        with zipfile.ZipFile(self.zip) as z:
            for name in ("LICENSE.TXT", "MANUAL.TXT", "USAGE.TXT"):
                with self.subTest(name=name):
                    data = z.read(self.top + name)
                    self.assertGreater(data.count(b"\r\n"), 20)
                    self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), "bare LF")
                    self.assertEqual(data.count(b"\r"), data.count(b"\r\n"), "bare CR")
                    self.assertTrue(data.isascii(), "not plain ASCII")
                    self.assertNotIn(b"\x08", data, "overstrike left in the text")
            manual = z.read(self.top + "MANUAL.TXT").decode()
            for heading in ("SYNOPSIS", "OPTIONS", "EXIT STATUS", "FAULTS"):
                self.assertIn("\r\n" + heading + "\r\n", manual)
            with open(os.path.join(ARGS.source_dir, "docs", "USAGE.md"), "rb") as f:
                self.assertEqual(z.read(self.top + "USAGE.TXT"), f.read().replace(b"\n", b"\r\n"))
            self.assertEqual(z.read(self.top + "LICENSE.TXT"),
                             license_text().replace("\n", "\r\n").encode())

    def test_program_resources(self):
        self.assertTrue(shutil.which("wrestool"), "wrestool is not installed")
        with zipfile.ZipFile(self.zip) as z:
            exe = z.extract(self.top + "kelpo32.exe", os.path.join(self.tmp.name, "r"))

        def resource(kind):
            return subprocess.run(["wrestool", "--extract", "--raw", f"--type={kind}", exe],
                                  capture_output=True, check=True).stdout

        version = project_version()
        parts = [int(p) for p in f"{version}.0".split(".")]
        fixed, string = read_version_resource(resource(16))
        packed = [parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]]
        self.assertEqual(list(fixed[2:6]), packed * 2)  # file and product version
        for key, value in (("FileVersion", version), ("ProductVersion", version),
                           ("ProductName", "Kelpo32"), ("OriginalFilename", "kelpo32.exe")):
            self.assertEqual(string(key), value)
        self.assertIn(string("LegalCopyright") + "\n", license_text())
        self.assertTrue(string("FileDescription"))

        manifest = ET.fromstring(resource(24))
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        compat = "{urn:schemas-microsoft-com:compatibility.v1}"
        settings = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
        self.assertEqual(manifest.find(v1 + "assemblyIdentity").get("version"), f"{version}.0")
        self.assertEqual(manifest.find(f".//{v3}requestedExecutionLevel").get("level"),
                         "asInvoker")
        self.assertEqual({e.get("Id") for e in manifest.iter(compat + "supportedOS")}, {
            "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
            "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
            "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
            "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
        })
        self.assertEqual(manifest.find(f".//{settings}longPathAware").text, "true")

    def test_program_runs_under_wine(self):
        with zipfile.ZipFile(self.zip) as z:
            exe = z.extract(self.top + "kelpo32.exe", os.path.join(self.tmp.name, "x"))
        done = run_program(exe, "/H")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(done.stdout.startswith(b"Kelpo32\r\n\r\n" + HELP_TITLE), done.stdout)


def read_version_resource(data):
    """The VS_FIXEDFILEINFO fields of a version resource, and its strings by key.

    A string's value follows its NUL-ended UTF-16 key, aligned to 4 bytes."""
    fixed = struct.unpack_from("<13I", data, data.index(struct.pack("<I", 0xFEEF04BD)))

    def string(key):
        pos = data.index((key + "\0").encode("utf-16-le")) + 2 * len(key) + 2
        pos = (pos + 3) & ~3
        return data[pos:].decode("utf-16-le", "replace").split("\0", 1)[0]
    return fixed, string


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--cpack", default="cpack")
    ARGS, rest = parser.parse_known_args()
    ARGS.manual = os.path.join(ARGS.source_dir, "docs", "kelpo32.1")
    if "KELPO32_EXE" not in os.environ:
        parser.error("KELPO32_EXE is not set")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
