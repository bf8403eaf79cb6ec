#!/usr/bin/env python3
"""check_folder.py against small folders built here with the C++ compiler: one laid out as
the bundler lays out the release passes, and each fault the check is there for fails it with a
line that names the file and the fault.

Usage: test_check_folder.py CXX
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "check_folder.py")
SYSTEM = os.path.join(HERE, "system-libraries.txt")
TOOL = "dfu-util-0.11/win64/dfu-util-static.exe"
CXX = "c++"


def compile_elf(output, source, *flags):
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as f:
        f.write(source)
    try:
        subprocess.run([CXX, "-o", output, f.name, *flags], check=True)
    finally:
        os.unlink(f.name)


class CheckFolder(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.parts = tempfile.mkdtemp(prefix="orvik-check-folder.")
        parts = cls.parts
        # A library of the folder, and programs that need it with each kind of search path.
        compile_elf(f"{parts}/libpart.so.1", 'extern "C" int part() { return 0; }',
                    "-shared", "-fPIC", "-Wl,-soname,libpart.so.1")
        program = 'extern "C" int part(); int main() { return part(); }'
        link = [f"-L{parts}", "-l:libpart.so.1"]
        for name, paths in {
                "program": ["-Wl,--enable-new-dtags", "-Wl,-rpath,$ORIGIN/../lib"],
                "tool": ["-Wl,--enable-new-dtags", "-Wl,-rpath,$ORIGIN/../../lib"],
                "no-runpath": [],
                "absolute": ["-Wl,--enable-new-dtags", "-Wl,-rpath,/usr/lib"],
                "outside": ["-Wl,--enable-new-dtags", "-Wl,-rpath,$ORIGIN/../../lib"],
                "rpath": ["-Wl,--disable-new-dtags", "-Wl,-rpath,$ORIGIN/../lib"]}.items():
            compile_elf(f"{parts}/{name}", program, *link, *paths)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.parts)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="orvik-folder.")
        self.folder = os.path.join(self.work, "OrvikUpdater")
        folder = self.folder
        for sub in ("bin", "lib", "udev", "licenses", os.path.dirname(TOOL)):
            os.makedirs(os.path.join(folder, sub))
        self.put("program", "bin/orvik-updater")
        self.put("tool", TOOL)
        self.put("libpart.so.1", "lib/libpart.so.1")
        for name, text in (("orvik-updater", "#!/bin/sh\n"), ("orvik-access", "#!/bin/sh\n"),
                           ("bin/qt.conf", "[Paths]\n"),
                           ("udev/70-orvik-updater.rules", "\n"), ("README.txt", "\n"),
                           ("licenses/README.txt", "\n")):
            with open(os.path.join(folder, name), "w") as f:
                f.write(text)

    def tearDown(self):
        shutil.rmtree(self.work)

    def put(self, part, name):
        shutil.copyfile(os.path.join(self.parts, part), os.path.join(self.folder, name))

    def check(self, *extra):
        result = subprocess.run([sys.executable, CHECK, self.folder, "--system", SYSTEM, *extra],
                                capture_output=True, text=True)
        return result.returncode, result.stdout

    def assertFails(self, line, *extra):
        code, output = self.check(*extra)
        self.assertEqual(code, 1, output)
        self.assertIn(line, output)

    def test_a_folder_laid_out_as_the_bundler_does_passes(self):
        # Built here, it asks for this machine's glibc.
        glibc = os.confstr("CS_GNU_LIBC_VERSION").split()[1]
        code, output = self.check("--forbid", "/orvik/", "--max-glibc", glibc)
        self.assertEqual(code, 0, output)
        self.assertIn("PASS:", output)

    def test_a_library_missing_from_the_folder_fails(self):
        os.unlink(os.path.join(self.folder, "lib/libpart.so.1"))
        self.assertFails("FAIL: bin/orvik-updater: needs libpart.so.1, which is neither a system "
                         "library nor in the folder through its RUNPATH $ORIGIN/../lib")

    def test_a_library_reached_without_a_runpath_fails(self):
        self.put("no-runpath", "bin/orvik-updater")
        self.assertFails("FAIL: bin/orvik-updater: needs libpart.so.1, which is neither a system "
                         "library nor in the folder through its no RUNPATH")

    def test_a_runpath_not_relative_to_origin_fails(self):
        self.put("absolute", "bin/orvik-updater")
        self.assertFails("FAIL: bin/orvik-updater: RUNPATH entry '/usr/lib' is not relative "
                         "to $ORIGIN")

    def test_a_runpath_out_of_the_folder_fails(self):
        self.put("outside", "bin/orvik-updater")
        self.assertFails("FAIL: bin/orvik-updater: RUNPATH entry '$ORIGIN/../../lib' leads out "
                         "of the folder")

    def test_an_rpath_fails(self):
        self.put("rpath", "bin/orvik-updater")
        self.assertFails("FAIL: bin/orvik-updater: has an RPATH ($ORIGIN/../lib), not a RUNPATH")

    def test_a_shipped_system_library_fails(self):
        self.put("libpart.so.1", "lib/libstdc++.so.6")
        self.assertFails("FAIL: lib/libstdc++.so.6: a system library, which must come from the "
                         "system")

    def test_a_path_of_the_build_fails(self):
        with open(os.path.join(self.folder, "README.txt"), "w") as f:
            f.write("built in /work/checkout/build-linux\n")
        self.assertFails("FAIL: README.txt: holds the build machine's path /work/checkout",
                         "--forbid", "/work/checkout")

    def test_a_glibc_newer_than_the_base_fails(self):
        # Every program asks at least for GLIBC_2.2.5, the first x86-64 version.
        self.assertFails("newer than glibc 2.2", "--max-glibc", "2.2")

    def test_a_missing_tool_fails(self):
        os.unlink(os.path.join(self.folder, TOOL))
        self.assertFails(f"FAIL: {TOOL}: missing")

    def test_a_link_out_of_the_folder_fails(self):
        os.symlink("/usr/lib", os.path.join(self.folder, "lib/system"))
        self.assertFails("FAIL: lib/system: a link out of the folder, to /usr/lib")


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        CXX = sys.argv.pop(1)
    unittest.main()
