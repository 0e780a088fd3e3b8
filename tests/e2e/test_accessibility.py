"""The program as a screen reader user meets it: every step finds its control by role and name in
the accessibility tree, and every check reads the tree, the events a screen reader speaks and
the database, never the pixels."""
import datetime
import time
import unittest
from zoneinfo import ZoneInfo

from harness import wait_until
import taskscreen as ts


class AccessibilityTest(ts.TasksTestCase):
    def announced(self, role, text):
        """Waits until an object of this role holding text has appeared (a screen reader speaks
        it then) and returns its name."""
        seen = []

        def appeared():
            seen.extend(e for e in self.app.reader.events()
                        if e["type"] == "object:state-changed:showing" and e["detail1"] == 1)
            return next((e["name"] for e in seen if e["role"] == role and text in e["name"]),
                        None)

        return wait_until(appeared, timeout=10,
                          message=f"no {role} with {text!r} appeared; seen {seen}")

    @ts.shoot_on_failure
    def test_sign_in_create_read_back_and_hear_the_reminder(self):
        def seed():
            # A pending task due in five minutes: the check at sign-in raises its reminder.
            uid = self.home.sqlite3_cli("SELECT id FROM users")[0]
            due = int(time.time()) + 300
            at = datetime.datetime.fromtimestamp(due, datetime.timezone.utc)
            self.home.sqlite3_cli(
                "INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch, create_at)"
                f" VALUES ({uid}, 'Renew insurance', 0, '{at:%Y-%m-%dT%H:%M:%S.000Z}', {due},"
                " '2020-01-01 10:00:00')")

        self.app = app = self.start_window()
        reader = app.reader
        ts.register(app, "Ada Lovelace", "ada", "correct horse")
        seed()

        # Back on the sign-in page: a wrong password is announced, the fields keep their text.
        reader.wait("page tab", "Login")
        app.key("Tab", "Tab")  # from "Create account", past the link, to the user name
        self.assertEqual(reader.focused()["name"], "Username")
        app.type("ada")
        app.key("Tab")
        app.type("wrong horse")
        reader.events()
        reader.press(reader.find("push button", "Sign in"))
        self.announced("alert", "Invalid credentials (or user inactive).")
        self.assertEqual(reader.find("text", "Username")["text"], "ada")

        app.key("ctrl+a")
        app.type("correct horse")
        reader.press(reader.find("push button", "Sign in"))
        reader.wait("page tab", "Tasks")

        # The reminder raised at sign-in is announced; the keyboard starts in the table.
        self.announced("notification", "Task expiring soon: Renew insurance")
        self.assertEqual(reader.focused()["name"], "Tasks")

        # A task made with the keyboard reads back from the table's cells as the database has it.
        ts.fill_task_dialog(app, "Write report", days=1, hour=9, minute=30)
        app.key("Return")
        table = reader.find("table", "Tasks")
        rows = wait_until(lambda: [r for r in reader.rows(table) if "Write report" in r],
                          message="the new task is not among the cells")
        task_id, epoch = self.home.sqlite3_cli(
            "SELECT id || '|' || expire_at_epoch FROM tasks WHERE name = 'Write report'"
        )[0].split("|")
        due = datetime.datetime.fromtimestamp(int(epoch), ZoneInfo(ts.ZONE))
        self.assertEqual(rows[0][:3], [task_id, "Write report", "Pending"])
        self.assertIn(due.strftime("%d %B 09:30"), rows[0][3])

        # Down selects the newest task and the focus follows it, onto its name.
        app.key("Down")
        focused = wait_until(lambda: reader.focused(), message="nothing has the focus")
        self.assertEqual((focused["role"], focused["name"]), ("table cell", "Write report"))
        self.assertIn("selected", focused["states"])

        # Down on the focused filter box changes the filter, not the selection: no task is Done.
        app.key("ctrl+f", "Tab")
        self.assertEqual(reader.focused()["name"], "Show tasks")
        app.key("Down")
        wait_until(lambda: reader.rows(table) == [], message="the Done filter did not apply")
        app.key("Up")
        wait_until(lambda: len(reader.rows(table)) == 2, message="the filter did not go back")

        # The reminder's Dismiss has a key of its own.
        app.key("ctrl+shift+d")
        wait_until(lambda: reader.find("notification") is None, message="the toast stayed")
        self.assertEqual(len(self.tasks()), 2)


if __name__ == "__main__":
    unittest.main()
