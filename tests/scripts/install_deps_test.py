#!/usr/bin/env python3
"""scripts/install-deps.sh against a simulated machine: apt-get, dpkg and dpkg-query are stubs
in PATH over a directory of "installed" packages, with a package index that fails to download,
packages that cannot be installed, and a kernel that runs no 32-bit programs (a stub loader
that runs only once an emulator is registered in a scratch binfmt_misc).

Usage: install_deps_test.py [unittest options]"""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "install-deps.sh")

# The stubs keep their state in $STUB: installed/<package>, archs, log (one call a line).
# apt-get install is all or nothing, as apt's own resolver is: one package named in
# $STUB_BROKEN fails the whole call and installs nothing.
APT_GET = r"""#!/bin/bash
echo "apt-get $*" >>"$STUB/log"
if [[ $1 == update ]]; then
  if [[ ${STUB_UPDATE_RC:-0} != 0 ]]; then
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
  fi
  exit "${STUB_UPDATE_RC:-0}"
fi
[[ $1 == install ]] || exit 64
shift
pkgs=()
for a in "$@"; do [[ $a == -* ]] || pkgs+=("$a"); done
for p in "${pkgs[@]}"; do
  if [[ " $STUB_BROKEN " == *" $p "* ]]; then
    echo "E: Unable to correct problems, you have held broken packages. ($p)"; exit 100
  fi
done
for p in "${pkgs[@]}"; do : >"$STUB/installed/$p"; done
"""
DPKG_QUERY = r"""#!/bin/bash
[[ -f $STUB/installed/${@: -1} ]] && printf installed || printf not-installed
"""
DPKG = r"""#!/bin/bash
echo "dpkg $*" >>"$STUB/log"
case $1 in
  --print-foreign-architectures) cat "$STUB/archs" ;;
  --add-architecture) echo "$2" >>"$STUB/archs" ;;
esac
"""
ID = "#!/bin/bash\necho 0\n"
# The 32-bit loader: "Exec format error" until an emulator for it is registered.
LOADER32 = r"""#!/bin/bash
grep -q ':qemu-i386:M::' "$STUB/binfmt/register" 2>/dev/null && exit 0
echo "cannot execute binary file: Exec format error" >&2
exit 126
"""


class InstallDeps(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.stub = self.tmp.name
        os.makedirs(os.path.join(self.stub, "bin"))
        os.makedirs(os.path.join(self.stub, "installed"))
        open(os.path.join(self.stub, "archs"), "w").close()
        os.makedirs(os.path.join(self.stub, "binfmt"))
        open(os.path.join(self.stub, "binfmt", "register"), "w").close()
        open(os.path.join(self.stub, "log"), "w").close()
        for name, text in (("apt-get", APT_GET), ("dpkg-query", DPKG_QUERY), ("dpkg", DPKG),
                           ("id", ID), ("ld-linux.so.2", LOADER32)):
            path = os.path.join(self.stub, "bin", name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)

    def tearDown(self):
        self.tmp.cleanup()

    def run_script(self, *args, update_rc=0, broken=(), runs_32bit=True):
        loader = "/bin/true" if runs_32bit else os.path.join(self.stub, "bin", "ld-linux.so.2")
        env = dict(os.environ, STUB=self.stub, STUB_UPDATE_RC=str(update_rc),
                   STUB_BROKEN=" ".join(broken), QOR3_APT_RETRY_DELAY="0",
                   QOR3_APT_PREFERENCES_DIR=os.path.join(self.stub, "preferences.d"),
                   QOR3_LOADER32=loader,
                   QOR3_BINFMT_DIR=os.path.join(self.stub, "binfmt"),
                   QOR3_QEMU_I386="/usr/bin/qemu-i386-static",
                   PATH=os.path.join(self.stub, "bin") + os.pathsep + os.environ["PATH"])
        p = subprocess.run(["bash", SCRIPT, *args], capture_output=True, text=True, env=env,
                           timeout=60)
        return p.returncode, p.stdout + p.stderr

    def installed(self):
        return set(os.listdir(os.path.join(self.stub, "installed")))

    def log(self):
        with open(os.path.join(self.stub, "log")) as f:
            return f.read().splitlines()

    def test_broken_index_and_uninstallable_wine_install_the_rest(self):
        rc, out = self.run_script(update_rc=100, broken=("wine32:i386",))
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.log().count("apt-get update -q"), 3, out)
        self.assertIn("apt-get update failed 3 times (exit 100)", out)
        self.assertIn("dpkg --add-architecture i386", self.log())
        installed = self.installed()
        for pkg in ("cmake", "libgtest-dev", "python3-pytest", "valgrind",
                    "g++-mingw-w64-i686-posix", "libz-mingw-w64-dev", "locales",
                    "libsqlite3-dev", "mecab-ipadic"):
            self.assertIn(pkg, installed, out)
        # The 64-bit half of wine stands alone; the 32-bit half is missing.
        self.assertIn("wine64", installed)
        self.assertNotIn("wine32:i386", installed)
        self.assertIn("MISSING for the Windows tests under wine: wine32:i386", out)
        self.assertEqual(out.count("MISSING"), 1, out)

    def test_a_failed_i386_security_index_puts_the_security_suite_below_main(self):
        pin = os.path.join(self.stub, "preferences.d", "qor3-security-below-main")
        rc, out = self.run_script("--native", update_rc=100)
        self.assertFalse(os.path.exists(pin), "no pin without wine among the groups")
        rc, out = self.run_script(update_rc=100)
        self.assertEqual(rc, 0, out)
        with open(pin) as f:
            self.assertIn("Pin: release l=Debian-Security\nPin-Priority: 100\n", f.read())
        self.assertEqual(out.count("putting the security suite below the main suite"), 1, out)
        self.assertIn("wine32:i386", self.installed())
        # Idempotent: the next run that meets the failure again leaves the file as it is.
        os.remove(os.path.join(self.stub, "installed", "wine32:i386"))
        rc, out = self.run_script(update_rc=100)
        self.assertNotIn("putting the security suite", out)

    def test_a_kernel_without_32bit_support_gets_an_emulator_registered(self):
        rc, out = self.run_script(runs_32bit=False)
        self.assertEqual(rc, 0, out)
        self.assertIn("cannot run 32-bit x86 programs", out)
        self.assertIn("qemu-user-static", self.installed())
        with open(os.path.join(self.stub, "binfmt", "register")) as f:
            rule = f.read()
        self.assertTrue(rule.startswith(":qemu-i386:M::\\x7fELF\\x01\\x01\\x01"), rule)
        self.assertTrue(rule.endswith(":/usr/bin/qemu-i386-static:F"), rule)
        self.assertNotIn("MISSING", out)
        # Where 32-bit programs run, nothing is emulated.
        os.remove(os.path.join(self.stub, "installed", "qemu-user-static"))
        open(os.path.join(self.stub, "binfmt", "register"), "w").close()
        rc, out = self.run_script()
        self.assertNotIn("qemu-user-static", self.installed())
        self.assertEqual(os.path.getsize(os.path.join(self.stub, "binfmt", "register")), 0)

    def test_native_mode_fails_only_for_what_the_native_build_needs(self):
        rc, out = self.run_script("--native", broken=("libcli11-dev",))
        self.assertEqual(rc, 1, out)
        self.assertIn("MISSING for the native build, the demo and the native tests: "
                      "libcli11-dev", out)
        self.assertIn("cmake", self.installed())
        self.assertIn("nlohmann-json3-dev", self.installed())
        self.assertFalse([p for p in self.installed() if "mingw" in p or "wine" in p])
        self.assertNotIn("dpkg --add-architecture i386", self.log())
        self.assertEqual(self.log().count("apt-get update -q"), 1)

    def test_nothing_to_do_runs_no_apt(self):
        rc, out = self.run_script("--native")
        self.assertEqual(rc, 0, out)
        calls = len(self.log())
        rc, out = self.run_script("--native", update_rc=100)
        self.assertEqual(rc, 0, out)
        self.assertIn("everything present", out)
        self.assertEqual(len(self.log()), calls)


if __name__ == "__main__":
    unittest.main()
