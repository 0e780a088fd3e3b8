"""Start-up of the built program: the database location, the schema, private files, a clean
exit and the fatal path."""
import os
import signal
import stat
import subprocess
import time
import xml.etree.ElementTree as ET

from harness import APP, XServer, wait_until
import taskscreen as ts

METAINFO = os.path.join(os.path.dirname(__file__),
                        "../../packaging/org.brellhaven.tarvik.metainfo.xml")


class StartupTest(ts.TasksTestCase):
    def test_fresh_home_creates_database_and_shows_window(self):
        app = self.start_app(platform="offscreen")
        wait_until(lambda: "DBPATH:" in app.output(), timeout=20, message="no DBPATH line")
        self.assertIn('DBPATH: "%s"' % self.home.db_path, app.output())
        wait_until(lambda: os.path.exists(self.home.db_path), message="no database file")
        tables = wait_until(lambda: self.home.sqlite3_cli(
            "SELECT name FROM sqlite_master WHERE type='table' AND name IN ('users','tasks') "
            "ORDER BY name") == ["tasks", "users"], message="tables missing")
        self.assertTrue(tables)
        time.sleep(1)
        self.assertIsNone(app.proc.poll(), "the program should keep running:\n" + app.output())

    def test_second_run_keeps_rows(self):
        app = self.start_app(platform="offscreen")
        wait_until(lambda: os.path.exists(self.home.db_path))
        wait_until(lambda: len(self.home.sqlite3_cli("SELECT name FROM sqlite_master")) >= 2)
        app.close()
        self.home.sqlite3_cli("INSERT INTO tasks (user_id, name) VALUES (7, 'survivor')")
        app = self.start_app(platform="offscreen")
        wait_until(lambda: "DBPATH:" in app.output())
        time.sleep(1)
        self.assertEqual(self.home.sqlite3_cli("SELECT name FROM tasks"), ["survivor"])

    def test_private_files_under_umask_022(self):
        # Nobody but the user reads the accounts, the tasks or the preferences, whatever the
        # umask; files an earlier version left readable are tightened at the next start.
        previous = os.umask(0o022)
        self.addCleanup(os.umask, previous)
        data_dir = os.path.dirname(self.home.db_path)
        paths = (data_dir, self.home.db_path, self.home.settings_path)

        def modes():
            return [stat.S_IMODE(os.stat(p).st_mode) if os.path.exists(p) else None
                    for p in paths]

        for label in ("new files", "files of an earlier version"):
            with self.subTest(label):
                app = self.start_app(platform="offscreen")
                private = [0o700, 0o600, 0o600]
                wait_until(lambda: modes() == private, timeout=20,
                           message="not private: %s" % [oct(m or 0) for m in modes()])
                app.close()
                self.assertEqual(modes(), private)
                for path, mode in zip(paths, (0o755, 0o644, 0o644)):
                    os.chmod(path, mode)

    def test_closing_the_window_ends_the_program_cleanly(self):
        # The last window closing ends the event loop; the page goes before the services it
        # binds to, the database connection last, at process exit. A screen reader listens, and
        # a file dialog left open goes before the window does.
        for label in ("nothing open", "a file dialog open"):
            with self.subTest(label):
                if label == "a file dialog open":
                    self.setUp()  # a fresh home
                app = self.start()
                if label == "a file dialog open":
                    app.reader.press(app.reader.wait("push button", "Settings"))
                    app.reader.press(app.reader.wait("push button", "Choose sound (WAV/MP3)",
                                                     timeout=15))
                    app.reader.wait("push button", "Open", timeout=15)
                app.close_window()
                self.assertEqual(app.wait_exit(30), 0, app.output())
                self.assertNotIn("TypeError", app.output())
                self.assertEqual(self.home.sqlite3_cli("PRAGMA integrity_check"), ["ok"])

    def test_command_line_is_answered_without_a_window(self):
        # Help and version need no display at all; a wrong option is refused before the
        # database is touched.
        version = ET.parse(METAINFO).getroot().find("releases/release").get("version")
        no_display = {"QT_QPA_PLATFORM": "xcb", "DISPLAY": "", "WAYLAND_DISPLAY": ""}
        rows = [(["--help"], no_display, 0, "stdout", "--background"),
                (["--version"], no_display, 0, "stdout", f"appTarvikQml {version}"),
                (["--frobnicate"], {"QT_QPA_PLATFORM": "offscreen"}, 2, "stderr",
                 "Unknown option 'frobnicate'"),
                (["notes.txt"], {"QT_QPA_PLATFORM": "offscreen"}, 2, "stderr", "'notes.txt'")]
        for arguments, env, code, stream, expected in rows:
            with self.subTest(" ".join(arguments)):
                done = subprocess.run([APP, *arguments], env=self.home.env(**env), timeout=30,
                                      capture_output=True, text=True)
                self.assertEqual(done.returncode, code, done.stderr)
                self.assertIn(expected, getattr(done, stream))
                self.assertNotIn("DBPATH", done.stdout + done.stderr)
                self.assertFalse(os.path.exists(self.home.db_path))

    def test_program_starts_again_when_its_x_server_vanished(self):
        # Under load a server of a test alongside can take the display's socket with it: the
        # harness starts a new server and the program once more, rather than failing.
        xserver = XServer(ts.WIDTH, ts.HEIGHT)
        self.addCleanup(xserver.close)
        xserver.stop()
        app = self.start_app(xserver)
        app.wait_window()
        self.assertIn("the X server vanished", app.output())

    def test_unusable_location_is_fatal(self):
        # A directory where the file should be cannot be opened as a database.
        os.makedirs(self.home.db_path)
        app = self.start_app(platform="offscreen")
        code = app.wait_exit(30)
        out = app.output()
        self.assertNotEqual(code, 0)
        self.assertEqual(code, -signal.SIGABRT, out)
        self.assertIn("Cannot open SQLite database", out)
        # The location is logged before the program gives up.
        self.assertLess(out.index("DBPATH:"), out.index("Cannot open SQLite database"))

    def test_uncreatable_directory_is_fatal(self):
        # The data directory's parent is a file, so the directory cannot be created.
        os.rmdir(self.home.data)
        with open(self.home.data, "w") as f:
            f.write("not a directory")
        app = self.start_app(platform="offscreen")
        self.assertEqual(app.wait_exit(30), -signal.SIGABRT)
        self.assertIn("Cannot open SQLite database", app.output())


if __name__ == "__main__":
    import unittest
    unittest.main()
