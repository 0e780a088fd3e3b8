"""The built program on database files and data directories it cannot use as it should.

A file that is not a database: the program starts on the sign-in page, signing in and
registering fail with their usual messages, and the file is left byte for byte as it was.
A read-only database: signing in works, every save fails visibly, nothing crashes.
A data directory that cannot be created: the fatal message, before any window opens.

Read-only files and directories only bind a process that cannot override permissions: ctest runs
this script through unprivileged.sh, which also covers the program it starts.
"""
import hashlib
import os
import random
import signal
import stat
import time
import unittest

from harness import wait_until
import taskscreen as ts

FULL_NAME, USERNAME, PASSWORD = "Ann Example", "ann", "password1"


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class FaultyFilesTest(ts.TasksTestCase):
    def screen(self, app):
        return app.read_text(0, 0, ts.WIDTH, ts.HEIGHT)

    def make_database(self):
        """An account and one pending task, written by the program itself."""
        app = self.start(USERNAME, FULL_NAME, PASSWORD)
        ts.fill_task_dialog(app, "Water the plants")
        app.key("Return")  # Save
        wait_until(lambda: self.home.sqlite3_cli("SELECT name FROM tasks") == ["Water the plants"],
                   message="the task was not saved")
        app.close()

    def assert_still_running(self, app):
        time.sleep(0.5)
        self.assertIsNone(app.proc.poll(), "the program ended:\n" + app.output())

    def try_sign_in_and_register(self, app):
        """Both fail with their fixed messages; the program keeps running."""
        app.type(USERNAME)
        app.key("Tab")
        app.type(PASSWORD)
        app.key("Return")
        wait_until(lambda: "Invalid credentials (or user inactive)." in self.screen(app),
                   message="no sign-in error: %r" % self.screen(app))
        app.screenshot("reliability_sign_in_refused")
        app.key("shift+Tab")  # back to the user name field, where registering starts
        ts.register(app, FULL_NAME, "bea", PASSWORD)
        wait_until(lambda: "Registration failed (username already exists or DB error)."
                   in self.screen(app), message="no registration error: %r" % self.screen(app))
        self.assert_still_running(app)

    def test_not_a_database(self):
        os.makedirs(os.path.dirname(self.home.db_path))
        noise = bytes(random.Random(4711).randrange(256) for _ in range(65536))
        with open(self.home.db_path, "wb") as f:
            f.write(noise)

        app = self.start_window()
        wait_until(lambda: "Login" in self.screen(app), message="no sign-in page")
        self.try_sign_in_and_register(app)
        app.close()

        with open(self.home.db_path, "rb") as f:
            self.assertTrue(f.read() == noise, "the file was changed")
        self.assertEqual(os.listdir(os.path.dirname(self.home.db_path)), ["taskmanager.db"])

    def test_read_only_database(self):
        self.make_database()
        os.chmod(self.home.db_path, 0o444)
        if os.access(self.home.db_path, os.W_OK):
            self.skipTest("this user writes to read-only files; run through unprivileged.sh")
        before = digest(self.home.db_path)

        app = self.start_window()
        ts.sign_in(app, USERNAME, PASSWORD)
        wait_until(lambda: "Water the plants" in ts.row_text(app, 0), message="task not listed")

        # A new task: the save fails, the dialog stays open and says so.
        ts.fill_task_dialog(app, "Buy seeds")
        app.key("Return")
        ts.wait_save_refused(app)
        app.screenshot("reliability_read_only_save")
        app.key("Escape")

        # An edit of the listed task: the same.
        app.key("Down", "ctrl+e", "ctrl+a")
        app.type("Water the cactus")
        app.key("Return")
        ts.wait_save_refused(app)
        app.key("Escape")

        # Deleting it fails without a word; the task stays listed.
        app.key("Delete")
        time.sleep(0.5)
        self.assertIn("Water the plants", ts.row_text(app, 0))
        ts.wait_pager(app, (1, 1, 0, 1, 1))

        # Signed out, a new account cannot be registered.
        app.key("ctrl+l")
        wait_until(lambda: "Login" in self.screen(app), message="Ctrl+L did not sign out")
        ts.register(app, FULL_NAME, "bea", PASSWORD)
        wait_until(lambda: "Registration failed (username already exists or DB error)."
                   in self.screen(app), message="no registration error: %r" % self.screen(app))
        self.assert_still_running(app)
        app.close()

        self.assertEqual(digest(self.home.db_path), before)
        self.assertEqual(self.home.sqlite3_cli("SELECT name FROM tasks"), ["Water the plants"])

    def test_data_directory_cannot_be_created(self):
        read_only = os.path.join(self.home.root, "read-only")
        os.mkdir(read_only, stat.S_IRUSR | stat.S_IXUSR)
        self.addCleanup(os.chmod, read_only, stat.S_IRWXU)
        if os.access(read_only, os.W_OK):
            self.skipTest("this user writes into read-only directories; run through "
                          "unprivileged.sh")
        a_file = os.path.join(self.home.root, "a-file")
        with open(a_file, "w") as f:
            f.write("not a directory")

        for label, data_home in (("read-only parent", read_only), ("parent is a file", a_file)):
            with self.subTest(label):
                app = self.start_app(platform="offscreen", extra_env={"XDG_DATA_HOME": data_home})
                self.assertEqual(app.wait_exit(30), -signal.SIGABRT, app.output())
                out = app.output()
                self.assertIn("Cannot open SQLite database", out)
                # The location is logged before the program gives up.
                self.assertLess(out.index("DBPATH:"), out.index("Cannot open SQLite database"))

if __name__ == "__main__":
    unittest.main()
