"""Sign-in and registration in a real window, driven with the keyboard and the mouse."""
import hashlib
import os
import sqlite3
import subprocess
import time

from harness import AppTestCase, wait_until

TOMATO = "#ff6347"

# Window regions (x, y, width, height) and points of the 1300 x 700 window.
ERROR_LABEL = (470, 375, 360, 30)  # between the password field and the buttons
LOGIN_HEADING = (470, 255, 120, 30)
GREETING = (5, 10, 300, 40)  # "Welcome, ..." at the left end of the tasks page's toolbar


def colours(app, x, y, width, height):
    """The set of colours ('#rrggbb') in a region of the window."""
    geometry = app.xdotool("getwindowgeometry", "--shell", app.window)
    origin = dict(line.split("=", 1) for line in geometry.splitlines())
    left, top = x + int(origin["X"]), y + int(origin["Y"])
    env = dict(os.environ, DISPLAY=app.xserver.display)
    out = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{left}+{top}",
                          "-depth", "8", "txt:-"], env=env, check=True, timeout=60,
                         capture_output=True, text=True).stdout
    found = set()
    for line in out.splitlines()[1:]:
        parts = line.split()
        if len(parts) >= 3 and parts[2].startswith("#"):
            found.add(parts[2][:7].lower())
    return found


def add_account(home, username, password, full_name):
    """Stores an account the way the program does: PBKDF2-HMAC-SHA256 over a 32-byte salt."""
    salt = os.urandom(32)
    key = hashlib.pbkdf2_hmac("sha256", password.encode(), salt, 100000, 32)
    with sqlite3.connect(home.db_path, timeout=5) as conn:
        conn.execute("INSERT INTO users (username, password_hash, salt, name, role, active) "
                     "VALUES (?, ?, ?, ?, 'user', 1)", (username, key, salt, full_name))


class LoginTest(AppTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.start_window()

    def shows(self, colour, region):
        return colour in colours(self.app, *region)

    def sign_in_page_shown(self):
        return self.shows("#ffffff", LOGIN_HEADING) and not self.shows("#ffffff", GREETING)

    def wait_tasks_page(self):
        wait_until(lambda: self.shows("#ffffff", GREETING), message="the tasks page did not open")
        self.assertFalse(self.shows("#ffffff", LOGIN_HEADING))

    def test_typing_name_tab_password_return_signs_in(self):
        add_account(self.home, "ada", "analytical engine", "Ada Lovelace")
        self.assertTrue(self.sign_in_page_shown())
        self.app.screenshot("login")

        # No click first: the keyboard focus starts in the user name field.
        self.app.type("ada")
        self.app.key("Tab")
        self.app.type("analytical engine")
        self.app.key("Return")

        self.wait_tasks_page()

    def test_return_in_user_name_field_does_not_sign_in(self):
        add_account(self.home, "grace", "compiler 1952", "Grace Hopper")
        self.app.type("grace")
        self.app.key("Tab")
        self.app.type("compiler 1952")
        self.app.key("shift+Tab", "Return")
        time.sleep(1)

        self.assertTrue(self.sign_in_page_shown())
        self.assertNotIn(TOMATO, colours(self.app, *ERROR_LABEL))

        self.app.key("Tab", "Return")
        self.wait_tasks_page()

    def test_wrong_password_keeps_fields_and_shows_error_in_tomato(self):
        add_account(self.home, "alan", "enigma machine", "Alan Turing")
        self.app.type("alan")
        self.app.key("Tab")
        self.app.type("enigma")
        self.app.key("Return")

        wait_until(lambda: self.shows(TOMATO, ERROR_LABEL),
                   message="no error in tomato below the password field")
        self.assertTrue(self.sign_in_page_shown())
        self.app.screenshot("login_refused")

        # Both fields kept what was typed: finishing the password is enough to sign in now.
        self.app.key("End")
        self.app.type(" machine")
        self.app.key("Return")
        self.wait_tasks_page()

    def test_register_then_sign_in(self):
        app = self.app
        app.key("Tab", "Tab", "Tab", "space")  # password field, "Sign in", "Create account"
        # The registration page opens with the keyboard in its first field; Return in the last
        # one registers.
        wait_until(lambda: (app.reader.focused() or {}).get("name") == "Full name",
                   message="the registration page did not take the focus")
        for text in ("  Edsger Dijkstra ", " edsger ", "shortest path"):
            app.type(text)
            app.key("Tab")
        app.type("shortest path")
        app.key("Return")

        wait_until(self.sign_in_page_shown, message="the sign-in page did not come back")
        self.assertEqual(self.home.sqlite3_cli(
            "SELECT username || '|' || name || '|' || length(salt) || '|' || "
            "length(password_hash) FROM users"), ["edsger|Edsger Dijkstra|32|32"])

        # The new user name is filled in; the password is all that is left to type.
        self.assertEqual(app.reader.find("text", "Username")["text"], "edsger")
        app.type("shortest path")
        app.key("Return")
        self.wait_tasks_page()
