"""Where the program finds its crypto library: installed below a staging root
it is run by its name from another directory, signs an archive there and
verifies and extracts it without -L; a copy of it never takes the library
from the working directory."""

import filecmp
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cmd_helpers import KOVZEF, LIBRARY, ScratchCase, run  # noqa: E402
import test_signing as signing  # noqa: E402

# The build tree the program under test comes from: <build>/app/kovzef.
BUILD = os.path.dirname(os.path.dirname(os.path.abspath(KOVZEF)))
PREFIX = "/opt/kovzef-test"


def sanitized():
    """Whether the program is built with a sanitizer runtime.  That runtime
    intercepts dlopen, so the dynamic loader takes it for the caller and
    never searches the program's own run path: such a build finds the
    crypto library only through -L."""
    with open(KOVZEF, "rb") as f:
        image = f.read()
    return b"libasan.so" in image or b"libtsan.so" in image


def setUpModule():
    signing.setUpModule()


def tearDownModule():
    signing.tearDownModule()


class Install(ScratchCase):
    def install(self, stage):
        env = dict(os.environ, DESTDIR=stage)
        proc = subprocess.run([shutil.which("cmake") or "cmake", "--install", BUILD, "--prefix", PREFIX], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode("latin-1"))

    def kovzef(self, stage, *args, cwd):
        env = dict(os.environ, PATH=stage + PREFIX + "/bin:" + os.environ.get("PATH", ""), TZ="UTC",
                   TELMIRDIR=os.path.join(signing.PKI, "psedir"))
        proc = subprocess.run(["kovzef"] + list(args), cwd=cwd, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=300)
        return proc.returncode, proc.stdout.decode("latin-1")

    # Catches an install that leaves the program where it cannot find its
    # crypto library (signing then fails with 56), or none at all, and a
    # second install that fails on the link the first one made.
    def test_the_installed_program_signs_verifies_and_extracts_from_any_directory(self):
        if not os.path.exists(os.path.join(BUILD, "cmake_install.cmake")):
            self.skipTest("the program under test is not in a build tree")
        if sanitized():
            self.skipTest("a sanitizer build does not find its crypto library by itself")
        stage = self.path("stage")
        self.install(stage)
        self.install(stage)
        self.assertTrue(os.path.islink(stage + PREFIX + "/bin/kovzef"))

        self.write("work/d/a.txt", os.urandom(5000))
        self.write("work/d/sub/b.bin", os.urandom(80000))
        work = self.path("work")
        signer = ["-key", os.path.join(signing.PKI, "signer.p12"), "-pwd", "signpin"]
        rc, out = self.kovzef(stage, "-cVf", "a.kox", "d", *signer, "-tsaurl", signing.TSA_URL, cwd=work)
        self.assertEqual(rc, 0, out)

        elsewhere = self.path("elsewhere")
        os.makedirs(elsewhere)
        archive = os.path.join(work, "a.kox")
        rc, out = self.kovzef(stage, "-tvVf", archive, cwd=elsewhere)
        self.assertEqual(rc, 0, out)
        self.assertIn("SIGNATURE.SMF", out)
        self.assertIn("Signature Subject >CN=KOV Test Signer", out)
        rc, out = self.kovzef(stage, "-xVf", archive, cwd=elsewhere)
        self.assertEqual(rc, 0, out)
        for name in ("d/a.txt", "d/sub/b.bin"):
            self.assertTrue(filecmp.cmp(os.path.join(work, name), os.path.join(elsewhere, name), shallow=False),
                            name)

    # Catches a program that searches the working directory for its crypto
    # library: a copy of the program without the library beside it loaded a
    # libkovcrypto.so that an extraction had put into the working directory.
    def test_a_library_in_the_working_directory_is_never_loaded(self):
        self.write("d/a.txt", os.urandom(3000))
        signer = ["-key", os.path.join(signing.PKI, "signer.p12"), "-pwd", "signpin", "-tsaurl", signing.TSA_URL]
        rc, out = run(["-cVf", "a.kox", "d", "-L", LIBRARY] + signer, self.dir)
        self.assertEqual(rc, 0, out)
        alone = self.path("alone")
        os.makedirs(alone)
        shutil.copy2(KOVZEF, alone)
        shutil.copy2(LIBRARY, self.dir)
        env = dict(os.environ, TELMIRDIR=os.path.join(signing.PKI, "psedir"))
        proc = subprocess.run([os.path.join(alone, os.path.basename(KOVZEF)), "-tVf", "a.kox"], cwd=self.dir,
                              env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        out = proc.stdout.decode("latin-1")
        self.assertEqual(proc.returncode, 56, out)
        self.assertIn("error in loading the cryptographic library", out)


if __name__ == "__main__":
    unittest.main()
