"""Reminders outside the window: desktop notifications through a mock notification server,
tasks missed while the program was closed, and one running program per data directory."""
import os
import pwd
import signal
import subprocess
import time
import unittest

from harness import DBusMock, XServer, notification_mock, wait_until
import taskscreen as ts
from test_reminder import TOAST, TOAST_AREA, TOAST_INSIDE, iso


class DesktopTest(ts.TasksTestCase):
    def seed_missed(self):
        """Before the program starts: the first account was last checked an hour ago."""
        now = int(time.time())
        self.last_check = now - 3600
        os.makedirs(os.path.dirname(self.home.settings_path))
        with open(self.home.settings_path, "w") as f:
            f.write(f"[lastReminderCheck]\n1={self.last_check}\n")

        def seed():
            rows = [("Pay <rent> & fees", 0, now - 1800), ("Call Bob", 0, now - 600),
                    ("Before the last check", 0, now - 7200), ("Done meanwhile", 1, now - 900),
                    ("Set to no reminder", 0, now - 1200)]
            self.home.sqlite3_cli(
                "INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch) VALUES "
                + ",".join(f"(1, '{name}', {done}, '{iso(at)}', {at})" for name, done, at in rows))
            self.home.sqlite3_cli("INSERT INTO task_reminders (task_id, user_id, lead_minutes) "
                                  "SELECT id, 1, -1 FROM tasks WHERE name = 'Set to no reminder'")
        return seed

    def focus_elsewhere(self, app):
        """Another program's window takes the focus: the program's window is no longer active."""
        other = subprocess.Popen(["xclock"], env=dict(os.environ, DISPLAY=app.xserver.display))
        self.addCleanup(other.wait)
        self.addCleanup(other.kill)
        found = wait_until(lambda: app.xdotool("search", "--onlyvisible", "--class", "xclock",
                                                check=False), message="no other window")
        app.xdotool("windowfocus", "--sync", found.split()[0])

    def start_in(self, directory, xserver, env):
        """Starts the program in a working directory of its own under the home."""
        path = os.path.join(self.home.root, directory)
        os.mkdir(path)
        previous = os.getcwd()
        os.chdir(path)
        try:
            return self.start_app(xserver, extra_env=env)
        finally:
            os.chdir(previous)

    def window_shown(self, app):
        return app.xdotool("search", "--onlyvisible", "--name", "^Task Manager$", check=False)

    def in_front(self, app):
        """The window is stacked above the other program's (xwininfo lists top to bottom)."""
        tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True,
                              env=dict(os.environ, DISPLAY=app.xserver.display)).stdout
        return tree.index('"Task Manager"') < tree.index('"xclock"')

    @ts.shoot_on_failure
    def test_missed_and_due_tasks_reach_the_desktop(self):
        mock = notification_mock(self.home)
        self.addCleanup(mock.close)
        app = self.start(before_sign_in=self.seed_missed())

        # Signed in at the window: the notice of missed tasks is a toast, not also a notification.
        wait_until(lambda: app.pixel(*TOAST_INSIDE) == TOAST, message="no missed-task toast")
        self.assertIn("2 tasks expired", app.read_text(*TOAST_AREA))
        self.assertEqual(mock.calls("Notify"), [])
        with open(self.home.settings_path) as f:
            self.assertNotIn(f"1={self.last_check}\n", f.read())

        # Out of sight, two tasks coming due a minute apart reach the desktop at the next check,
        # each in a notification of its own that stays.
        self.focus_elsewhere(app)
        due = int(time.time()) + 180
        self.home.sqlite3_cli(
            "INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch) VALUES "
            f"(1, 'Send invoice', 0, '{iso(due)}', {due}), "
            f"(1, 'Renew insurance', 0, '{iso(due + 60)}', {due + 60})")
        calls = wait_until(lambda: (lambda c: c if len(c) == 2 else None)(mock.calls("Notify")),
                           timeout=75, interval=1, message="no reminder notifications")
        self.assertEqual([c[1:4:2] for c in calls], [[0, "Task expiring soon: Send invoice"],
                                                     [0, "Task expiring soon: Renew insurance"]])
        self.assertIn("snooze-10m", calls[0][5])
        self.assertEqual(calls[0][7], 0)  # stays until acted on
        invoice_id, insurance_id = 1, 2  # the mock numbers notifications from 1
        self.assertEqual(mock.calls("CloseNotification"), [])

        # Snooze from the notification: stored for the task and its due time, that one closed.
        mock.run("mock.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us',"
                 f" [dbus.UInt32({invoice_id}), 'snooze-10m'])")
        snoozed = wait_until(lambda: self.home.sqlite3_cli(
            "SELECT s.due_epoch, s.until_epoch - strftime('%s', 'now') FROM task_snoozes s "
            "JOIN tasks t ON t.id = s.task_id WHERE t.name = 'Send invoice'"),
            message="the snooze was not stored")
        got_due, left = snoozed[0].split("|")
        self.assertEqual(int(got_due), due)
        self.assertTrue(560 < int(left) <= 600, left)
        wait_until(lambda: [invoice_id] in mock.calls("CloseNotification"),
                   message="the snoozed notification stayed")

        mock.run("mock.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us',"
                 f" [dbus.UInt32({insurance_id}), 'show'])")
        wait_until(lambda: self.in_front(app), message="the window did not come to the front")
        ts.wait_for(lambda: ts.selected_rows(app, 7), lambda got: got == [0],
                    "selected rows after Show", timeout=5)
        wait_until(lambda: [insurance_id] in mock.calls("CloseNotification"),
                   message="the shown notification stayed")
        self.assertEqual(len(mock.calls("Notify")), 2)

    @ts.shoot_on_failure
    def test_kept_sign_in_reminds_after_a_start_at_login(self):
        # Signed in once with "Keep me signed in on this computer" ticked (after the buttons
        # and the "Forgot password?" link).
        self.app = app = self.start_window()
        ts.register(app, "Ada Lovelace", "ada", "correct horse")
        app.type("correct horse")
        app.key("Tab", "Tab", "Tab", "Tab", "space", "shift+Tab", "shift+Tab", "shift+Tab",
                "space")
        wait_until(lambda: "Welcome" in app.read_text(0, 0, 400, ts.TABLE_TOP), timeout=15,
                   message="the tasks page did not open")
        token_file = os.path.join(os.path.dirname(self.home.db_path), "kept-sign-in")
        kept = wait_until(lambda: self.home.query("SELECT hex(token_hash) FROM kept_signins"),
                          message="the sign-in was not kept")
        # No secret service on the test's bus: a file only its owner reads, the hash elsewhere.
        self.assertEqual(os.stat(token_file).st_mode & 0o777, 0o600)
        with open(token_file) as f:
            self.assertNotIn(f.read().strip().upper(), kept[0][0])
        app.close_window()
        self.assertEqual(app.wait_exit(30), 0, app.output())

        # Started at login: no window, no input, and still the reminder.
        mock = notification_mock(self.home)
        self.addCleanup(mock.close)
        due = int(time.time()) + 180
        self.home.sqlite3_cli("INSERT INTO tasks (user_id, name, active, expire_at, "
                              f"expire_at_epoch) VALUES (1, 'Pay rent', 0, '{iso(due)}', {due})")
        self.app = app = self.start_app(app.xserver, extra_env={"TZ": ts.ZONE},
                                        arguments=["--background"])
        calls = wait_until(lambda: mock.calls("Notify"), timeout=30,
                           message="no reminder after a start at login")
        self.assertEqual(calls[0][3], "Task expiring soon: Pay rent")

        # Show, then sign out: the kept sign-in is forgotten everywhere.
        mock.run("mock.EmitSignal('org.freedesktop.Notifications', 'ActionInvoked', 'us',"
                 " [dbus.UInt32(1), 'show'])")
        wait_until(lambda: self.window_shown(app), message="the window did not show")
        wait_until(lambda: "Welcome" in app.read_text(0, 0, 400, ts.TABLE_TOP),
                   message="the kept sign-in did not open the tasks page")
        app.key("ctrl+l")
        wait_until(lambda: not self.home.query("SELECT 1 FROM kept_signins"),
                   message="signing out kept the sign-in")
        self.assertFalse(os.path.exists(token_file))

    def check_toast_alone(self):
        app = self.start(before_sign_in=self.seed_missed())
        wait_until(lambda: app.pixel(*TOAST_INSIDE) == TOAST, message="no toast")
        self.assertIn("2 tasks expired", app.read_text(ts.WIDTH - 400, ts.HEIGHT - 250, 400, 250))
        app.close_window()
        self.assertEqual(app.wait_exit(30), 0, app.output())

    @ts.shoot_on_failure
    def test_without_notification_server_the_toast_still_shows(self):
        self.check_toast_alone()

    @ts.shoot_on_failure
    def test_a_server_that_never_answers_holds_nothing_up(self):
        mock = notification_mock(self.home)
        self.addCleanup(mock.close)
        mock.run("mock.AddMethod('org.freedesktop.Notifications', 'Notify', 'susssasa{sv}i', 'u',"
                 " 'time.sleep(120)')")
        self.check_toast_alone()

    def test_closed_window_stays_in_the_tray(self):
        name = "org.kde.StatusNotifierWatcher"
        tray = DBusMock(self.home, name, "/StatusNotifierWatcher", name, "/StatusNotifierWatcher",
                        name)
        self.addCleanup(tray.close)
        tray.run(f"mock.AddProperty({name!r}, 'IsStatusNotifierHostRegistered', True)\n"
                 f"mock.AddProperty({name!r}, 'ProtocolVersion', 0)\n"
                 f"mock.AddMethod({name!r}, 'RegisterStatusNotifierItem', 's', '', '')")
        os.makedirs(os.path.dirname(self.home.settings_path))
        with open(self.home.settings_path, "w") as f:
            f.write("[General]\nkeepRunningInBackground=true\n")
        app = self.start_window()
        wait_until(lambda: tray.calls("RegisterStatusNotifierItem"), message="no tray icon")
        app.close_window()
        wait_until(lambda: not self.window_shown(app), message="the window stayed open")
        self.assertEqual(self.start_app(app.xserver).wait_exit(30), 0)
        wait_until(lambda: self.window_shown(app), message="the window did not come back")
        app.window = None  # closing it would only hide it again: the clean-up ends it by signal

    def test_second_start_shows_the_running_window(self):
        first = self.start_window()
        self.focus_elsewhere(first)
        second = self.start_app(first.xserver)
        self.assertEqual(second.wait_exit(30), 0, second.output())
        wait_until(lambda: self.in_front(first), message="the first window stayed behind")
        windows = first.xdotool("search", "--name", "^Task Manager$").split()
        self.assertEqual(len(windows), 1)

        # A program that was killed leaves its lock and socket behind: the next start takes over.
        first.proc.send_signal(signal.SIGKILL)
        first.wait_exit()
        third = self.start_app(first.xserver)
        third.wait_window()

    def test_second_start_without_runtime_directory_shows_the_running_window(self):
        # su, ssh and cron leave XDG_RUNTIME_DIR unset, and Qt's fallback in the temporary
        # directory may be another user's: starts from different directories still find the
        # one running program, through the data directory.
        tmp = os.path.join(self.home.root, "tmp")
        os.mkdir(tmp)
        with open(os.path.join(tmp, "runtime-" + pwd.getpwuid(os.geteuid()).pw_name), "w") as f:
            f.write("not a directory of ours")
        env = {"XDG_RUNTIME_DIR": "", "TMPDIR": tmp, "TZ": ts.ZONE}
        xserver = XServer(ts.WIDTH, ts.HEIGHT)
        self.addCleanup(xserver.close)
        first = self.start_in("first", xserver, env)
        first.wait_window()
        self.focus_elsewhere(first)
        second = self.start_in("second", xserver, env)
        self.assertEqual(second.wait_exit(30), 0, second.output())
        self.assertNotIn("DBPATH", second.output())
        wait_until(lambda: self.in_front(first), message="the first window stayed behind")
        self.assertEqual(len(first.xdotool("search", "--name", "^Task Manager$").split()), 1)


if __name__ == "__main__":
    unittest.main()
