"""Saving a task while another process holds the database locked.

The sqlite3 command-line tool sits inside BEGIN EXCLUSIVE while the user saves a task in the
real window: the save fails visibly (the dialog stays open and says that it could not save the
task because the file is in use by another program), nothing reaches the file, and once the lock
is released the same dialog saves exactly what was typed. The same holds for an edit; a delete
under the lock changes nothing, and the page says why.
"""
import datetime
import sqlite3
import subprocess
import unittest

from harness import wait_until
import taskscreen as ts

NAME = "Pay rent; '--' 100% _now_"


class Locker:
    """The sqlite3 tool holding an exclusive lock on the database until released."""

    def __init__(self, db_path):
        self.db_path = db_path
        self.proc = subprocess.Popen(["sqlite3", db_path], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        # The busy timeout lets it wait for a probe below (or the program) reading just then.
        self.proc.stdin.write(".timeout 5000\nBEGIN EXCLUSIVE;\nSELECT count(*) FROM tasks;\n")
        self.proc.stdin.flush()
        wait_until(self.held, timeout=10, message="the sqlite3 tool did not take the lock")

    def held(self):
        probe = sqlite3.connect(self.db_path, timeout=0)
        try:
            probe.execute("SELECT count(*) FROM tasks").fetchall()
            return False
        except sqlite3.OperationalError as e:
            return "locked" in str(e)
        finally:
            probe.close()

    def release(self):
        if self.proc.poll() is None:
            self.proc.communicate("ROLLBACK;\n.quit\n", timeout=10)


class LockedSaveTest(ts.TasksTestCase):
    def setUp(self):
        super().setUp()
        self.start("lee", "Lee Locke", "password1")

    def rows(self):
        """The tasks as the database file holds them: (name, active, expire_at_epoch)."""
        return self.home.query("SELECT name, active, expire_at_epoch FROM tasks ORDER BY id")

    def lock(self):
        locker = Locker(self.home.db_path)
        self.addCleanup(locker.release)
        return locker

    def save_fails_then_succeeds(self, expected_tasks_before):
        """Return saves under the lock: the error shows and the file is untouched; after the
        release Return saves again."""
        locker = self.lock()
        self.app.key("Return")
        ts.wait_save_refused(self.app, timeout=20)
        self.assertIn("the task file is in use by another program",
                      self.app.read_text(*ts.DIALOG))
        self.assertIsNone(self.app.proc.poll(), self.app.output())
        self.app.screenshot("reliability_locked_save")
        locker.release()
        self.assertEqual(self.rows(), expected_tasks_before)
        self.app.key("Return")
        wait_until(lambda: self.rows() != expected_tasks_before, timeout=15,
                   message="not saved after the lock was released")
        wait_until(lambda: "could not save" not in self.app.read_text(*ts.DIALOG),
                   message="the dialog is still open")

    def test_save_under_lock_keeps_what_was_typed(self):
        app = self.app
        due = self.local_epoch(self.now().date() + datetime.timedelta(days=1), 9, 30)

        # A new task, typed in full: name, due time and Done.
        ts.fill_task_dialog(app, NAME, days=1, hour=9, minute=30, done=True)
        self.save_fails_then_succeeds([])
        self.assertEqual(self.rows(), [(NAME, 1, due)])
        ts.wait_pager(app, (1, 1, 1, 0, 1))

        # An edit of that task: the new name survives the failed save as well.
        app.key("Down", "ctrl+e", "ctrl+a")
        app.type("Pay rent twice")
        self.save_fails_then_succeeds([(NAME, 1, due)])
        self.assertEqual(self.rows(), [("Pay rent twice", 1, due)])

        # Deleting under the lock changes nothing and the task stays listed.
        app.key("Down")
        wait_until(lambda: ts.row_fill(app, 0) == ts.SELECTED, message="row 0 not selected")
        locker = self.lock()
        app.key("Delete")
        # The selection goes once the refused delete has returned.
        wait_until(lambda: ts.row_fill(app, 0) != ts.SELECTED, timeout=20,
                   message="the delete did not return")
        ts.wait_for(lambda: app.read_text(0, 0, ts.WIDTH, ts.HEIGHT),
                    lambda text: "The task file is in use by another program" in text,
                    "the page does not say why nothing was deleted")
        locker.release()
        self.assertEqual(self.rows(), [("Pay rent twice", 1, due)])
        self.assertIn("Pay rent twice", ts.row_text(app, 0))
        self.assertIsNone(app.proc.poll(), app.output())


if __name__ == "__main__":
    unittest.main()
