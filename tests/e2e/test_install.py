"""The program as a system gets it: installed into a prefix, and packed into a Debian package."""
import configparser
import glob
import gzip
import os
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from harness import BUILD_DIR, AppTestCase, XServer, wait_until


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True, timeout=300).stdout


class InstallTest(AppTestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="tarvik-install-")
        cls.addClassCleanup(shutil.rmtree, cls.scratch, True)
        prefix = os.path.join(cls.scratch, "prefix")
        run("cmake", "--install", BUILD_DIR, "--prefix", prefix)
        run("cpack", "-G", "DEB", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
            "-B", os.path.join(cls.scratch, "deb"))
        cls.deb = glob.glob(os.path.join(cls.scratch, "deb", "*.deb"))[0]
        run("dpkg-deb", "-x", cls.deb, os.path.join(cls.scratch, "root"))
        # Where `cmake --install` put the files, and where the package would.
        cls.prefixes = {"installed": prefix, "packaged": os.path.join(cls.scratch, "root/usr")}

    def desktop_entry(self, prefix):
        path, = glob.glob(os.path.join(prefix, "share/applications/*.desktop"))
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(path)
        return path, entry["Desktop Entry"]

    def test_desktop_entry_metainfo_and_icons_agree(self):
        for kind, prefix in self.prefixes.items():
            with self.subTest(kind):
                path, entry = self.desktop_entry(prefix)
                run("desktop-file-validate", path)
                app_id = os.path.basename(path)[:-len(".desktop")]
                metainfo = os.path.join(prefix, "share/metainfo", app_id + ".metainfo.xml")
                run("appstreamcli", "validate", "--no-net", metainfo)
                component = ET.parse(metainfo).getroot()
                self.assertEqual(component.findtext("id"), app_id)
                self.assertEqual(component.findtext("launchable"), app_id + ".desktop")
                self.assertEqual(entry["Icon"], app_id)
                self.assertTrue(os.path.exists(os.path.join(
                    prefix, "share/icons/hicolor/scalable/apps", app_id + ".svg")))
                with open(os.path.join(prefix, "share/icons/hicolor/128x128/apps",
                                       app_id + ".png"), "rb") as png:
                    header = png.read(24)
                self.assertEqual((int.from_bytes(header[16:20], "big"),
                                  int.from_bytes(header[20:24], "big")), (128, 128))
        # The newest release everywhere is the version being packaged.
        version = run("dpkg-deb", "-f", self.deb, "Version").strip()
        self.assertEqual(component.find("releases/release").get("version"), version)
        changelog = os.path.join(self.prefixes["packaged"], "share/doc/tarvik/changelog.gz")
        with gzip.open(changelog, "rt") as f:
            self.assertIn("(%s)" % version, f.readline())

    def test_package_installs_here_without_lintian_errors(self):
        out = run("apt-get", "install", "--simulate", self.deb)
        self.assertIn("Conf tarvik", out)
        lintian = subprocess.run(["lintian", self.deb], capture_output=True, text=True,
                                 timeout=300)
        self.assertNotIn("E:", lintian.stdout, lintian.stdout)

    def test_installed_program_starts_and_shows_its_icon(self):
        for kind, prefix in self.prefixes.items():
            with self.subTest(kind):
                self.setUp()  # a fresh home for each copy
                xserver = XServer()
                self.addCleanup(xserver.close)
                app = self.start_app(xserver, program=os.path.join(prefix, "bin/appTarvikQml"))
                window = app.wait_window()
                self.assertIn('DBPATH: "%s"' % self.home.db_path, app.output())
                wait_until(lambda: os.path.exists(self.home.db_path), message="no database")
                env = dict(os.environ, DISPLAY=xserver.display)
                props = subprocess.run(["xprop", "-id", window, "-f", "_NET_WM_ICON", "32c",
                                        " = $0 x $1\n", "WM_CLASS", "_NET_WM_ICON"], env=env,
                                       capture_output=True, text=True, check=True,
                                       timeout=30).stdout
                # The launcher's StartupWMClass names the window's class, and the window has an
                # icon of its own.
                self.assertIn('"%s"' % self.desktop_entry(prefix)[1]["StartupWMClass"], props)
                self.assertRegex(props, r"_NET_WM_ICON\(CARDINAL\) = [1-9][0-9]* x [1-9]")

if __name__ == "__main__":
    unittest.main()
