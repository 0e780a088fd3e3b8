"""Runs the built program as a person would: in its own X server, with private XDG directories.
A program with a window publishes its accessibility tree, which the tests read instead of pixels.

The program under test is named by TARVIK_APP; screenshots go to $TARVIK_BUILD_DIR/screenshots.
"""
import ctypes
import json
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import tempfile
import time
import unittest

from atspi import ScreenReader

APP = os.environ.get("TARVIK_APP", os.path.join(os.path.dirname(__file__), "../../build/appTarvikQml"))
BUILD_DIR = os.environ.get("TARVIK_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
SCREENSHOTS = os.path.join(BUILD_DIR, "screenshots")
# Debian's python3-dbusmock and python3-dbus belong to the system's interpreter.
SYSTEM_PYTHON = "/usr/bin/python3"
# Roles whose name belongs to what they hold rather than to a place on the screen.
CONTAINERS = {"frame", "layered pane", "page tab", "dialog", "table", "filler", "panel",
              "scroll pane", "notification"}


class Home:
    """A private HOME with XDG data and config directories; removed on close."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="tarvik-e2e-")
        self.data = os.path.join(self.root, "data")
        self.config = os.path.join(self.root, "config")
        self.runtime = os.path.join(self.root, "runtime")
        for d in (self.data, self.config, self.runtime):
            os.makedirs(d, mode=0o700)
        self.bus_address = None

    @property
    def db_path(self):
        return os.path.join(self.data, "appTarvikQml", "taskmanager.db")

    @property
    def settings_path(self):
        return os.path.join(self.config, "Brellhaven", "TarvikQtQml.conf")

    def env(self, **extra):
        env = dict(os.environ)
        env.update(HOME=self.root, XDG_DATA_HOME=self.data, XDG_CONFIG_HOME=self.config,
                   XDG_RUNTIME_DIR=self.runtime, QT_QUICK_BACKEND="software",
                   QT_LOGGING_RULES="qt.qpa.*=false")
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        env.update(extra)
        return env

    def query(self, sql, params=()):
        """Reads the database file the way another program would."""
        with sqlite3.connect(self.db_path, timeout=5) as conn:
            return conn.execute(sql, params).fetchall()

    def sqlite3_cli(self, sql):
        """Runs sql through the sqlite3 command-line tool and returns its output lines.

        Like query, it waits up to five seconds for a lock the program holds (while it creates
        the schema, for one) instead of failing at once."""
        out = subprocess.run(["sqlite3", "-cmd", ".timeout 5000", self.db_path, sql], check=True,
                             capture_output=True, text=True, timeout=30).stdout
        return out.splitlines()

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


# The tests' bus configuration: it starts none of the machine's own services.
BUS_CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../session-bus.conf")


class SessionBus:
    """A private D-Bus session bus, so that no test reaches (or autostarts) another bus. The only
    service it starts on demand is the accessibility bus: a notification daemon installed on the
    machine would otherwise take the name a test's mock is about to take."""

    def __init__(self):
        self.proc = subprocess.Popen(["dbus-daemon", "--config-file=" + BUS_CONFIG, "--nofork",
                                      "--print-address=1"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.proc.stdout.readline().strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


class DBusMock:
    """A python3-dbusmock service on the home's bus, which records every call made to it."""

    def __init__(self, home, name, path, *arguments):
        self.env = home.env()
        self.prelude = ("import dbus, json, sys\n"
                        f"mock = dbus.Interface(dbus.SessionBus().get_object({name!r}, {path!r}),"
                        " 'org.freedesktop.DBus.Mock')\n")
        self.proc = subprocess.Popen([SYSTEM_PYTHON, "-m", "dbusmock", *arguments], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Until the mock has taken its name and set up its control interface, calls fail.
        wait_until(lambda: self.run("mock.GetCalls()\nprint(json.dumps(True))", check=False),
                   timeout=15, message=f"the mock of {name} did not start")

    def run(self, code, check=True):
        """Runs code with `mock` bound to the mock's control interface; returns what it prints."""
        done = subprocess.run([SYSTEM_PYTHON, "-c", self.prelude + code], env=self.env,
                              capture_output=True, text=True, timeout=30)
        if done.returncode != 0:
            if check:
                raise AssertionError(done.stderr)
            return None
        return json.loads(done.stdout) if done.stdout else None

    def calls(self, method):
        """The arguments of every call of method, oldest first."""
        return [args for _, name, args in self.run("print(json.dumps(mock.GetCalls()))")
                if name == method]

    def close(self):
        self.proc.terminate()
        self.proc.wait(10)


def notification_mock(home, capabilities="body body-markup actions"):
    """The notification daemon template: Notify answers with increasing ids from 1."""
    return DBusMock(home, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                    "--template", "notification_daemon", "-p",
                    json.dumps({"capabilities": capabilities}))


class XServer:
    """An Xvfb server on a display number of its own; what it says goes to a log of its own."""

    def __init__(self, width=1600, height=1000):
        self.size = f"{width}x{height}x24"
        fd, self.log_path = tempfile.mkstemp(prefix="tarvik-xvfb-", suffix=".log")
        os.close(fd)
        self.start()

    def start(self):
        # Servers of tests running side by side end and start all the time; a server that takes
        # a number another one is just giving up can lose its socket to the other's clean-up, so
        # each server gets a random number from a wide range instead of the lowest free one.
        for _ in range(20):
            number = random.randrange(200, 30000)
            if os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            read_fd, write_fd = os.pipe()
            with open(self.log_path, "a") as log:
                self.proc = subprocess.Popen(
                    # No key repeats itself: on a busy machine a key sent as pressed may be
                    # released only after the repeat delay.
                    ["Xvfb", f":{number}", "-displayfd", str(write_fd), "-screen", "0",
                     self.size, "-nolisten", "tcp", "-ardelay", "60000"], pass_fds=(write_fd,),
                    stdout=subprocess.DEVNULL, stderr=log)
            os.close(write_fd)
            with os.fdopen(read_fd) as f:
                ready = f.readline().strip()
            if ready:
                self.display = f":{ready}"
                return
            self.proc.wait()
        raise RuntimeError("Xvfb did not start:\n" + self.log())

    def reachable(self):
        """Whether the server runs and a client can connect to it now."""
        if self.proc.poll() is not None:
            return False
        return subprocess.run(["xdpyinfo"], env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, timeout=30).returncode == 0

    def restart(self):
        self.stop()
        with open(self.log_path, "a") as log:
            log.write(f"--- {self.display} vanished; a new server starts\n")
        self.start()

    def log(self):
        try:
            with open(self.log_path) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()

    def close(self):
        self.stop()
        os.remove(self.log_path)


class App:
    """The program running in an X server; offers keyboard, mouse and screenshot helpers, and
    `reader`, which reads its accessibility tree."""

    def __init__(self, home, xserver=None, platform="xcb", extra_env=None, program=APP,
                 arguments=()):
        self.home = home
        self.xserver = xserver
        self.reader = None
        self.bus = None
        env = home.env(**(extra_env or {}))
        env["QT_QPA_PLATFORM"] = platform
        if xserver:
            env["DISPLAY"] = xserver.display
            if not home.bus_address:
                self.bus = SessionBus()
                env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.address
            # The reader's bus keeps its socket in the home's runtime directory, whatever the
            # program is given.
            self.reader = ScreenReader(dict(env, XDG_RUNTIME_DIR=home.runtime))
            env.update(ScreenReader.app_env())
        self.log_path = os.path.join(home.root, "app.log")
        self.log = open(self.log_path, "w")
        self.env, self.program, self.restarted = env, [program, *arguments], False
        self.proc = subprocess.Popen(self.program, env=env, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.window = None

    def ended_without_display(self):
        """When the program ended because it could not reach its X server: starts it again, once
        (on a new server if the old one has vanished, as servers of tests running side by side
        sometimes do), and returns True; fails with the server's own log the second time."""
        if not self.xserver or "no Qt platform plugin could be initialized" not in self.output():
            return False
        if self.restarted:
            raise AssertionError("the program could not reach the X server %s:\n%s\n"
                                 "The X server's log:\n%s"
                                 % (self.xserver.display, self.output(), self.xserver.log()))
        self.restarted = True
        if self.xserver.reachable():
            self.log.write("--- %s did not take the program; it starts again\n"
                           % self.xserver.display)
        else:
            self.xserver.restart()
            self.env["DISPLAY"] = self.xserver.display
            self.log.write("--- the X server vanished; the program starts again on %s\n"
                           % self.xserver.display)
        self.log.flush()
        self.proc = subprocess.Popen(self.program, env=self.env, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        return True

    # -- process -------------------------------------------------------------
    def output(self):
        self.log.flush()
        with open(self.log_path) as f:
            return f.read()

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout)

    def close(self):
        """Ends the program as a person does, by closing its window, so that it shuts down in full
        (and a sanitizer build checks for leaks); a nonzero exit then fails the test. Without a
        window, or when closing does not end it, SIGTERM ends it."""
        try:
            if self.proc.poll() is None and self.window and self.xserver:
                self.close_window()
                try:
                    code = self.proc.wait(30)
                except subprocess.TimeoutExpired:
                    code = None
                if code not in (None, 0):
                    raise AssertionError("closing the window ended the program with %d:\n%s"
                                         % (code, self.output()))
            if self.proc.poll() is None:
                self.proc.send_signal(signal.SIGTERM)
                try:
                    self.proc.wait(10)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait()
        finally:
            self.log.close()
            if self.reader:
                self.reader.close()
            if self.bus:
                self.bus.close()

    # -- X helpers -----------------------------------------------------------
    def xdotool(self, *args, check=True):
        env = dict(os.environ, DISPLAY=self.xserver.display)
        return subprocess.run(["xdotool", *map(str, args)], env=env, capture_output=True,
                              text=True, check=check, timeout=30).stdout.strip()

    def wait_window(self, title="Task Manager", timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.proc.poll() is not None and not self.ended_without_display():
                raise AssertionError("the program ended early:\n" + self.output())
            ids = self.xdotool("search", "--onlyvisible", "--name", f"^{title}$", check=False)
            if ids:
                self.window = ids.splitlines()[0]
                self.xdotool("windowactivate", "--sync", self.window, check=False)
                self.xdotool("windowfocus", "--sync", self.window, check=False)
                time.sleep(0.8)  # let the first frame and the initial focus settle
                return self.window
            time.sleep(0.2)
        raise AssertionError("no window titled %r appeared:\n%s" % (title, self.output()))

    def type(self, text):
        self.xdotool("type", "--delay", "40", text)
        time.sleep(0.2)

    def key(self, *keys):
        for k in keys:
            self.xdotool("key", "--delay", "60", k)
            time.sleep(0.25)

    def click(self, x, y):
        """Clicks at window coordinates."""
        self.xdotool("mousemove", "--window", self.window, x, y)
        time.sleep(0.1)
        self.xdotool("click", "1")
        time.sleep(0.3)

    def close_window(self):
        """Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW)."""
        _send_delete_window(self.xserver.display, int(self.window))

    def screenshot(self, name):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        path = os.path.join(SCREENSHOTS, name + ".png")
        env = dict(os.environ, DISPLAY=self.xserver.display)
        subprocess.run(["import", "-window", "root", path], env=env, check=True, timeout=60,
                       capture_output=True)
        return path

    def pixel(self, x, y):
        """The colour at screen coordinates as '#rrggbb'."""
        env = dict(os.environ, DISPLAY=self.xserver.display)
        out = subprocess.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8",
                              "txt:-"], env=env, check=True, timeout=60, capture_output=True,
                             text=True).stdout
        return out.split()[-2].lower() if "#" in out else ""

    # -- reading the screen --------------------------------------------------
    def _shown(self, x, y, width, height):
        """The named objects of the accessibility tree whose centre lies in a region of the
        screen, top to bottom and left to right (a line is 8 px high)."""
        found = []
        for obj in self.reader.showing():
            if obj["role"] in CONTAINERS:
                continue
            left, top, w, h = obj["rect"]
            cx, cy = left + w // 2, top + h // 2
            if x <= cx < x + width and y <= cy < y + height:
                found.append(((cy // 8, cx), obj))
        return [obj for _, obj in sorted(found, key=lambda pair: pair[0])]

    def read_text(self, x, y, width, height):
        """The names and texts the accessibility tree shows in a region of the screen, as one
        line."""
        words = []
        for obj in self._shown(x, y, width, height):
            words.extend(t for t in (obj["name"], obj.get("text", "")) if t and t not in words)
        return " ".join(" ".join(words).split())

    def find_text(self, word, x=0, y=0, width=None, height=None):
        """Screen coordinates of the centre of the first object in a region (the whole screen by
        default) that is named `word`, shows it as its text or has it as a word of its name;
        or None."""
        if width is None or height is None:
            size = self.xdotool("getdisplaygeometry").split()
            width, height = int(size[0]) - x, int(size[1]) - y
        for exact in (True, False):
            for obj in self._shown(x, y, width, height):
                text = obj.get("text", "")
                if (word in (obj["name"], text) if exact
                        else word in obj["name"].split() + text.split()):
                    left, top, w, h = obj["rect"]
                    return left + w // 2, top + h // 2
        return None

    def click_text(self, word, x=0, y=0, width=None, height=None, timeout=10):
        """Clicks the first object showing `word` in a region, waiting for it to appear."""
        where = wait_until(lambda: self.find_text(word, x, y, width, height), timeout=timeout,
                           interval=0.3, message=f"{word!r} not found on the screen")
        self.xdotool("mousemove", *where)
        time.sleep(0.1)
        self.xdotool("click", "1")
        time.sleep(0.3)
        return where


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


def _send_delete_window(display_name, window):
    """Sends WM_PROTOCOLS/WM_DELETE_WINDOW to a window through libX11 (Xvfb runs no window manager)."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise RuntimeError("cannot open display " + display_name)
    event = _XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


# A wait's timeout only tells a hang from a change still to come; none of them measures speed.
# Every wait may take PATIENCE times as long as asked: on a machine whose disk is busy with other
# work (a build beside the tests), one commit of the program can take seconds, and a program
# that waits for its disk answers its screen reader nothing meanwhile. A passing test waits no
# longer for it.
PATIENCE = 3


def wait_until(predicate, timeout=10, interval=0.2, message="condition not met"):
    deadline = time.time() + timeout * PATIENCE
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    raise AssertionError(message)


class AppTestCase(unittest.TestCase):
    """Gives each test a private home and tidies up the processes it started."""

    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.close)
        bus = SessionBus()
        self.addCleanup(bus.close)
        self.home.bus_address = bus.address

    def start_app(self, xserver=None, platform="xcb", extra_env=None, program=APP, arguments=()):
        app = App(self.home, xserver, platform, extra_env, program, arguments)
        self.addCleanup(app.close)
        return app

    def start_window(self, width=1600, height=1000, extra_env=None):
        """Starts the program in an X server of its own and waits for its window."""
        xserver = XServer(width, height)
        self.addCleanup(xserver.close)
        app = self.start_app(xserver, extra_env=extra_env)
        app.wait_window()
        return app
