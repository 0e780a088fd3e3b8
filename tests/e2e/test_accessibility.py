"""The program as a screen reader user meets it: every step finds its control by role and name in
the accessibility tree, and every check reads the tree, the events a screen reader speaks and
the database, never the pixels."""
import datetime
import os
import socket
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

        # Back on the sign-in page with the new user name filled in: a wrong password is
        # announced, the fields keep their text.
        reader.wait("page tab", "Login")
        self.assertEqual(reader.focused()["name"], "Password")
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

    def walk(self, within, expected):
        """The controls showing in `within`: every one named, every button, check box and tab
        pressable; their names must include `expected`."""
        controls = self.app.reader.controls(CONTROLS, within)
        for control in controls:
            self.assertTrue(control["name"], f"a {control['role']} without a name")
            if control["role"] in PRESSABLE:
                self.assertIn("Press", control["actions"], control["name"])
        named = {c["name"]: c for c in controls}
        self.assertLessEqual(set(expected), set(named), named.keys())
        return named

    # Every control of both account pages and of each tab of the settings dialog has a name and
    # does what a screen reader's Press or Toggle asks.
    @ts.shoot_on_failure
    def test_every_control_named_and_pressable(self):
        self.app = app = self.start_window()
        reader = app.reader
        self.walk(reader.wait("page tab", "Login"), ["Username", "Password", "Sign in",
                                                     "Create account"])
        reader.press(reader.find("push button", "Create account"))
        page = reader.wait("page tab", "Create account")
        self.assertEqual(reader.focused()["name"], "Full name")
        self.walk(page, ["Full name", "Username", "Password", "Confirm password", "Back",
                         "Register"])
        for text in ("Ada Lovelace", "ada", "correct horse", "correct horse"):
            app.type(text)
            app.key("Tab")
        reader.press(reader.find("push button", "Register"))
        self.announced("alert", "Account created, sign in")

        app.type("correct horse")
        app.key("Return")
        reader.press(reader.wait("push button", "Settings"))
        dialog = reader.wait("dialog", "Settings")

        # Reminders: a Press ticks "Start at login", which writes its entry on OK.
        self.walk(dialog, ["Reminders", "Sync", "Tasks in and out", "Shortcuts",
                           "Minutes before task expiration", "Choose sound (WAV/MP3)",
                           "Start at login", "OK", "Cancel"])
        reader.press(reader.find("check box", "Start at login"))
        reader.press(reader.find("push button", "OK"))
        wait_until(lambda: os.listdir(self.home.config).count("autostart"),
                   message="no autostart entry")
        reader.press(reader.wait("push button", "Settings"))
        self.assertIn("checked", reader.wait("check box", "Start at login")["states"])

        # Sync: "Test connection" reaches the server typed, a socket of this test.
        server = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(server.close)
        server.settimeout(20)
        reader.press(reader.find("page tab", "Sync"))
        self.walk(dialog, ["Server address", "User name", "Password", "Test connection"])
        for name, text in (("Server address", "https://127.0.0.1:%d/" % server.getsockname()[1]),
                           ("User name", "ada")):
            reader.press(reader.find("text", name), "SetFocus")
            app.type(text)
        reader.press(reader.find("push button", "Test connection"))
        server.accept()[0].close()

        # Export and import: what their Press opens, a file dialog, a Quick Test checks; with a
        # screen reader attached, Qt 6.4 crashes at exit once a file dialog was shown.
        reader.press(reader.find("page tab", "Tasks in and out"))
        self.walk(dialog, ["Export tasks...", "Import tasks..."])
        reader.press(reader.find("push button", "Cancel"))


# The roles of what a person operates, and of those among them that a Press operates.
CONTROLS = ("push button", "check box", "text", "password text", "spin button", "page tab",
            "combo box")
PRESSABLE = ("push button", "check box", "page tab")


if __name__ == "__main__":
    unittest.main()
