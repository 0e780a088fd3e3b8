"""The reminder: a pending task due in five minutes raises the toast at the check that runs at
sign-in, and "Show" selects that task on the tasks page, keeping the task dialog that was being
filled in. A name that looks like markup is shown as typed and fetches nothing."""
import datetime
import socket
import time
import unittest
from zoneinfo import ZoneInfo

from harness import wait_until
import taskscreen as ts

TOAST = "#202020"
TOAST_BORDER = "#721675"
# Inside the toast's bottom-right corner (20 px from the window's corner), and its border.
TOAST_INSIDE = (ts.WIDTH - 26, ts.HEIGHT - 26)
TOAST_EDGE = (ts.WIDTH - 21, ts.HEIGHT - 26)
TOAST_AREA = (ts.WIDTH - 400, ts.HEIGHT - 250, 400, 250)


def iso(epoch):
    return datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%S.000Z")


class ReminderTest(ts.TasksTestCase):
    @ts.shoot_on_failure
    def test_due_task_raises_toast_and_show_selects_it(self):
        seeded = {}
        # A local port: any connection the program makes to it waits there to be accepted.
        listener = socket.create_server(("127.0.0.1", 0))
        listener.setblocking(False)
        self.addCleanup(listener.close)
        trip = "Plan <img src='http://127.0.0.1:%d/t.png'> trip" % listener.getsockname()[1]

        def seed():
            uid = self.home.sqlite3_cli("SELECT id FROM users")[0]
            now = int(time.time())
            due = now + 300
            later = now + 2 * 86400
            # Created in this order, so the page lists the due task last (row 2).
            rows = [("Renew insurance", 0, due), (trip, 0, later),
                    ("Read book", 1, now + 120)]
            self.home.sqlite3_cli(
                "INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch, create_at)"
                " VALUES " + ",".join(
                    f"({uid}, '{name.replace(chr(39), chr(39) * 2)}', {done}, '{iso(at)}', {at}, "
                    f"'2030-01-01 10:00:0{n}')"
                    for n, (name, done, at) in enumerate(rows)))
            seeded.update(due=due, at=time.time())

        app = self.start(before_sign_in=seed)
        self.assertIn("Renew insurance", ts.row_text(app, 2))
        app.key("Down")
        self.assertEqual(ts.selected_rows(app, 3), [0])

        # The check at sign-in announces it; the Done task due sooner is passed over.
        wait_until(lambda: app.pixel(*TOAST_INSIDE) == TOAST, timeout=10, interval=0.5,
                   message="no toast after sign-in")
        with self.assertRaises(BlockingIOError, msg="a task name fetched an image"):
            listener.accept()
        self.assertEqual(app.pixel(*TOAST_EDGE), TOAST_BORDER)
        due = datetime.datetime.fromtimestamp(seeded["due"], ZoneInfo(ts.ZONE))
        text = wait_until(lambda: app.read_text(*TOAST_AREA), message="the toast is blank")
        self.assertIn("Task expiring soon: Renew insurance", text)
        self.assertIn("Expire at: " + due.strftime("%Y-%m-%d %H:%M"), text)
        app.screenshot("toast")

        # A new task half typed when "Show" is pressed: the page selects the task and the
        # dialog keeps what was typed.
        app.key("ctrl+n")
        app.type("Call the bank")
        app.click_text("Show", *TOAST_AREA)
        wait_until(lambda: app.pixel(*TOAST_INSIDE) != TOAST, message="the toast stayed open")
        app.key("ctrl+g")
        time.sleep(0.5)
        app.key("Return")  # OK in the popup
        app.key("Return")  # Save
        wait_until(lambda: len(self.tasks()) == 4, message="the typed task was not saved")
        self.assertEqual(self.tasks()[-1].split("|")[0], "Call the bank")
        ts.wait_for(lambda: ts.selected_rows(app, 4), lambda got: got == [2],
                    "selected rows after Show", timeout=5)


if __name__ == "__main__":
    unittest.main()
