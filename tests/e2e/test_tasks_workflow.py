"""The task workflow driven as a person would: keyboard first, the mouse where the page offers
no key. After each step the database file is read back with the sqlite3 tool, and the screen
(rows, selection, pager and counters) must agree with it."""
import datetime
import sqlite3
import time
import unittest
from zoneinfo import ZoneInfo

from harness import wait_until
import taskscreen as ts


class TasksWorkflowTest(ts.TasksTestCase):
    def create_task(self, name, days, hour, minute, done=False, screenshots=False):
        ts.fill_task_dialog(self.app, name, days, hour, minute, done, screenshots)
        self.app.key("Return")  # Save in the dialog
        time.sleep(0.5)

    @ts.shoot_on_failure
    def test_workflow(self):
        app = self.start()
        ts.wait_pager(app, (1, 1, 0, 0, 0))
        self.assertEqual(ts.row_fill(app, 0), "#000000", "the table should be empty")

        # Two days ahead at 09:30, pending; a week ahead at 14:05, Done; then one due today.
        start_day = self.now().date()
        self.create_task("Buy milk", 2, 9, 30, screenshots=True)
        buy = self.local_epoch(start_day + datetime.timedelta(days=2), 9, 30)
        self.assertEqual(self.tasks(), [f"Buy milk|0|{buy}"])
        self.assertEqual(self.home.sqlite3_cli("SELECT expire_at FROM tasks"),
                         [datetime.datetime.fromtimestamp(buy, datetime.timezone.utc)
                          .strftime("%Y-%m-%dT%H:%M:00.000Z")])
        ts.wait_pager(app, (1, 1, 0, 1, 1))

        self.create_task("Call Bob", 7, 14, 5, done=True)
        bob = self.local_epoch(start_day + datetime.timedelta(days=7), 14, 5)
        self.assertEqual(self.tasks(), [f"Buy milk|0|{buy}", f"Call Bob|1|{bob}"])
        ts.wait_pager(app, (1, 1, 1, 1, 2))

        self.create_task("Water plants", 0, 23, 59)
        plants = self.local_epoch(start_day, 23, 59)
        self.assertEqual(self.tasks()[2], f"Water plants|0|{plants}")
        ts.wait_pager(app, (1, 1, 1, 2, 3))

        # Newest first, with the due time as the table shows it and the Done dot.
        self.assertIn("Water plants", ts.row_text(app, 0))
        bob_row = ts.row_text(app, 1)
        self.assertIn("Call Bob", bob_row)
        due = datetime.datetime.fromtimestamp(bob, ZoneInfo(ts.ZONE))
        self.assertIn(due.strftime("%d %B 14:05"), bob_row)
        self.assertIn("Buy milk", ts.row_text(app, 2))
        self.assertEqual(app.pixel(ts.DOT_X, ts.row_centre(1)), ts.DONE_DOT)
        self.assertNotEqual(app.pixel(ts.DOT_X, ts.row_centre(2)), ts.DONE_DOT)
        self.assertEqual([ts.row_fill(app, r) for r in range(3)],
                         [ts.EVEN_ROW, ts.ODD_ROW, ts.EVEN_ROW])
        app.screenshot("tasks")

        # Search: every keystroke filters; the counters keep counting all tasks.
        app.key("ctrl+f")
        app.type("MILK")
        wait_until(lambda: ts.row_fill(app, 1) == "#000000", message="search did not filter")
        self.assertIn("Buy milk", ts.row_text(app, 0))
        ts.wait_pager(app, (1, 1, 1, 2, 3))
        app.key("ctrl+f", "BackSpace")
        wait_until(lambda: ts.row_fill(app, 2) == ts.EVEN_ROW, message="search not cleared")

        # The Done filter, then Pending, then Clear (the mouse: these have no keys).
        toolbar = (0, 0, ts.WIDTH, ts.TABLE_TOP)
        combo = app.click_text("All", *toolbar)
        app.click_text("Done", combo[0] - 60, combo[1] + 10, 160, 140)
        wait_until(lambda: ts.row_fill(app, 1) == "#000000", message="Done filter")
        self.assertIn("Call Bob", ts.row_text(app, 0))
        ts.wait_pager(app, (1, 1, 1, 2, 3))
        app.click_text("Done", *toolbar[:2], 800, ts.TABLE_TOP)
        app.click_text("Pending", combo[0] - 60, combo[1] + 10, 160, 140)
        wait_until(lambda: ts.row_fill(app, 2) == "#000000", message="Pending filter")
        self.assertIn("Water plants", ts.row_text(app, 0))
        self.assertIn("Buy milk", ts.row_text(app, 1))
        app.click_text("Clear", *toolbar)
        wait_until(lambda: ts.row_fill(app, 2) == ts.EVEN_ROW, message="Clear")

        # Edit "Buy milk": Down selects the first row; more Downs stop at the last one.
        app.key("Down")
        self.assertEqual(ts.selected_rows(app, 3), [0])
        app.key("Down", "Down", "Down")
        self.assertEqual(ts.selected_rows(app, 3), [2])
        app.key("ctrl+e")
        time.sleep(0.5)
        # The name field keeps the keyboard focus it was given when the dialog was last used.
        app.key("ctrl+a")
        app.type("Buy oat milk")
        app.key("ctrl+g")
        time.sleep(0.5)
        ts.pick_time(app, days=1)
        app.key("Return", "Return")
        buy = self.local_epoch(start_day + datetime.timedelta(days=3), 9, 30)
        ts.wait_for(self.tasks, lambda got: got[0] == f"Buy oat milk|0|{buy}", "edit saved")
        self.assertIn("Buy oat milk", ts.row_text(app, 2))

        # Toggle Done with Ctrl+D: "Call Bob" becomes pending, "Buy oat milk" Done.
        app.key("Up")
        self.assertEqual(ts.selected_rows(app, 3), [1])
        app.key("ctrl+e", "ctrl+d", "Return")
        app.key("Down", "ctrl+e", "ctrl+d", "Return")
        self.assertEqual(self.tasks(), [f"Buy oat milk|1|{buy}", f"Call Bob|0|{bob}",
                                        f"Water plants|0|{plants}"])
        ts.wait_pager(app, (1, 1, 1, 2, 3))
        self.assertEqual(app.pixel(ts.DOT_X, ts.row_centre(2)), ts.DONE_DOT)

        # The Delete key removes the selected task at once and clears the selection.
        app.key("Up", "Up")
        self.assertEqual(ts.selected_rows(app, 3), [0])
        app.key("Delete")
        wait_until(lambda: len(self.tasks()) == 2, message="Delete did nothing")
        self.assertNotIn("Water plants", "".join(self.tasks()))
        ts.wait_pager(app, (1, 1, 1, 1, 2))
        self.assertEqual(ts.selected_rows(app, 2), [])

        # "Delete Done" asks first: No keeps everything, Yes removes only Done tasks.
        delete_done = (800, 0, ts.WIDTH - 800, ts.TABLE_TOP)
        app.click_text("Done", *delete_done)
        app.click_text("No", 300, 150, 700, 400)
        time.sleep(0.5)
        self.assertEqual(len(self.tasks()), 2)
        app.click_text("Done", *delete_done)
        app.click_text("Yes", 300, 150, 700, 400)
        ts.wait_for(self.tasks, lambda got: got == [f"Call Bob|0|{bob}"], "Delete Done")
        ts.wait_pager(app, (1, 1, 0, 1, 1))

        app.click_text("Settings", *toolbar)
        wait_until(lambda: app.find_text("Notifications", 150, 60, 1000, 150),
                   message="no settings dialog")
        app.screenshot("settings_dialog")
        app.key("Escape")

        # Ctrl+L signs out to an empty sign-in page; signing in again shows the same task.
        time.sleep(0.5)
        app.key("ctrl+l")
        wait_until(lambda: app.find_text("Login"), message="Ctrl+L did not sign out")
        app.screenshot("sign_in")
        ts.sign_in(app, "ada", "correct horse")
        self.assertIn("Call Bob", ts.row_text(app, 0))

    @ts.shoot_on_failure
    def test_paging(self):
        def seed():
            uid = self.home.sqlite3_cli("SELECT id FROM users")[0]
            # Thirty tasks created a second apart, so that newest-first is well defined.
            values = ",".join(
                f"({uid}, 'Task {n:02}', 0, '2031-01-01 00:00:{n:02}')" for n in range(1, 31))
            self.home.sqlite3_cli(
                f"INSERT INTO tasks (user_id, name, active, create_at) VALUES {values}")

        # Signed in with tasks to list, the keyboard starts in the table.
        app = self.start(before_sign_in=seed)
        ts.wait_pager(app, (1, 2, 0, 30, 30))

        bottom = (ts.WIDTH - 240, ts.HEIGHT - 60, 240, 60)
        box = app.click_text("25", *bottom)
        app.click_text("10", box[0] - 25, box[1] - 250, 120, 230)  # the list opens upwards
        ts.wait_pager(app, (1, 3, 0, 30, 30))
        with open(self.home.settings_path) as conf:
            self.assertIn("taskPageSize=10", conf.read())
        self.assertIn("Task 30", ts.row_text(app, 0))
        self.assertIn("Task 21", ts.row_text(app, 9))
        self.assertEqual(ts.row_fill(app, 10), "#000000")

        for keys, page, first in ((["Right"], 2, 20), (["Right"], 3, 10), (["Right"], 3, 10),
                                  (["Left"], 2, 20), (["Home"], 1, 30), (["End"], 3, 10),
                                  (["Left", "Left", "Left"], 1, 30)):
            app.key(*keys)
            ts.wait_pager(app, (page, 3, 0, 30, 30))
            self.assertIn(f"Task {first:02}", ts.row_text(app, 0), keys)
        app.key("End")
        ts.wait_pager(app, (3, 3, 0, 30, 30))
        self.assertIn("Task 01", ts.row_text(app, 9))

    # Another program holding the database locked makes the save fail: the dialog must stay
    # open with what was typed and say so; once the lock is gone, Return saves it.
    @ts.shoot_on_failure
    def test_failed_save_keeps_the_dialog(self):
        app = self.start()
        ts.fill_task_dialog(app, "Renew passport")
        locker = sqlite3.connect(self.home.db_path, isolation_level=None)
        self.addCleanup(locker.close)
        locker.execute("BEGIN EXCLUSIVE")
        app.key("Return")
        ts.wait_save_refused(app, timeout=20)
        app.screenshot("task_dialog_save_failed")
        locker.execute("ROLLBACK")
        self.assertEqual(self.tasks(), [])
        app.key("Return")
        wait_until(lambda: [t.split("|")[0] for t in self.tasks()] == ["Renew passport"],
                   message="not saved after the lock was released")
        ts.wait_pager(app, (1, 1, 0, 1, 1))
        self.assertIn("Renew passport", ts.row_text(app, 0))


if __name__ == "__main__":
    unittest.main()
