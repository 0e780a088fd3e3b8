"""Finds, reads and presses the program's controls through its accessibility tree (AT-SPI), as
a screen reader does, and records what the program announces.

pyatspi belongs to Debian's own interpreter and binds a process to one accessibility bus for its
whole life, so each test talks to a reader process of its own: this file, run by /usr/bin/python3
on the test's session bus, answers one JSON request per line on its standard input.
"""
import json
import os
import subprocess
import sys
import time

SYSTEM_PYTHON = "/usr/bin/python3"
# Events a screen reader speaks without the user moving there: something that appears, a name
# that changes, the focus that moves, and (Qt 6.8 and later) an explicit announcement.
EVENTS = ("object:state-changed:showing", "object:state-changed:focused",
          "object:state-changed:selected", "object:property-change:accessible-name",
          "object:announcement")


class ScreenReader:
    """The accessibility bus of a private session bus, and a reader process attached to it.

    `env` is the environment the program runs with; `app_env()` adds what makes Qt publish its
    tree there. The session bus starts at-spi-bus-launcher on the first request for the
    accessibility bus's address and ends it when it ends itself."""

    def __init__(self, env):
        self.env = dict(env)
        # The launcher keeps its socket in XDG_RUNTIME_DIR, named after DISPLAY: it must have the
        # test's own, not those of the bus's starter, which tests running side by side share.
        subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                        "/org/freedesktop/DBus",
                        "org.freedesktop.DBus.UpdateActivationEnvironment",
                        "dict:string:string:DISPLAY,%s,XDG_RUNTIME_DIR,%s"
                        % (self.env["DISPLAY"], self.env["XDG_RUNTIME_DIR"])],
                       env=self.env, check=True, capture_output=True, timeout=10)
        deadline = time.time() + 15
        while time.time() < deadline:
            found = subprocess.run(["dbus-send", "--session", "--print-reply",
                                    "--dest=org.a11y.Bus", "/org/a11y/bus",
                                    "org.a11y.Bus.GetAddress"],
                                   env=self.env, capture_output=True, text=True, timeout=10)
            if found.returncode == 0:
                break
            time.sleep(0.1)
        else:
            raise AssertionError("the accessibility bus did not start")
        # A busy accessibility bus can turn the first registration away, which ends the reader.
        for attempt in range(3):
            self.proc = subprocess.Popen([SYSTEM_PYTHON, os.path.abspath(__file__)], env=self.env,
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            try:
                self.events()
                break
            except (BrokenPipeError, ValueError):
                self.proc.wait(10)
                self.proc.stdin.close()
                self.proc.stdout.close()
        else:
            raise AssertionError("the reader could not register on the accessibility bus")

    @staticmethod
    def app_env():
        return {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1"}

    def _ask(self, request, **arguments):
        self.proc.stdin.write(json.dumps(dict(arguments, request=request)) + "\n")
        self.proc.stdin.flush()
        answer = json.loads(self.proc.stdout.readline())
        if "error" in answer:
            raise AssertionError(answer["error"])
        return answer["result"]

    # Every object is a dict: id, role, name, description, states, text (for text interfaces),
    # rect (x, y, width, height on the screen).
    def find(self, role, name=None):
        """The first showing object in tree order with this role (and name, when given), or
        None."""
        return self._ask("find", role=role, name=name)

    def wait(self, role, name=None, timeout=30):
        """Waits for a showing object; the timeout is only there to end a hang (harness's
        PATIENCE)."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.find(role, name)
            if found:
                return found
            time.sleep(0.2)
        raise AssertionError("no showing %s named %r in:\n%s" % (role, name, self.dump()))

    def press(self, obj, action="Press"):
        """Performs the object's action of this name (its first action when it has none of that
        name), as a screen reader does."""
        return self._ask("action", id=obj["id"], name=action)

    def focused(self):
        """The object holding the keyboard focus, or None."""
        return self._ask("focused")

    def rows(self, table):
        """The texts of the showing cells of a table, row by row as they are laid out."""
        return self._ask("rows", id=table["id"])

    def events(self):
        """Events recorded since the last call, oldest first: type, role, name, detail1."""
        return self._ask("events")

    def showing(self):
        """Every showing object that has a name or a text, in tree order."""
        return self._ask("showing")

    def controls(self, roles, within):
        """Every showing object below `within` with one of these roles, named or not, in tree
        order, except the parts of a combo box (it is one control); each also tells the names of
        its actions ("actions")."""
        return self._ask("controls", roles=list(roles), id=within["id"])

    def dump(self):
        """The showing tree as indented "role: name" lines, for failure messages."""
        return self._ask("dump")

    def close(self):
        """Ends the reader; one stuck in a call to a bus or display that has gone is killed."""
        self.proc.stdin.close()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()


# -- the reader process -------------------------------------------------------------------------
def _serve():
    import pyatspi
    from gi.repository import GLib

    objects = []
    recorded = []

    # Newer accessibility libraries call a push button "button": name roles by pyatspi's own
    # table so that the tests read the same on every version.
    def role_of(acc):
        return pyatspi.role.ROLE_NAMES.get(acc.getRole(), acc.getRoleName())

    def describe(acc):
        objects.append(acc)
        states = acc.getState()
        info = {"id": len(objects) - 1, "role": role_of(acc), "name": acc.name or "",
                "description": acc.description or "",
                "states": sorted(pyatspi.stateToString(s) for s in states.getStates())}
        try:
            text = acc.queryText()
            info["text"] = text.getText(0, text.characterCount)
        except NotImplementedError:
            pass
        try:
            box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            info["rect"] = [box.x, box.y, box.width, box.height]
        except NotImplementedError:
            info["rect"] = [0, 0, 0, 0]
        return info

    def showing(acc):
        return acc.getState().contains(pyatspi.STATE_SHOWING)

    def walk(root):
        """Every showing object below root (the desktop when None) in tree order."""
        stack = [root] if root is not None else list(reversed(list(pyatspi.Registry.getDesktop(0))))
        while stack:
            acc = stack.pop()
            if acc is None:
                continue
            # An object can go between being listed and being read (a window still building
            # its page): it is skipped, as a reader passes over what is no longer there.
            try:
                if role_of(acc) != "application" and not showing(acc):
                    continue
                children = [c for c in acc if c is not None]
            except GLib.Error:
                continue
            yield acc
            stack.extend(reversed(children))

    def handle(request):
        kind = request["request"]
        if kind == "find":
            role, name = request["role"], request["name"]
            for acc in walk(None):
                try:
                    if role_of(acc) == role and name in (None, acc.name):
                        return describe(acc)
                except GLib.Error:
                    continue
            return None
        if kind == "action":
            action = objects[request["id"]].queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            if not names:
                return False
            return action.doAction(names.index(request["name"]) if request["name"] in names
                                   else 0)
        if kind == "focused":
            # Qt marks the window's root pane focused too: the deepest focused object wins.
            focused = [a for a in walk(None) if a.getState().contains(pyatspi.STATE_FOCUSED)]
            return describe(focused[-1]) if focused else None
        if kind == "rows":
            cells = [describe(a) for a in walk(objects[request["id"]])
                     if role_of(a) == "table cell"]
            rows = {}
            for cell in cells:
                rows.setdefault(cell["rect"][1], []).append(cell)
            return [[c["name"] for c in sorted(row, key=lambda c: c["rect"][0])]
                    for _, row in sorted(rows.items())]
        if kind == "showing":
            try:
                found = [describe(a) for a in walk(None) if role_of(a) != "application"]
            except GLib.Error:
                return []
            return [o for o in found if o["name"] or o.get("text")]
        if kind == "controls":
            found = []
            for n, acc in enumerate(walk(objects[request["id"]])):
                if (n > 0 and role_of(acc) in request["roles"]
                        and role_of(acc.parent) != "combo box"):
                    info = describe(acc)
                    try:
                        action = acc.queryAction()
                        info["actions"] = [action.getName(i) for i in range(action.nActions)]
                    except NotImplementedError:
                        info["actions"] = []
                    found.append(info)
            return found
        if kind == "events":
            taken = list(recorded)
            recorded.clear()
            return taken
        if kind == "dump":
            lines = []
            for acc in walk(None):
                depth, parent = 0, acc.parent
                while parent is not None and depth < 40:
                    depth, parent = depth + 1, parent.parent
                lines.append("  " * depth + "%s: %s" % (role_of(acc), acc.name))
            return "\n".join(lines)
        raise ValueError("unknown request " + kind)

    def on_event(event):
        try:
            recorded.append({"type": event.type, "role": role_of(event.source),
                             "name": event.source.name or "", "detail1": event.detail1})
        except Exception:  # the source may be gone by now
            pass

    for event_type in EVENTS:
        pyatspi.Registry.registerEventListener(on_event, event_type)
    # Registered (which may take a while on a busy machine), a program busy for a moment
    # (waiting for a locked database, say) answers nothing; a reading then fails soon and the
    # test reads again, as it would a screen not yet redrawn.
    pyatspi.setTimeout(3000, 15000)

    loop = GLib.MainLoop()

    def on_input(channel, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        try:
            answer = {"result": handle(json.loads(line))}
        except Exception as e:  # reported to the test, which fails with it
            answer = {"error": "%s: %s" % (type(e).__name__, e)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()
        return True

    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IO_IN | GLib.IO_HUP, on_input)
    loop.run()


if __name__ == "__main__":
    _serve()
