"""Steps and screen readings shared by the end-to-end tests of the task workflow.

The program runs in an X server exactly as large as its 1300 x 700 window, so screen and
window coordinates are the same. The tasks page has a 12 px margin and a toolbar of 32 px
controls, so its table starts at y 54; every row is 36 px high with 1 px between rows.
"""
import datetime
import functools
import re
import sys
import time
from zoneinfo import ZoneInfo

from harness import AppTestCase, wait_until

WIDTH, HEIGHT = 1300, 700
# The program runs half an hour off whole hours from UTC, so a wrong conversion shows.
ZONE = "Asia/Kolkata"
TABLE_TOP = 54
ROW_STEP = 37
SELECTED = "#721675"
EVEN_ROW, ODD_ROW = "#1b1b1b", "#161616"
DONE_DOT = "#8bc34a"
# Inside the ID column, right of short ids: the cell's own fill.
FILL_X = 75
# The centre of the Done column's dot.
DOT_X = 12 + 70 + 1 + (WIDTH - 24 - 610) + 1 + 45
# The task dialog, centred on the page: where it shows its messages.
DIALOG = (350, 200, 600, 300)



def shoot_on_failure(test):
    """Leaves a screenshot "failed_<test>" behind when a test fails, to see what went wrong."""
    @functools.wraps(test)
    def run(self):
        try:
            test(self)
        except Exception:
            if getattr(self, "app", None) is not None:
                self.app.screenshot("failed_" + test.__name__)
                # What the program said, for a failure seen only on another machine.
                print("--- the program's output:\n" + self.app.output()[-4000:], file=sys.stderr)
            raise
    return run


def press(app, *keys, delay=25):
    """Sends keys in one quick burst (for long runs such as 23 times Ctrl+Down)."""
    app.xdotool("key", "--delay", str(delay), *keys)
    time.sleep(0.3)


def register(app, full_name, username, password):
    """From the sign-in page: "Create account", fill the form, "Register" (keyboard only)."""
    app.key("Tab", "Tab", "Tab", "space")  # user name -> password -> Sign in -> Create account
    time.sleep(0.8)  # the registration page opens with the focus in its first field
    app.type(full_name)
    app.key("Tab")
    app.type(username)
    app.key("Tab")
    app.type(password)
    app.key("Tab")
    app.type(password)
    app.key("Tab", "Tab", "space")  # Back -> Register
    time.sleep(0.8)


def sign_in(app, username, password, after_registration=False):
    if not after_registration:
        # After a registration the user name is filled in and the password field has the focus.
        app.type(username)
        app.key("Tab")
    app.type(password)
    app.key("Return")
    wait_until(lambda: "Welcome" in app.read_text(0, 0, 400, TABLE_TOP), timeout=15,
               message="the tasks page did not open")


def pick_time(app, days=0, hour=None, minute=None):
    """In the open due-time popup: move the calendar day with the arrow keys, then bring the
    hour and minute to the wanted values by running into 0 first."""
    if days:
        press(app, *(["Right" if days > 0 else "Left"] * abs(days)))
    if hour is not None:
        press(app, *(["ctrl+Down"] * 23 + ["ctrl+Up"] * hour))
    if minute is not None:
        press(app, *(["ctrl+Left"] * 59 + ["ctrl+Right"] * minute))


def fill_task_dialog(app, name, days=0, hour=None, minute=None, done=False, screenshots=False):
    """Ctrl+N, the name, the due time picked in the popup (today's default unless moved) and,
    if asked, Done; the dialog stays open for Return to save it."""
    app.key("ctrl+n")
    app.type(name)
    app.key("ctrl+g")
    time.sleep(0.5)
    pick_time(app, days, hour, minute)
    if screenshots:
        app.screenshot("due_time_popup")
    app.key("Return")  # OK in the popup
    if done:
        app.key("ctrl+d")
    if screenshots:
        app.screenshot("task_dialog")


def wait_save_refused(app, timeout=10):
    """Waits until the open task dialog says that it could not save the task."""
    wait_for(lambda: app.read_text(*DIALOG), lambda got: "could not save the task" in got,
             "no error in the dialog", timeout)


def row_centre(row):
    return TABLE_TOP + row * ROW_STEP + 18


def row_fill(app, row):
    return app.pixel(FILL_X, row_centre(row))


def row_text(app, row):
    return app.read_text(12, TABLE_TOP + row * ROW_STEP, WIDTH - 24, 36)


def selected_rows(app, rows):
    return [r for r in range(rows) if row_fill(app, r) == SELECTED]


def pager(app):
    """The pager and counters as numbers: page, pages, done, pending, total."""
    text = app.read_text(0, HEIGHT - 52, 700, 52)
    found = re.search(r"Page (\d+) / (\d+).*Done: (\d+).*Pending: (\d+).*Total: (\d+)", text)
    if not found:
        return text
    return tuple(int(g) for g in found.groups())


def wait_for(read, check, what, timeout=10):
    """Reads a value until check(value) holds; fails with the last value read."""
    seen = []

    def ok():
        seen.append(read())
        return check(seen[-1])

    try:
        wait_until(ok, timeout=timeout, interval=0.3)
    except AssertionError:
        raise AssertionError("%s: last read %r" % (what, seen[-1] if seen else None))
    return seen[-1]


def wait_pager(app, expected, timeout=10):
    """Waits until the pager reads (page, pages, done, pending, total) = expected."""
    wait_for(lambda: pager(app), lambda got: got == expected, "pager %r" % (expected,), timeout)


class TasksTestCase(AppTestCase):
    """Starts the program in its own window-sized X server with a new account signed in."""

    def start_window(self):
        """The program in an X server exactly as large as its window, in ZONE."""
        return super().start_window(WIDTH, HEIGHT, extra_env={"TZ": ZONE})

    def start(self, username="ada", full_name="Ada Lovelace", password="correct horse",
              before_sign_in=None):
        self.app = self.start_window()
        register(self.app, full_name, username, password)
        self.assertEqual(self.home.sqlite3_cli("SELECT username, name FROM users"),
                         [f"{username}|{full_name}"])
        if before_sign_in:
            before_sign_in()
        sign_in(self.app, username, password, after_registration=True)
        return self.app

    def tasks(self):
        """The tasks as the database file holds them: name|active|expire_at_epoch."""
        return self.home.sqlite3_cli(
            "SELECT name, active, expire_at_epoch FROM tasks ORDER BY id")

    @staticmethod
    def now():
        return datetime.datetime.now(ZoneInfo(ZONE))

    @staticmethod
    def local_epoch(day, hour, minute):
        moment = datetime.datetime.combine(day, datetime.time(hour, minute), ZoneInfo(ZONE))
        return int(moment.timestamp())
